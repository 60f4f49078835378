// POSIX types behind the platform layer. A path may have as many bytes as the system
// takes (PATH_MAX, with its terminator); the Windows builds keep MAX_PATH.
#ifndef KAVO_PLATFORM_TYPES_H
#define KAVO_PLATFORM_TYPES_H

#include <limits.h>

#ifndef MAX_PATH
#define MAX_PATH PATH_MAX
#endif

typedef int PlatformFile;
typedef void *PlatformWindow;

#endif
