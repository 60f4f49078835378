// The probe's hook procedure. It runs inside Kavo.exe, so it can use that process's
// menu and icon handles, which cannot be used from the driver's process.
#include "probe.h"

namespace {

const int PROGRAM_ICON_ID = 102;  // IDI_MAIN

DWORD ItemState(HMENU menu, UINT command) {
    UINT state = GetMenuState(menu, command, MF_BYCOMMAND);
    return state == 0xFFFFFFFFu ? PROBE_ABSENT : state;
}

LONG MessageIcon(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        HICON icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        if (icon == LoadIconA(NULL, IDI_HAND)) return PROBE_ICON_ERROR;
        if (icon == LoadIconA(NULL, IDI_ASTERISK)) return PROBE_ICON_INFORMATION;
        return PROBE_ICON_OTHER;
    }
    return PROBE_ICON_NONE;
}

void ReadClass(HWND window, ProbeResult *result) {
    result->classStyle = GetClassLongA(window, GCL_STYLE);
    result->classExtra = static_cast<int>(GetClassLongA(window, GCL_CBCLSEXTRA));
    result->windowExtra = static_cast<int>(GetClassLongA(window, GCL_CBWNDEXTRA));
    result->background = static_cast<LONG_PTR>(GetClassLongA(window, GCL_HBRBACKGROUND));
    HCURSOR cursor = reinterpret_cast<HCURSOR>(GetClassLongA(window, GCL_HCURSOR));
    result->arrowCursor = cursor == LoadCursorA(NULL, IDC_ARROW);
    HICON icon = reinterpret_cast<HICON>(GetClassLongA(window, GCL_HICON));
    result->programIcon =
        icon != NULL && icon == LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(PROGRAM_ICON_ID));
    ICONINFO info;
    if (icon && GetIconInfo(icon, &info)) {
        BITMAP colour;
        if (info.hbmColor && GetObjectA(info.hbmColor, sizeof colour, &colour)) {
            result->iconWidth = colour.bmWidth;
            result->iconHeight = colour.bmHeight;
        }
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
    }
}

void Answer(HWND window, LONG query) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, PROBE_RESULT_MAPPING);
    if (!mapping) return;
    void *view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ProbeResult));
    if (view) {
        ProbeResult *result = static_cast<ProbeResult *>(view);
        result->query = query;
        if (query == PROBE_SYSTEM_MENU) {
            HMENU menu = GetSystemMenu(window, FALSE);
            result->restore = ItemState(menu, SC_RESTORE);
            result->minimize = ItemState(menu, SC_MINIMIZE);
            result->maximize = ItemState(menu, SC_MAXIMIZE);
            result->size = ItemState(menu, SC_SIZE);
            result->move = ItemState(menu, SC_MOVE);
            result->close = ItemState(menu, SC_CLOSE);
        } else if (query == PROBE_MESSAGE_ICON) {
            result->icon = MessageIcon(window);
        } else if (query == PROBE_CLASS) {
            ReadClass(window, result);
        } else if (query == PROBE_FOCUS) {
            result->focus = GetFocus();
        }
        InterlockedIncrement(&result->serial);
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
}

}  // namespace

extern "C" LRESULT CALLBACK ProbeHook(int code, WPARAM wParam, LPARAM lParam) {
    static UINT queryMessage = RegisterWindowMessageA(PROBE_QUERY_MESSAGE);
    if (code == HC_ACTION) {
        const CWPSTRUCT *call = reinterpret_cast<const CWPSTRUCT *>(lParam);
        if (call->message == queryMessage) Answer(call->hwnd, static_cast<LONG>(call->wParam));
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}
