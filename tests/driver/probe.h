// The probe: a hook DLL that the driver installs on Kavo's dialog thread to read what
// only that process can see (menus, icons, focus, class fields). Queries go as a
// registered message to a window of that thread; answers come back in a named mapping.
#ifndef KAVO_PROBE_H
#define KAVO_PROBE_H

#include <windows.h>

#define PROBE_QUERY_MESSAGE "KavoProbeQuery"
#define PROBE_RESULT_MAPPING "KavoProbeResult"

enum ProbeQuery {
    PROBE_SYSTEM_MENU = 1,  // of the window queried
    PROBE_MESSAGE_ICON,     // of the message box queried
    PROBE_CLASS,            // of the window queried
    PROBE_FOCUS,
};

enum ProbeIcon { PROBE_ICON_NONE, PROBE_ICON_ERROR, PROBE_ICON_INFORMATION, PROBE_ICON_OTHER };

// GetMenuState of each item by command, or PROBE_ABSENT when the menu has no such item.
#define PROBE_ABSENT 0xFFFFFFFFu

struct ProbeResult {
    LONG serial;  // bumped by the probe after each answer
    LONG query;
    DWORD restore, minimize, maximize, size, move, close;  // PROBE_SYSTEM_MENU
    LONG icon;                                              // PROBE_MESSAGE_ICON
    UINT classStyle;                                        // PROBE_CLASS
    int classExtra, windowExtra;
    LONG_PTR background;
    int arrowCursor, programIcon, iconWidth, iconHeight;
    HWND focus;  // PROBE_FOCUS
};

#ifdef KAVO_PROBE_BUILD
#define KAVO_PROBE_API __declspec(dllexport)
#else
#define KAVO_PROBE_API __declspec(dllimport)
#endif

extern "C" KAVO_PROBE_API LRESULT CALLBACK ProbeHook(int code, WPARAM wParam, LPARAM lParam);

#endif
