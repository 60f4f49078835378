// The main dialog's window procedure. The dialog is a window of the registered class
// "Kavo", so every message comes here first, and what is not handled goes to
// DefWindowProcA (not to the dialog manager's default dialog procedure).
#include "main_dialog.h"

#include <commdlg.h>
#include <stddef.h>

#include "convert_file.h"
#include "program_state.h"
#include "resource.h"
#include "window_utils.h"

namespace {

// The pickers' record as it was before its extension fields were added: 76 bytes.
const DWORD PICKER_RECORD_SIZE = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(PICKER_RECORD_SIZE == 76, "picker record size");

const char PICKER_FILTER[] = "すべてのファイル(*.*)\0*.*\0";  // the literal adds the final NUL
const char OPEN_TITLE[] = "ファイルを開く";
const char SAVE_TITLE[] = "ファイルを保存";
const DWORD OPEN_FLAGS = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
const DWORD SAVE_FLAGS = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;

// Runs the Open or Save picker on file (MAX_PATH + 1 bytes, holding the name to start
// with). Returns nonzero when the user confirmed a file, whose full path is then in file.
int RunPicker(HWND window, char *file, const char *title, DWORD flags, int save) {
    OPENFILENAMEA picker;
    ZeroMemory(&picker, sizeof picker);
    picker.lStructSize = PICKER_RECORD_SIZE;
    picker.hwndOwner = window;
    picker.hInstance = reinterpret_cast<HINSTANCE>(GetWindowLongA(window, GWL_HINSTANCE));
    picker.lpstrFilter = PICKER_FILTER;
    picker.nFilterIndex = 0;
    picker.lpstrFile = file;
    picker.nMaxFile = MAX_PATH;
    picker.lpstrFileTitle = NULL;
    picker.nMaxFileTitle = MAX_PATH;
    picker.lpstrTitle = title;
    picker.Flags = flags;
    return save ? GetSaveFileNameA(&picker) : GetOpenFileNameA(&picker);
}

// The system menu's Minimize and Restore items follow the commands, not the window state.
void OnSysCommand(HWND window, WPARAM command) {
    if (command != SC_MINIMIZE && command != SC_RESTORE) return;
    HMENU menu = GetSystemMenu(window, FALSE);
    UINT minimize = command == SC_MINIMIZE ? MF_GRAYED : MF_ENABLED;
    UINT restore = command == SC_MINIMIZE ? MF_ENABLED : MF_GRAYED;
    EnableMenuItem(menu, SC_MINIMIZE, MF_BYCOMMAND | minimize);
    EnableMenuItem(menu, SC_RESTORE, MF_BYCOMMAND | restore);
}

// The dialog loop moves the focus (Tab, Shift+Tab, the mnemonic of a label) by sending
// WM_NEXTDLGCTL to the dialog. DefWindowProcA ignores it, so without this the keyboard
// could never leave the first box. lParam set: wParam is the control to go to; otherwise
// the next (wParam 0) or previous tab stop from the focus.
void OnNextDlgCtl(HWND window, WPARAM wParam, LPARAM lParam) {
    HWND next = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                               : GetNextDlgTabItem(window, GetFocus(), wParam != 0);
    if (!next) return;
    SetFocus(next);
    if (SendMessageA(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageA(next, EM_SETSEL, 0, -1);
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window);
    case WM_COMMAND:
        return OnCommand(window, LOWORD(wParam), reinterpret_cast<HWND>(lParam), HIWORD(wParam));
    case WM_SYSCOMMAND:
        // The low four bits are the system's own; the command is in the rest.
        OnSysCommand(window, wParam & 0xFFF0);
        break;
    case WM_NEXTDLGCTL:
        OnNextDlgCtl(window, wParam, lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int OnInitDialog(HWND window) {
    if (!CenterWindow(window, NULL)) return 0;
    CheckRadioButton(window, IDC_SJIS_TO_EUC, IDC_EUC_TO_SJIS, IDC_SJIS_TO_EUC);
    HMENU menu = GetSystemMenu(window, FALSE);
    DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
    EnableMenuItem(menu, SC_RESTORE, MF_BYCOMMAND | MF_GRAYED);
    return 1;
}

int OnCommand(HWND window, int controlId, HWND, int) {
    char picked[MAX_PATH + 1];
    char source[MAX_PATH + 1];
    char dest[MAX_PATH + 1];
    picked[0] = '\0';
    source[0] = '\0';
    dest[0] = '\0';

    switch (controlId) {
    case IDOK:
        // A longer text is cut to its first MAX_PATH - 1 bytes, as the box hands it over.
        GetDlgItemTextA(window, IDC_SOURCE_EDIT, source, MAX_PATH);
        GetDlgItemTextA(window, IDC_DEST_EDIT, dest, MAX_PATH);
        ConvertFile(window, source, dest);
        break;
    case IDCANCEL:
        EndDialog(window, IDCANCEL);
        break;
    case IDC_SOURCE_BROWSE:
        // The destination defaults to the source itself: a conversion in place.
        if (RunPicker(window, picked, OPEN_TITLE, OPEN_FLAGS, 0)) {
            SetDlgItemTextA(window, IDC_SOURCE_EDIT, picked);
            SetDlgItemTextA(window, IDC_DEST_EDIT, picked);
        }
        break;
    case IDC_DEST_BROWSE:
        GetDlgItemTextA(window, IDC_SOURCE_EDIT, source, MAX_PATH);
        // Proposes the source's name; when there is none to give, the picker starts empty.
        GetFileTitleA(source, picked, MAX_PATH);
        picked[MAX_PATH] = '\0';
        if (RunPicker(window, picked, SAVE_TITLE, SAVE_FLAGS, 1))
            SetDlgItemTextA(window, IDC_DEST_EDIT, picked);
        break;
    case IDC_SJIS_TO_EUC:
        ProgramState.direction = SjisToEuc;
        break;
    case IDC_EUC_TO_SJIS:
        ProgramState.direction = EucToSjis;
        break;
    case IDC_CONVERT_NEWLINES:
        // Flipped on each click; the box's own check mark is never read.
        ProgramState.convertNewlines = ProgramState.convertNewlines == 0 ? 1 : 0;
        break;
    case IDC_HELP_BUTTON:
        WinHelpA(window, ProgramState.helpPath, HELP_CONTENTS, 0);
        break;
    }
    return 1;
}
