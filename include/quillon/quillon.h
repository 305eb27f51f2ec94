/* libquillon: C interface. Includable from C and C++. */
#ifndef QUILLON_QUILLON_H
#define QUILLON_QUILLON_H

#include <stdint.h>

#if defined(__GNUC__)
#define QUILLON_EXPORT __attribute__((visibility("default")))
#else
#define QUILLON_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Version constants. */
QUILLON_EXPORT extern const double QuillonVersionNumber;
QUILLON_EXPORT extern const unsigned char QuillonVersionString[];

/* Runs the library's main run loop on the calling (main) thread for `seconds` seconds;
 * a negative value runs it until the process ends. A program without an event loop of its
 * own calls this from its main thread (for example at the end of main, or periodically).
 *
 * A host with its own event loop (Qt, GTK, SDL, libuv...) instead watches the descriptor of
 * QNMainLoopFileDescriptor() for readability and calls QNMainLoopRunPending() on its main
 * thread when it is readable (GTK: g_unix_fd_add; Qt: QSocketNotifier; SDL/poll loops: add
 * it to the poll set). */
QUILLON_EXPORT void QNRunMainLoopFor(double seconds);
QUILLON_EXPORT int QNMainLoopFileDescriptor(void);
QUILLON_EXPORT void QNMainLoopRunPending(void);

#ifdef __cplusplus
}
#endif

#endif /* QUILLON_QUILLON_H */
