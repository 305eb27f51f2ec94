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

/* Initialisation flags of quillonInitWithConfig: one bit per setting, lowest first. The other
 * bits carry nothing. alertBtnCloseShakeFeedback cannot be set here and stays off. */
typedef uint32_t QuillonInitFlags;
#define QUILLON_INIT_MONITOR_EXCEPTION ((QuillonInitFlags)1u << 0)
#define QUILLON_INIT_SHAKE_FEEDBACK ((QuillonInitFlags)1u << 1)
#define QUILLON_INIT_USE_LOCATION_INFO ((QuillonInitFlags)1u << 2)
#define QUILLON_INIT_REPORT_ONLY_WIFI ((QuillonInitFlags)1u << 3)
#define QUILLON_INIT_PRINT_LOG_FOR_DEBUG ((QuillonInitFlags)1u << 4)

/* Every string is a NUL-terminated UTF-8 string; a null pointer stands for "no value"
 * (for the channel: no channel). */

/* quillonInitWithConfig with flags 5: monitor exceptions and use location information
 * (reportOnlyWIFI off, unlike the C++ default configuration). */
QUILLON_EXPORT void quillonInit(const char* appKey, const char* channel);
/* Starts the library with a default configuration whose five settings are taken from the
 * five bits of `flags`. Call once, early, on the main thread. */
QUILLON_EXPORT void quillonInitWithConfig(const char* appKey, const char* channel, QuillonInitFlags flags);
/* A free-form user identifier sent with later reports (also given to the feedback side). */
QUILLON_EXPORT void quillonSetUserInfo(const char* userInfo);
/* Records one breadcrumb (shorter than 200 characters); crash reports carry the last 100. */
QUILLON_EXPORT void quillonLeaveBreadcrumb(const char* breadcrumb);
/* Reports a caught error of an embedded runtime: type 1 C++, 3 Lua, 4 JavaScript, 5 C#
 * (other types are ignored), a message and the runtime's stack-trace text. Identical reports
 * are pooled and counted, and the pool is sent in batches. */
QUILLON_EXPORT void quillonReportException(int32_t type, const char* message, const char* stackTrace);

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
