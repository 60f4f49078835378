// POSIX types behind the platform layer. Paths keep the Windows program's limit so that
// the engine's fixed buffers are the same size on every platform.
#ifndef KAVO_PLATFORM_TYPES_H
#define KAVO_PLATFORM_TYPES_H

#ifndef MAX_PATH
#define MAX_PATH 260
#endif

typedef int PlatformFile;
typedef void *PlatformWindow;

#endif
