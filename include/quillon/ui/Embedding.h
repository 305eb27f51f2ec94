/* Embedding the feedback screens in a window of another toolkit (GTK, Qt, SDL...).
 *
 * A host adapter starts the "embedded" screen back end: the toolkit then draws its screen
 * (the feedback alert, the edit screen, the "sent" prompt) into a Cairo ARGB32 picture of the
 * host window's size and scale and tells the adapter when to show it; the adapter shows that
 * picture in a window of its own toolkit over the host's and hands it the window's pointer,
 * touch and keyboard input. The adapter also supplies the screenshot of the host window
 * (only it knows those pixels), passes its own triggers (a key chord, a three-finger swipe)
 * and records the host's taps and screen changes in the operation trace.
 *
 * Every function runs on the thread that runs the library's main run loop (the host's main
 * thread, the loop driven through QNMainLoopFileDescriptor / QNMainLoopRunPending). Coordinates
 * are points of the embedded screen, (0, 0) at its top left. The toolkit never reaches into
 * the host's widgets, and the host never into the toolkit's views. */
#ifndef QUILLON_UI_EMBEDDING_H
#define QUILLON_UI_EMBEDDING_H

#include "quillon/ui/Export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The toolkit's picture or a host screenshot: Cairo ARGB32 pixels (premultiplied, native
 * byte order), `stride` bytes a row; `scale` pixels a point. */
typedef struct QNEmbedPicture {
    const unsigned char* pixels;
    int width;
    int height;
    int stride;
    double scale;
} QNEmbedPicture;

/* What the host does for the toolkit. Every member may be null. */
typedef struct QNEmbedHost {
    void* user;
    /* The screen drew a new picture: read it with quillon_embed_picture and show it. */
    void (*needs_display)(void* user);
    /* The feedback screens came up (1: show the adapter's window over the host's) or are all
     * gone (0: hide it). */
    void (*screens_shown)(void* user, int shown);
    /* The host window's content as the user sees it, without decorations: the host calls
     * quillon_embed_supply_screenshot from inside this call. Used for the feedback screenshot
     * and as the backdrop the screens are drawn over. */
    void (*take_screenshot)(void* user);
} QNEmbedHost;

/* Makes the embedded back end the screen's (replacing the headless or SDL one) for a host
 * window of `width` x `height` points at `scale`. The host structure is copied. Returns 1, or
 * 0 when the arguments are unusable (nothing changes then). */
QUILLON_UI_EXPORT int quillon_embed_start(const QNEmbedHost* host, double width, double height, double scale);
/* The host window changed size or scale. */
QUILLON_UI_EXPORT void quillon_embed_set_screen(double width, double height, double scale);
/* The figures of the monitor the host window is on (the device record's screen). */
QUILLON_UI_EXPORT void quillon_embed_set_device_screen(double width, double height, double scale);
/* The last picture drawn; valid until the main run loop runs again. 0 before the first. */
QUILLON_UI_EXPORT int quillon_embed_picture(QNEmbedPicture* picture);
/* Whether the feedback screens are up (the host's own input and trace are then paused). */
QUILLON_UI_EXPORT int quillon_embed_screens_shown(void);

/* Called by the host from inside take_screenshot; the pixels are copied. */
QUILLON_UI_EXPORT void quillon_embed_supply_screenshot(const QNEmbedPicture* picture);

/* Input for the screens: one finger (a mouse button or a touch point, `finger` tells touches
 * apart), text typed or committed by an input method (UTF-8), and keys. */
enum { QN_EMBED_TOUCH_BEGAN = 0, QN_EMBED_TOUCH_MOVED = 1, QN_EMBED_TOUCH_ENDED = 3 };
enum { QN_EMBED_KEY_RETURN = 1, QN_EMBED_KEY_BACKSPACE = 2 };
QUILLON_UI_EXPORT void quillon_embed_touch(int phase, int finger, double x, double y);
QUILLON_UI_EXPORT void quillon_embed_text(const char* utf8);
QUILLON_UI_EXPORT void quillon_embed_key(int key);
/* The user closed the adapter's window: the alert's cancel button, or the edit screen's Back. */
QUILLON_UI_EXPORT void quillon_embed_back(void);

/* Triggers. A shake is one accelerometer sample of 3 g (what the key chord Ctrl+Shift+Z
 * stands for); a swipe is a three-finger swipe (direction 4 up, 8 down, 1 right, 2 left).
 * Both go through the feedback flow's own triggers, so they open the alert only when the
 * way of feedback and the flow's state allow it. */
enum { QN_EMBED_SWIPE_RIGHT = 1, QN_EMBED_SWIPE_LEFT = 2, QN_EMBED_SWIPE_UP = 4, QN_EMBED_SWIPE_DOWN = 8 };
QUILLON_UI_EXPORT void quillon_embed_shake(void);
QUILLON_UI_EXPORT void quillon_embed_swipe(int direction);

/* The operation trace, in the entries the toolkit's own screens make: a tap on a widget of
 * type `type_name` ("tap:GtkButton"), a screen (a page's name or type) appearing or
 * disappearing ("viewWillAppear:settings", "viewWillDisappear:settings"). Nothing is recorded
 * while the feedback screens are up. */
QUILLON_UI_EXPORT void quillon_embed_trace_tap(const char* type_name);
QUILLON_UI_EXPORT void quillon_embed_trace_screen(const char* name, int appeared);

#ifdef __cplusplus
}
#endif

#endif /* QUILLON_UI_EMBEDDING_H */
