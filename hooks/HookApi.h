/*
 * The calling contract between the converter and a video hook module. A module is a shared
 * object that exports three C functions under the names "Configure", "Process" and "Release".
 * This header is plain C so that a module can be written in C or C++ without the engine.
 */
#ifndef ZEMBRA_HOOKS_HOOKAPI_H
#define ZEMBRA_HOOKS_HOOKAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The picture a module edits in place: up to four planes, each with its line size in bytes. */
typedef struct TZembraHookPicture {
    uint8_t* data[4];
    int linesize[4];
} TZembraHookPicture;

/* The number of entries in the argument vector handed to Configure; the vector is always this
 * long (unused entries are null), and Configure is told its highest index. */
#define ZEMBRA_HOOK_MAX_ARGS 64

/*
 * Pixel format numbers as the media library counts them. Only the formats the project's own
 * modules draw on are named; a module leaves pictures of any other format untouched. The
 * engine checks these values against the library's headers when it is built.
 */
#define ZEMBRA_HOOK_PIX_FMT_YUV420P 0
#define ZEMBRA_HOOK_PIX_FMT_RGB24 2
#define ZEMBRA_HOOK_PIX_FMT_BGR24 3
#define ZEMBRA_HOOK_PIX_FMT_YUV422P 4
#define ZEMBRA_HOOK_PIX_FMT_YUV444P 5
#define ZEMBRA_HOOK_PIX_FMT_YUV410P 6
#define ZEMBRA_HOOK_PIX_FMT_YUV411P 7
#define ZEMBRA_HOOK_PIX_FMT_YUVJ420P 12
#define ZEMBRA_HOOK_PIX_FMT_YUVJ422P 13
#define ZEMBRA_HOOK_PIX_FMT_YUVJ444P 14

/*
 * Configure: Context receives the module's own state; ArgVector[0] is the module path and
 * ArgVector[1 .. ArgCount-1] its arguments; HighIndex is the vector's highest valid index.
 * The strings stay valid until Release. Returns 0 on success.
 */
typedef int (*TZembraHookConfigure)(void** Context, int ArgCount, char* ArgVector[], int HighIndex);
/* Process: edits the picture in place. PTS is in microseconds. */
typedef void (*TZembraHookProcess)(void* Context, TZembraHookPicture* Picture, int PixelFormat, int Width,
                                   int Height, int64_t PTS);
/* Release: frees what Configure made. */
typedef void (*TZembraHookRelease)(void* Context);

#ifdef __cplusplus
}
#endif

#endif
