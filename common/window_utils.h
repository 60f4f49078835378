// Window helpers for the Windows program.
#ifndef KAVO_WINDOW_UTILS_H
#define KAVO_WINDOW_UTILS_H

#include <windows.h>

// Moves window, keeping its size, so that it is centred over reference (null: the
// desktop window), and repaints it. Each halving drops the remainder. A window larger
// than its reference keeps its top-left corner at the reference's top-left corner on that
// axis, so its caption stays reachable. Returns nonzero on success; 0 when either
// window's rectangle cannot be read or the move fails.
int CenterWindow(HWND window, HWND reference);

#endif
