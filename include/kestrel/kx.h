/* Kestrel player engine: up to 128 recordings playing at once, one per port (0..127).
 *
 * Every function but kxReleaseDirectDraw takes the port first. Actions return 1 on success and 0
 * on refusal or failure; queries return the value or 0. The reason for a 0 is left in the port's
 * error number (PortError below), read with kxGetLastError; a success does not clear it. A port
 * number outside 0..127 makes every call return 0 and stores nothing. */
#ifndef KESTREL_KX_H
#define KESTREL_KX_H

#include <stdint.h>

#include "kestrel/kx_window.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { KX_PORT_COUNT = 128 };

/* Error numbers; no other values are ever stored. */
enum PortError {
    ERR_NONE = 0,
    ERR_POSITION = 1,      /* seek outside 0.0..1.0 (or NaN), or beyond the file's frames */
    ERR_NO_MEMORY = 6,     /* a port buffer could not be allocated while opening */
    ERR_OPEN = 7,          /* the file cannot be opened, its path is too long, or the port is open */
    ERR_DIRECTDRAW = 9,    /* engine start could not create the display */
    ERR_DISPLAY = 10,      /* no primary surface or clipper, no picture surface, or engine start failed */
    ERR_NOT_OPEN = 14,     /* the call needs an open file */
    ERR_NO_SOURCE = 15,    /* snapshot on a port that never had a file */
    ERR_STATE = 16,        /* not allowed in the port's state or play mode; unsupported display depth */
    ERR_AUDIO_CODEC = 19,  /* the audio decoder could not be created while opening */
    ERR_SURFACE = 23       /* a picture was to be drawn without its surfaces */
};

/* Longest path a port keeps (characters, without the terminating zero); longer paths are refused. */
enum { KX_MAX_PATH = 259 };

/* Message posted to the window registered with kxSetFileEndMsg when playback reaches the end:
   first parameter the port, second 0. */

int32_t kxReleaseDirectDraw(void);
int32_t kxOpenFile(int32_t port, const char* path);
int32_t kxCloseFile(int32_t port);
int32_t kxPlay(int32_t port, KxWindow window);
int32_t kxPause(int32_t port);
int32_t kxStop(int32_t port);
int32_t kxPlayFast(int32_t port);
int32_t kxPlaySlow(int32_t port);
int32_t kxNext(int32_t port);
int32_t kxOpenSound(int32_t port);
int32_t kxCloseSound(int32_t port);
uint32_t kxGetPlayedTime(int32_t port);
uint32_t kxGetPlayedFrames(int32_t port);
uint32_t kxGetFileTime(int32_t port);
uint32_t kxGetFileFrames(int32_t port);
int32_t kxSnapPicture(int32_t port, const char* bmpPath);
int32_t kxSetPlayPosition(int32_t port, float position);
int32_t kxSetPlayedFrames(int32_t port, uint32_t frame);
int32_t kxRefresh(int32_t port);
int32_t kxSetFileEndMsg(int32_t port, KxWindow window, uint32_t message);

/* The port's error number (enum PortError); 0 for an invalid port. */
int32_t kxGetLastError(int32_t port);

#ifdef __cplusplus
}
#endif

#endif
