/* The window handle of the player API: an opaque, pointer-sized handle of a platform window
   object (kestrel::platform::Window), the target of drawing and of posted messages. The
   application (or a test) creates the window object and passes its handle. */
#ifndef KESTREL_KX_WINDOW_H
#define KESTREL_KX_WINDOW_H

typedef struct KxWindowObject* KxWindow;

#endif
