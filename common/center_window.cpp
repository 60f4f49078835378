// Centring a window over another, as the main dialog does over the desktop at start.
#include "window_utils.h"

int CenterWindow(HWND window, HWND reference) {
    if (reference == NULL) reference = GetDesktopWindow();
    RECT outer;
    RECT inner;
    // Unread rectangles would place the window at random; report the failure instead.
    if (!GetWindowRect(reference, &outer) || !GetWindowRect(window, &inner)) return 0;
    int width = inner.right - inner.left;
    int height = inner.bottom - inner.top;
    int left = outer.left + (outer.right - outer.left - width) / 2;
    int top = outer.top + (outer.bottom - outer.top - height) / 2;
    // Only a window larger than its reference lands before the reference's corner; pin it
    // there so that its caption is not pushed off the screen.
    if (left < outer.left) left = outer.left;
    if (top < outer.top) top = outer.top;
    return MoveWindow(window, left, top, width, height, TRUE) != 0;
}
