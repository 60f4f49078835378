// The main dialog: the window procedure of the class "Kavo" and its handlers.
#ifndef KAVO_MAIN_DIALOG_H
#define KAVO_MAIN_DIALOG_H

#include <windows.h>

// The class's window procedure, also handed to the dialog box call as its dialog
// procedure. Besides the commands it moves the focus when the dialog loop asks
// (WM_NEXTDLGCTL); messages it does not handle go to DefWindowProcA.
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Centres the dialog, selects the first direction and trims the system menu. Returns 1
// when done, so that the focus goes to the first tab stop; 0, having done nothing more,
// when the dialog cannot be centred.
int OnInitDialog(HWND window);

// Carries out the command of a control. control and notifyCode are not examined.
// Returns 1.
int OnCommand(HWND window, int controlId, HWND control, int notifyCode);

#endif
