// Start-up: register the dialog's window class, note where the program lives, and run the
// main dialog until the user ends it. Its result is the process's exit status.
#include <windows.h>

#include <string.h>

#include "main_dialog.h"
#include "path_utils.h"
#include "program_state.h"
#include "resource.h"

namespace {

const char CLASS_NAME[] = "Kavo";
const char HELP_FILE_NAME[] = "Kavo.hlp";

// programDir followed by the help file's name, or the empty string when that would not
// fit in MAX_PATH bytes with its terminator.
void BuildHelpPath(void) {
    strcpy(ProgramState.helpPath, ProgramState.programDir);  // both fields are MAX_PATH + 1 bytes
    if (!AppendPath(ProgramState.helpPath, HELP_FILE_NAME)) ProgramState.helpPath[0] = '\0';
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;  // the dialog manager's own data in each dialog
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1));
    windowClass.lpszMenuName = NULL;
    windowClass.lpszClassName = CLASS_NAME;
    if (!RegisterClassA(&windowClass)) return 0;

    // Empty when unknown; the help and temporary files are then taken from the current
    // directory.
    GetModuleDir(ProgramState.programDir);
    BuildHelpPath();

    // The template names the class, so its messages all go to MainWndProc and this
    // procedure is never called through the dialog manager; it is passed only because the
    // dialog manager sends WM_INITDIALOG when the argument is not null. Window and dialog
    // procedures have the same parameters but differently named result types (LRESULT,
    // INT_PTR), hence the one cast.
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), NULL,
                           reinterpret_cast<DLGPROC>(MainWndProc), 0);
}
