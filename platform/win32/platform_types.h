// Win32 types behind the platform layer.
#ifndef KAVO_PLATFORM_TYPES_H
#define KAVO_PLATFORM_TYPES_H

#include <windows.h>

typedef HANDLE PlatformFile;
typedef HWND PlatformWindow;

#endif
