// Drives the real Kavo.exe under Wine (or Windows) as a user would: starts it, finds its
// dialog by class, clicks and types through window messages, answers its pickers and
// message boxes, and checks files byte for byte and the exit status. Every wait is
// bounded. Usage (a Unix path is taken as Z:\...):
//   kavo_driver <path of Kavo.exe>        every scenario, on a copy of Kavo.exe and of the
//                                         Kavo.hlp beside it, in a folder of odd names
//   kavo_driver <path of Kavo.exe> help   the help button only, on Kavo.exe where it lies
#include <windows.h>

#include <commctrl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "probe.h"
#include "resource.h"
#include "win32_tree.h"

namespace {

const DWORD TIMEOUT_MS = 5000;
// The first start in a new Wine prefix builds font caches and can take several seconds.
const DWORD START_TIMEOUT_MS = 30000;

int passed;
int failed;

std::string Utf8(const std::wstring &text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, NULL, NULL);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

void Report(bool ok, int line, const char *what, const char *format, ...) {
    if (ok) {
        ++passed;
        return;
    }
    ++failed;
    printf("FAIL line %d: %s", line, what);
    if (format && *format) {
        va_list args;
        va_start(args, format);
        printf(": ");
        vprintf(format, args);
        va_end(args);
    }
    printf("\n");
    fflush(stdout);
}

#define CHECK(cond) Report((cond), __LINE__, #cond, "")
#define CHECK_MSG(cond, ...) Report((cond), __LINE__, #cond, __VA_ARGS__)
#define CHECK_TEXT(expected, actual) CheckText((expected), (actual), __LINE__, #actual)
#define CHECK_BYTES(expected, path) CheckBytes((expected), (path), __LINE__)

void CheckText(const std::wstring &expected, const std::wstring &actual, int line, const char *what) {
    Report(expected == actual, line, what, "expected \"%s\", got \"%s\"", Utf8(expected).c_str(),
           Utf8(actual).c_str());
}

template <class Condition>
bool WaitFor(Condition condition, DWORD timeout = TIMEOUT_MS) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start > timeout) return false;
        Sleep(10);
    }
}

// Files.

typedef std::vector<unsigned char> Bytes;

bool WriteBytes(const std::string &path, const Bytes &bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadBytes(const std::string &path, Bytes *bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes->clear();
    unsigned char block[4096];
    DWORD got = 0;
    BOOL ok;
    while ((ok = ReadFile(file, block, sizeof block, &got, NULL)) && got > 0) bytes->insert(bytes->end(), block, block + got);
    CloseHandle(file);
    return ok != 0;
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The names in a folder (given with its final backslash), sorted, joined by " | ".
std::string Listing(const std::string &dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string &name : names) out += (out.empty() ? "" : " | ") + name;
    return out;
}

std::string Hex(const Bytes &bytes, size_t from) {
    std::string out;
    char cell[4];
    for (size_t i = from; i < bytes.size() && i < from + 8; ++i) {
        snprintf(cell, sizeof cell, "%02X ", bytes[i]);
        out += cell;
    }
    return out.empty() ? "(end)" : out;
}

std::wstring Wide(const std::string &ansi) {
    int length = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, NULL, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

// Paths are in the ANSI code page; the log is UTF-8.
std::string Printable(const std::string &path) {
    std::wstring wide = Wide(path);
    return wide.empty() ? path : Utf8(wide);
}

void CheckBytes(const Bytes &expected, const std::string &path, int line) {
    Bytes actual;
    std::string name = Printable(path);
    if (!ReadBytes(path, &actual)) {
        Report(false, line, name.c_str(), "cannot be read");
        return;
    }
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    bool same = at == expected.size() && at == actual.size();
    Report(same, line, name.c_str(), "differs at offset %u: expected %s, got %s", static_cast<unsigned>(at),
           Hex(expected, at).c_str(), Hex(actual, at).c_str());
}

// Windows of the program.

std::wstring Text(HWND window) {
    wchar_t buffer[512] = {0};
    DWORD_PTR result = 0;
    if (!window || !SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer),
                                        SMTO_ABORTIFHUNG, TIMEOUT_MS, &result))
        return L"<no text>";
    return buffer;
}

void SetText(HWND window, const char *text) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, TIMEOUT_MS, &result);
}

std::string TextA(HWND window) {
    char buffer[512] = {0};
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                        TIMEOUT_MS, &result);
    return buffer;
}

// For buttons that open modal UI: a sent click would not return until it closes.
void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

void ClickAndWait(HWND button) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, TIMEOUT_MS, &result);
}

bool Checked(HWND button) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(button, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, TIMEOUT_MS, &result);
    return result == BST_CHECKED;
}

struct WindowSearch {
    DWORD process;
    const char *className;
    HWND owner;  // NULL: any
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data) {
    WindowSearch *search = reinterpret_cast<WindowSearch *>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[64];
    if (process != search->process || !IsWindowVisible(window)) return TRUE;
    if (!GetClassNameA(window, className, sizeof className) || lstrcmpiA(className, search->className) != 0) return TRUE;
    if (search->owner && GetWindow(window, GW_OWNER) != search->owner) return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindTopWindow(DWORD process, const char *className, HWND owner) {
    WindowSearch search = {process, className, owner, NULL};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The probe inside the program.

struct Probe {
    HANDLE mapping = NULL;
    ProbeResult *view = nullptr;
    HHOOK hook = NULL;
    UINT message = 0;
};

bool AttachProbe(Probe *probe, HWND dialog) {
    probe->message = RegisterWindowMessageA(PROBE_QUERY_MESSAGE);
    probe->mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(ProbeResult),
                                        PROBE_RESULT_MAPPING);
    if (!probe->mapping) return false;
    probe->view = static_cast<ProbeResult *>(MapViewOfFile(probe->mapping, FILE_MAP_WRITE, 0, 0, sizeof(ProbeResult)));
    if (!probe->view) return false;
    DWORD thread = GetWindowThreadProcessId(dialog, NULL);
    probe->hook = SetWindowsHookExA(WH_CALLWNDPROC, ProbeHook, GetModuleHandleA("kavo_probe.dll"), thread);
    return probe->hook != NULL;
}

void DetachProbe(Probe *probe) {
    if (probe->hook) UnhookWindowsHookEx(probe->hook);
    if (probe->view) UnmapViewOfFile(probe->view);
    if (probe->mapping) CloseHandle(probe->mapping);
    *probe = Probe();
}

bool Ask(Probe *probe, HWND target, ProbeQuery query, ProbeResult *answer) {
    LONG before = probe->view->serial;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(target, probe->message, query, 0, SMTO_ABORTIFHUNG, TIMEOUT_MS, &result)) return false;
    if (probe->view->serial == before) return false;
    *answer = *probe->view;
    return answer->query == query;
}

bool Grayed(DWORD state) { return state != PROBE_ABSENT && (state & MF_GRAYED) != 0; }
bool Enabled(DWORD state) { return state != PROBE_ABSENT && (state & (MF_GRAYED | MF_DISABLED)) == 0; }

// One run of the program.

std::string kavoPath;     // the copy under test, in a folder with 0x5C second bytes
std::string programDir;   // its folder, with the final backslash
std::string workDir;      // data files

struct Kavo {
    PROCESS_INFORMATION process = {};
    HWND dialog = NULL;
    Probe probe;

    HWND Item(int id) const { return GetDlgItem(dialog, id); }
    DWORD Pid() const { return process.dwProcessId; }
};

bool Start(Kavo *kavo, const std::string &exe) {
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    std::string line = "\"" + exe + "\"";
    std::vector<char> command(line.begin(), line.end());
    command.push_back('\0');
    if (!CreateProcessA(exe.c_str(), command.data(), NULL, NULL, FALSE, 0, NULL, workDir.c_str(), &startup,
                        &kavo->process)) {
        Report(false, __LINE__, "CreateProcessA", "error %lu for %s", GetLastError(), Printable(exe).c_str());
        return false;
    }
    WaitForInputIdle(kavo->process.hProcess, START_TIMEOUT_MS);
    bool found = WaitFor([&] { return (kavo->dialog = FindTopWindow(kavo->Pid(), "Kavo", NULL)) != NULL; },
                         START_TIMEOUT_MS);
    CHECK_MSG(found, "no visible window of class Kavo");
    if (!found) return false;
    bool probed = AttachProbe(&kavo->probe, kavo->dialog);
    CHECK_MSG(probed, "probe not attached, error %lu", GetLastError());
    return probed;
}

// Waits for the program to end and returns its exit status; ends it after the timeout.
DWORD Finish(Kavo *kavo) {
    DetachProbe(&kavo->probe);
    DWORD status = 0xDEAD;
    if (kavo->process.hProcess) {
        if (WaitForSingleObject(kavo->process.hProcess, TIMEOUT_MS) != WAIT_OBJECT_0) {
            Report(false, __LINE__, "program ended", "still running after %lu ms; terminated", TIMEOUT_MS);
            TerminateProcess(kavo->process.hProcess, 0xDEAD);
            WaitForSingleObject(kavo->process.hProcess, TIMEOUT_MS);
        } else {
            GetExitCodeProcess(kavo->process.hProcess, &status);
        }
        CloseHandle(kavo->process.hProcess);
        CloseHandle(kavo->process.hThread);
    }
    kavo->process = PROCESS_INFORMATION();
    return status;
}

struct Box {
    HWND window = NULL;
    std::wstring caption, text;
    LONG icon = PROBE_ICON_NONE;
    bool ownerDisabled = false;
};

// Waits for a message box (or picker) owned by owner and reads it.
bool WaitBox(Kavo *kavo, HWND owner, Box *box) {
    if (!WaitFor([&] { return (box->window = FindTopWindow(kavo->Pid(), "#32770", owner)) != NULL; })) return false;
    box->caption = Text(box->window);
    box->text = Text(GetDlgItem(box->window, 0xFFFF));
    box->ownerDisabled = !IsWindowEnabled(owner);
    ProbeResult answer;
    if (Ask(&kavo->probe, box->window, PROBE_MESSAGE_ICON, &answer)) box->icon = answer.icon;
    return true;
}

bool Dismiss(HWND box, int button) {
    Click(GetDlgItem(box, button));
    return WaitFor([&] { return !IsWindow(box); });
}

// Presses 変換(&C) and answers the one box that must follow.
void PressConvert(Kavo *kavo, const wchar_t *caption, const wchar_t *text, LONG icon, int line) {
    Click(kavo->Item(IDOK));
    Box box;
    if (!WaitBox(kavo, kavo->dialog, &box)) {
        Report(false, line, "message box", "none owned by the dialog appeared");
        return;
    }
    Report(box.caption == caption && box.text == text, line, "message box text",
           "expected \"%s\" / \"%s\", got \"%s\" / \"%s\"", Utf8(caption).c_str(), Utf8(text).c_str(),
           Utf8(box.caption).c_str(), Utf8(box.text).c_str());
    Report(box.icon == icon, line, "message box icon", "expected %ld, got %ld", icon, box.icon);
    Report(box.ownerDisabled, line, "dialog disabled while the box shows", "");
    Report(Dismiss(box.window, IDOK), line, "message box dismissed", "");
}

// Fills both name boxes, presses 変換(&C) and answers the one box that must follow.
void Convert(Kavo *kavo, const std::string &source, const std::string &dest, const wchar_t *caption,
             const wchar_t *text, LONG icon, int line) {
    SetText(kavo->Item(IDC_SOURCE_EDIT), source.c_str());
    SetText(kavo->Item(IDC_DEST_EDIT), dest.c_str());
    PressConvert(kavo, caption, text, icon, line);
}

const wchar_t DONE_CAPTION[] = L"完了";
const wchar_t DONE_TEXT[] = L"変換が完了しました。";
const wchar_t ERROR_CAPTION[] = L"エラー";
const wchar_t NOT_FOUND_TEXT[] = L"変換元ファイルが見つかりません。";
const wchar_t CANNOT_OPEN_TEXT[] = L"変換先ファイルをオープンできません。";
const wchar_t TEMP_FAILED_TEXT[] = L"Temp.datが作成できません。";

// The scenarios.

struct ExpectedControl {
    int id;
    WORD atom;  // the template's predefined class
    const char *className;
    DWORD style;
    const wchar_t *text;
    short x, y, cx, cy;
};

const DWORD CHILD = WS_CHILD | WS_VISIBLE;
const ExpectedControl CONTROLS[] = {
    {-1, 0x82, "Static", CHILD | SS_LEFT | WS_GROUP, L"変換元ファイル名(&B):", 7, 7, 62, 8},
    {IDC_SOURCE_EDIT, 0x81, "Edit", CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, L"", 7, 18, 238, 12},
    {IDC_SOURCE_BROWSE, 0x80, "Button", CHILD | BS_PUSHBUTTON | WS_TABSTOP, L"...", 245, 18, 10, 12},
    {-1, 0x82, "Static", CHILD | SS_LEFT | WS_GROUP, L"変換先ファイル名(&A):", 7, 40, 62, 8},
    {IDC_DEST_EDIT, 0x81, "Edit", CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, L"", 7, 51, 238, 12},
    {IDC_DEST_BROWSE, 0x80, "Button", CHILD | BS_PUSHBUTTON | WS_TABSTOP, L"...", 245, 51, 10, 12},
    {-1, 0x80, "Button", CHILD | BS_GROUPBOX, L"変換形式", 7, 73, 248, 45},
    {IDC_SJIS_TO_EUC, 0x80, "Button", CHILD | BS_AUTORADIOBUTTON, L"シフトJIS → EUC", 33, 88, 67, 10},
    {IDC_EUC_TO_SJIS, 0x80, "Button", CHILD | BS_AUTORADIOBUTTON, L"EUC → シフトJIS", 33, 102, 67, 10},
    {IDC_CONVERT_NEWLINES, 0x80, "Button", CHILD | BS_AUTOCHECKBOX | WS_TABSTOP, L"改行コードを変換する(&L)", 139, 88, 87, 10},
    {IDOK, 0x80, "Button", CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, L"変換(&C)", 73, 128, 50, 14},
    {IDCANCEL, 0x80, "Button", CHILD | BS_PUSHBUTTON | WS_TABSTOP, L"キャンセル", 137, 128, 50, 14},
    {IDC_HELP_BUTTON, 0x80, "Button", CHILD | BS_PUSHBUTTON | WS_TABSTOP, L"ヘルプ(&H)", 205, 128, 50, 14},
};
const size_t CONTROL_COUNT = sizeof CONTROLS / sizeof CONTROLS[0];
const DWORD DIALOG_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT;

void CheckSystemMenu(Kavo *kavo, bool minimized, const char *when) {
    ProbeResult menu;
    if (!Ask(&kavo->probe, kavo->dialog, PROBE_SYSTEM_MENU, &menu)) {
        Report(false, __LINE__, "system menu", "probe gave no answer %s", when);
        return;
    }
    CHECK_MSG(menu.maximize == PROBE_ABSENT && menu.size == PROBE_ABSENT, "Maximize/Size present %s", when);
    CHECK_MSG(menu.move != PROBE_ABSENT && menu.close != PROBE_ABSENT, "Move/Close missing %s", when);
    if (minimized) {
        CHECK_MSG(Grayed(menu.minimize) && Enabled(menu.restore), "%s: minimize %lx restore %lx", when,
                  menu.minimize, menu.restore);
    } else {
        CHECK_MSG(Enabled(menu.minimize) && Grayed(menu.restore), "%s: minimize %lx restore %lx", when,
                  menu.minimize, menu.restore);
    }
}

// The dialog as it opens: texts, controls in order, defaults, focus, place, menu, class.
void ScenarioLayout() {
    Kavo kavo;
    if (!Start(&kavo, kavoPath)) {
        Finish(&kavo);
        return;
    }
    HWND dialog = kavo.dialog;
    char className[64] = "";
    GetClassNameA(dialog, className, sizeof className);
    CHECK_MSG(strcmp(className, "Kavo") == 0, "class %s", className);
    CHECK_TEXT(std::wstring(L"かぼ"), Text(dialog));
    DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
    CHECK_MSG((style & DIALOG_STYLE & ~DS_SETFONT) == (DIALOG_STYLE & ~DS_SETFONT), "style %lx", style);
    CHECK_MSG((style & (WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CHILD)) == 0, "style %lx", style);

    HWND child = GetWindow(dialog, GW_CHILD);
    for (size_t i = 0; i < CONTROL_COUNT; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
        const ExpectedControl &want = CONTROLS[i];
        if (!child) {
            Report(false, __LINE__, "control", "only %u controls", static_cast<unsigned>(i));
            break;
        }
        int id = static_cast<short>(GetDlgCtrlID(child));
        char childClass[64] = "";
        GetClassNameA(child, childClass, sizeof childClass);
        DWORD childStyle = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
        CHECK_MSG(id == want.id, "control %u: id %d", static_cast<unsigned>(i), id);
        CHECK_MSG(lstrcmpiA(childClass, want.className) == 0, "control %d: class %s", want.id, childClass);
        // The dialog manager turns an edit box's WS_BORDER into a sunken edge, and a radio
        // button takes WS_TABSTOP while it is checked: the template is checked for those.
        DWORD platformBits = want.atom == 0x81 ? WS_BORDER : (want.style & 0xF) == BS_AUTORADIOBUTTON ? WS_TABSTOP : 0;
        CHECK_MSG((childStyle & ~platformBits) == (want.style & ~platformBits), "control %d: style %lx, expected %lx",
                  want.id, childStyle, want.style);
        CHECK_TEXT(std::wstring(want.text), Text(child));
    }
    CHECK_MSG(child == NULL, "more than %u controls", static_cast<unsigned>(CONTROL_COUNT));

    CHECK(Checked(kavo.Item(IDC_SJIS_TO_EUC)));
    CHECK(!Checked(kavo.Item(IDC_EUC_TO_SJIS)));
    CHECK(!Checked(kavo.Item(IDC_CONVERT_NEWLINES)));
    ProbeResult focus = {};
    CHECK(Ask(&kavo.probe, dialog, PROBE_FOCUS, &focus) && focus.focus == kavo.Item(IDC_SOURCE_EDIT));

    RECT desktop, place;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &place);
    int width = place.right - place.left, height = place.bottom - place.top;
    CHECK_MSG(place.left == desktop.left + (desktop.right - desktop.left - width) / 2 &&
                  place.top == desktop.top + (desktop.bottom - desktop.top - height) / 2,
              "dialog at %ld,%ld size %dx%d on %ldx%ld", place.left, place.top, width, height,
              desktop.right - desktop.left, desktop.bottom - desktop.top);

    ProbeResult cls;
    if (Ask(&kavo.probe, dialog, PROBE_CLASS, &cls)) {
        CHECK_MSG(cls.classStyle == 0 && cls.classExtra == 0 && cls.windowExtra == DLGWINDOWEXTRA,
                  "class style %x, extra %d/%d", cls.classStyle, cls.classExtra, cls.windowExtra);
        CHECK_MSG(cls.background == COLOR_MENU + 1, "background %ld", static_cast<long>(cls.background));
        CHECK(cls.arrowCursor);
        CHECK(cls.programIcon);
        CHECK_MSG(cls.iconWidth == 32 && cls.iconHeight == 32, "icon %dx%d", cls.iconWidth, cls.iconHeight);
    } else {
        Report(false, __LINE__, "class", "probe gave no answer");
    }

    // Tab moves on to the next tab stop; a label's mnemonic to the box after it.
    PostMessageA(kavo.Item(IDC_SOURCE_EDIT), WM_KEYDOWN, VK_TAB, 0x000F0001);
    CHECK(WaitFor([&] { return Ask(&kavo.probe, dialog, PROBE_FOCUS, &focus) && focus.focus == kavo.Item(IDC_SOURCE_BROWSE); }));
    PostMessageA(kavo.Item(IDC_SOURCE_BROWSE), WM_SYSCHAR, 'a', 0x20000000);
    CHECK(WaitFor([&] { return Ask(&kavo.probe, dialog, PROBE_FOCUS, &focus) && focus.focus == kavo.Item(IDC_DEST_EDIT); }));
    PostMessageA(kavo.Item(IDC_DEST_EDIT), WM_SYSCHAR, 'b', 0x20000000);
    CHECK(WaitFor([&] { return Ask(&kavo.probe, dialog, PROBE_FOCUS, &focus) && focus.focus == kavo.Item(IDC_SOURCE_EDIT); }));

    // The dialog loop makes a button's mnemonic a click: Alt+L ticks the check box.
    PostMessageA(kavo.Item(IDC_SOURCE_EDIT), WM_SYSCHAR, 'l', 0x20000000);
    CHECK(WaitFor([&] { return Checked(kavo.Item(IDC_CONVERT_NEWLINES)); }));

    CheckSystemMenu(&kavo, false, "at start");
    DWORD_PTR result = 0;
    SendMessageTimeoutA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0, SMTO_ABORTIFHUNG, TIMEOUT_MS, &result);
    CHECK(WaitFor([&] { return IsIconic(dialog) != 0; }));
    CheckSystemMenu(&kavo, true, "after SC_MINIMIZE");
    // The low four bits belong to the system; the command is still SC_RESTORE.
    SendMessageTimeoutA(dialog, WM_SYSCOMMAND, SC_RESTORE | 0x2, 0, SMTO_ABORTIFHUNG, TIMEOUT_MS, &result);
    CHECK(WaitFor([&] { return !IsIconic(dialog); }));
    CheckSystemMenu(&kavo, false, "after SC_RESTORE");

    Click(kavo.Item(IDCANCEL));
    DWORD status = Finish(&kavo);
    CHECK_MSG(status == 2, "exit status %lu after キャンセル", status);
}

HWND PickerNameBox(HWND picker) {
    HWND combo = GetDlgItem(picker, 0x47C);  // cmb13
    DWORD_PTR edit = 0;
    if (combo) SendMessageTimeoutA(combo, CBEM_GETEDITCONTROL, 0, 0, SMTO_ABORTIFHUNG, TIMEOUT_MS, &edit);
    if (edit) return reinterpret_cast<HWND>(edit);
    return GetDlgItem(picker, 0x480);  // edt1, the older layout
}

// Confirms the picker with the name typed into its name box.
void Pick(HWND picker, const std::string &path) {
    SetText(PickerNameBox(picker), path.c_str());
    PostMessageA(picker, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(picker, IDOK)));
}

bool OpenPicker(Kavo *kavo, int button, const wchar_t *title, Box *picker) {
    Click(kavo->Item(button));
    bool shown = WaitBox(kavo, kavo->dialog, picker);
    CHECK_MSG(shown, "no picker after button %d", button);
    if (shown) CHECK_TEXT(std::wstring(title), picker->caption);
    return shown;
}

// The Open and Save pickers and what they put into the name boxes.
void ScenarioPickers(const std::string &source, const std::string &other) {
    Kavo kavo;
    if (!Start(&kavo, kavoPath)) {
        Finish(&kavo);
        return;
    }
    HWND sourceBox = kavo.Item(IDC_SOURCE_EDIT), destBox = kavo.Item(IDC_DEST_EDIT);
    Box picker;
    if (OpenPicker(&kavo, IDC_SOURCE_BROWSE, L"ファイルを開く", &picker)) {
        HWND readOnly = GetDlgItem(picker.window, 0x410);  // chx1
        CHECK(readOnly == NULL || !IsWindowVisible(readOnly));
        // A name that does not exist is refused with a box, and the picker stays.
        Pick(picker.window, workDir + "ない.txt");
        Box refusal;
        if (WaitBox(&kavo, picker.window, &refusal)) {
            Dismiss(refusal.window, IDOK);
            CHECK(IsWindow(picker.window));
        } else {
            Report(false, __LINE__, "Open picker", "a missing file was not refused");
        }
        Pick(picker.window, source);
        CHECK(WaitFor([&] { return !IsWindow(picker.window); }));
        CHECK_MSG(TextA(sourceBox) == source && TextA(destBox) == source, "after Open: %s / %s",
                  TextA(sourceBox).c_str(), TextA(destBox).c_str());
    }
    // Cancelled: nothing changes.
    SetText(destBox, "");
    if (OpenPicker(&kavo, IDC_SOURCE_BROWSE, L"ファイルを開く", &picker)) {
        PostMessageA(picker.window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        CHECK(WaitFor([&] { return !IsWindow(picker.window); }));
        CHECK(TextA(sourceBox) == source && TextA(destBox).empty());
    }
    // The Save picker proposes the source's file title, whatever the destination holds.
    SetText(destBox, (workDir + "other-name.txt").c_str());
    if (OpenPicker(&kavo, IDC_DEST_BROWSE, L"ファイルを保存", &picker)) {
        CHECK_TEXT(std::wstring(L"入力.txt"), Text(PickerNameBox(picker.window)));
        std::string fresh = workDir + "新しい.txt";
        Pick(picker.window, fresh);
        CHECK(WaitFor([&] { return !IsWindow(picker.window); }));
        CHECK_MSG(TextA(sourceBox) == source && TextA(destBox) == fresh, "after Save: %s / %s",
                  TextA(sourceBox).c_str(), TextA(destBox).c_str());
    }
    // An existing file is taken only after the user agrees to overwrite it.
    if (OpenPicker(&kavo, IDC_DEST_BROWSE, L"ファイルを保存", &picker)) {
        Pick(picker.window, other);
        Box question;
        if (WaitBox(&kavo, picker.window, &question)) {
            Dismiss(question.window, IDYES);
        } else {
            Report(false, __LINE__, "Save picker", "no question before overwriting");
        }
        CHECK(WaitFor([&] { return !IsWindow(picker.window); }));
        CHECK_MSG(TextA(destBox) == other, "after overwrite: %s", TextA(destBox).c_str());
    }
    // Esc is キャンセル.
    PostMessageA(sourceBox, WM_KEYDOWN, VK_ESCAPE, 0);
    DWORD status = Finish(&kavo);
    CHECK_MSG(status == 2, "exit status %lu after Esc", status);
}

const Bytes SJIS_CRLF = {0x41, 0x82, 0xA0, 0x0D, 0x0A, 0xB1, 0x95, 0x5C, 0x0D, 0x0A, 0x8A, 0xBF};
const Bytes EUC_CRLF = {0x41, 0xA4, 0xA2, 0x0D, 0x0A, 0x8E, 0xB1, 0xC9, 0xBD, 0x0D, 0x0A, 0xB4, 0xC1};
const Bytes EUC_LF = {0x41, 0xA4, 0xA2, 0x0A, 0x8E, 0xB1, 0xC9, 0xBD, 0x0A, 0xB4, 0xC1};
const Bytes SJIS_LF = {0x41, 0x82, 0xA0, 0x0A, 0xB1, 0x95, 0x5C, 0x0A, 0x8A, 0xBF};

// Conversions with each setting, to another file and in place, and their failures.
void ScenarioConvert() {
    std::string sjis = workDir + "sjis.txt", euc = workDir + "euc.txt", out = workDir + "出力.txt";
    std::string inPlace = workDir + "inplace.txt", missing = workDir + "missing.txt";
    WriteBytes(sjis, SJIS_CRLF);
    WriteBytes(euc, EUC_LF);
    Kavo kavo;
    if (!Start(&kavo, kavoPath)) {
        Finish(&kavo);
        return;
    }
    // Enter is 変換(&C): with both boxes empty the source is not found.
    Click(kavo.Item(IDC_SOURCE_EDIT));
    PostMessageA(kavo.Item(IDC_SOURCE_EDIT), WM_KEYDOWN, VK_RETURN, 0);
    Box box;
    if (WaitBox(&kavo, kavo.dialog, &box)) {
        CHECK_TEXT(std::wstring(ERROR_CAPTION), box.caption);
        CHECK_TEXT(std::wstring(L"変換元ファイルが見つかりません。"), box.text);
        CHECK(box.icon == PROBE_ICON_ERROR);
        Dismiss(box.window, IDOK);
    } else {
        Report(false, __LINE__, "Enter", "no message box");
    }

    Convert(&kavo, sjis, out, DONE_CAPTION, DONE_TEXT, PROBE_ICON_INFORMATION, __LINE__);
    CHECK_BYTES(EUC_CRLF, out);

    ClickAndWait(kavo.Item(IDC_EUC_TO_SJIS));
    ClickAndWait(kavo.Item(IDC_CONVERT_NEWLINES));
    CHECK(Checked(kavo.Item(IDC_EUC_TO_SJIS)) && Checked(kavo.Item(IDC_CONVERT_NEWLINES)));
    Convert(&kavo, euc, out, DONE_CAPTION, DONE_TEXT, PROBE_ICON_INFORMATION, __LINE__);
    CHECK_BYTES(SJIS_CRLF, out);

    // Clicking the selected direction again keeps it; the check box turns the rule off.
    ClickAndWait(kavo.Item(IDC_EUC_TO_SJIS));
    ClickAndWait(kavo.Item(IDC_CONVERT_NEWLINES));
    Convert(&kavo, euc, out, DONE_CAPTION, DONE_TEXT, PROBE_ICON_INFORMATION, __LINE__);
    CHECK_BYTES(SJIS_LF, out);

    // In place, the names differing in letter case: through Temp.dat beside the program.
    ClickAndWait(kavo.Item(IDC_SJIS_TO_EUC));
    ClickAndWait(kavo.Item(IDC_CONVERT_NEWLINES));
    WriteBytes(inPlace, SJIS_CRLF);
    std::string upper = workDir + "INPLACE.TXT";
    Convert(&kavo, inPlace, upper, DONE_CAPTION, DONE_TEXT, PROBE_ICON_INFORMATION, __LINE__);
    CHECK_BYTES(EUC_LF, inPlace);
    CHECK(!Exists(programDir + "Temp.dat"));

    // Temp.dat must be made in the program's folder, whose name has 0x5C second bytes:
    // a folder standing in its way there makes the conversion fail, and says so.
    CreateDirectoryA((programDir + "Temp.dat").c_str(), NULL);
    WriteBytes(inPlace, SJIS_CRLF);
    Convert(&kavo, inPlace, inPlace, ERROR_CAPTION, L"Temp.datが作成できません。", PROBE_ICON_ERROR, __LINE__);
    CHECK_BYTES(SJIS_CRLF, inPlace);
    RemoveDirectoryA((programDir + "Temp.dat").c_str());

    Convert(&kavo, missing, out, ERROR_CAPTION, L"変換元ファイルが見つかりません。", PROBE_ICON_ERROR, __LINE__);
    Convert(&kavo, sjis, "", ERROR_CAPTION, L"変換先ファイルをオープンできません。", PROBE_ICON_ERROR, __LINE__);

    Click(kavo.Item(IDCANCEL));
    DWORD status = Finish(&kavo);
    CHECK_MSG(status == 2, "exit status %lu", status);
}

// Closing from the title bar or the system menu is left to the default window
// procedure, which destroys the dialog: the modal loop then returns 0.
void ScenarioClose() {
    Kavo kavo;
    if (!Start(&kavo, kavoPath)) {
        Finish(&kavo);
        return;
    }
    PostMessageA(kavo.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD status = Finish(&kavo);
    CHECK_MSG(status == 0, "exit status %lu after SC_CLOSE", status);
}

struct ForeignSearch {
    DWORD notProcess;
    HWND found;
};

BOOL CALLBACK MatchForeignBox(HWND window, LPARAM data) {
    ForeignSearch *search = reinterpret_cast<ForeignSearch *>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[64];
    if (process == search->notProcess || process == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    if (!GetClassNameA(window, className, sizeof className) || lstrcmpiA(className, "#32770") != 0) return TRUE;
    search->found = window;
    return FALSE;
}

// A box of another process: the help engine's, when it cannot open the help file.
HWND WaitForeignBox(DWORD notProcess, DWORD timeout) {
    ForeignSearch search = {notProcess, NULL};
    WaitFor(
        [&] {
            EnumWindows(MatchForeignBox, reinterpret_cast<LPARAM>(&search));
            return search.found != NULL;
        },
        timeout);
    return search.found;
}

// Answers the help engine's box with いいえ and makes sure the help engine goes away.
void CloseHelpEngine(HWND box) {
    DWORD helper = 0;
    GetWindowThreadProcessId(box, &helper);
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, helper);
    CHECK(Dismiss(box, IDNO));
    if (process) {
        if (WaitForSingleObject(process, TIMEOUT_MS) != WAIT_OBJECT_0) {
            Report(false, __LINE__, "help engine", "still running; terminated");
            TerminateProcess(process, 1);
        }
        CloseHandle(process);
    }
}

// The help viewer: a top-level window of another process than the program's (and the
// driver's) with a rich-edit control, the text window Wine's viewer shows the topic in.
struct ViewerSearch {
    DWORD notProcess;
    HWND window;
    HWND text;
};

BOOL CALLBACK MatchTextWindow(HWND child, LPARAM data) {
    char className[64] = "";
    GetClassNameA(child, className, sizeof className);
    if (_strnicmp(className, "RichEdit", 8) != 0) return TRUE;
    reinterpret_cast<ViewerSearch *>(data)->text = child;
    return FALSE;
}

BOOL CALLBACK MatchViewer(HWND window, LPARAM data) {
    ViewerSearch *search = reinterpret_cast<ViewerSearch *>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->notProcess || process == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    EnumChildWindows(window, MatchTextWindow, data);
    if (!search->text) return TRUE;
    search->window = window;
    return FALSE;
}

// For a failure message: the visible top-level windows of other processes, by class.
BOOL CALLBACK ListForeignWindow(HWND window, LPARAM data) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    std::string *out = reinterpret_cast<std::string *>(data);
    *out += std::string(out->empty() ? "" : ", ") + className + " \"" + Utf8(Text(window)) + "\"";
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        GetClassNameA(child, className, sizeof className);
        *out += std::string(" [") + className + " " + std::to_string(GetDlgCtrlID(child)) + "]";
    }
    return TRUE;
}

// The whole text of a window of another process (WM_GETTEXT is marshalled).
std::wstring LongText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, TIMEOUT_MS, &length)) return L"";
    // Twice the length: an ANSI window (Wine's viewer makes its text window so) fills the
    // buffer in its code page first, and gives nothing when that does not fit.
    std::vector<wchar_t> buffer(2 * length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                        TIMEOUT_MS, &copied);
    return std::wstring(buffer.data());
}

// The start of the contents page of Kavo.hlp (help/kavo_help.txt): its title, then the
// topics it links to.
const wchar_t *const HELP_CONTENTS_TEXTS[] = {L"かぼ ヘルプ 目次", L"変換のしかた", L"同じファイルへの変換と Temp.dat",
                                              L"メッセージと対処", L"制限事項", L"バージョン情報"};

bool ShowsContents(const std::wstring &text) {
    if (text.compare(0, wcslen(HELP_CONTENTS_TEXTS[0]), HELP_CONTENTS_TEXTS[0]) != 0) return false;
    size_t at = 0;
    for (const wchar_t *part : HELP_CONTENTS_TEXTS) {
        at = text.find(part, at);
        if (at == std::wstring::npos) return false;
    }
    return true;
}

// Closes the viewer as its user would and makes sure its process ends.
void CloseViewer(HWND viewer) {
    DWORD helper = 0;
    GetWindowThreadProcessId(viewer, &helper);
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, helper);
    PostMessageA(viewer, WM_CLOSE, 0, 0);
    CHECK(WaitFor([&] { return !IsWindow(viewer); }));
    if (!process) {
        Report(false, __LINE__, "help viewer", "process %lu cannot be watched, error %lu", helper, GetLastError());
        return;
    }
    if (WaitForSingleObject(process, TIMEOUT_MS) != WAIT_OBJECT_0) {
        Report(false, __LINE__, "help viewer", "still running after its window closed; terminated");
        TerminateProcess(process, 1);
        WaitForSingleObject(process, TIMEOUT_MS);
    }
    CloseHandle(process);
}

// ヘルプ(&H) hands Kavo.hlp beside the program to the help engine, which opens it on the
// contents page: Japanese text, no error box, and the dialog still answering.
void ScenarioHelp() {
    Kavo kavo;
    if (!Start(&kavo, kavoPath)) {
        Finish(&kavo);
        return;
    }
    CHECK_MSG(Exists(programDir + "Kavo.hlp"), "no Kavo.hlp beside %s", Printable(kavoPath).c_str());
    Click(kavo.Item(IDC_HELP_BUTTON));
    ViewerSearch viewer = {kavo.Pid(), NULL, NULL};
    std::wstring text;
    bool shown = false;
    WaitFor(
        [&] {
            viewer = ViewerSearch{kavo.Pid(), NULL, NULL};
            EnumWindows(MatchViewer, reinterpret_cast<LPARAM>(&viewer));
            shown = viewer.text && ShowsContents(text = LongText(viewer.text));
            return shown || WaitForeignBox(kavo.Pid(), 0) != NULL;
        },
        START_TIMEOUT_MS);
    HWND box = WaitForeignBox(kavo.Pid(), shown ? 500 : 0);
    if (box) {
        Report(false, __LINE__, "help", "a box of the help engine: \"%s\" / \"%s\"", Utf8(Text(box)).c_str(),
               Utf8(Text(GetDlgItem(box, 0xFFFF))).c_str());
        CloseHelpEngine(box);
    }
    if (shown) {
        CloseViewer(viewer.window);
    } else {
        std::string windows;
        EnumWindows(ListForeignWindow, reinterpret_cast<LPARAM>(&windows));
        Report(false, __LINE__, "help", "no viewer showing the contents page; its text: \"%s\"; windows: %s",
               Utf8(text).c_str(), windows.c_str());
        if (viewer.window) CloseViewer(viewer.window);
    }
    DWORD_PTR result = 0;
    CHECK(SendMessageTimeoutA(kavo.dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, TIMEOUT_MS, &result) != 0);
    Click(kavo.Item(IDCANCEL));
    DWORD status = Finish(&kavo);
    CHECK_MSG(status == 2, "exit status %lu", status);
}

// Program folders at the edge of MAX_PATH: in the deeper one "Temp.dat" and "Kavo.hlp" no
// longer fit after the folder (the program's own shorter name still does), so the help
// path stays empty and an in-place conversion says Temp.dat cannot be made, leaving the
// source alone; one byte shallower both just fit. A conversion to another file needs no
// Temp.dat and completes in either. Nothing is left or made beside the program.
void ScenarioDeepFolder(const std::string &deepExe, bool tempFits) {
    Kavo kavo;
    if (!Start(&kavo, deepExe)) {
        Finish(&kavo);
        return;
    }
    if (!tempFits) {
        Click(kavo.Item(IDC_HELP_BUTTON));
        HWND box = WaitForeignBox(kavo.Pid(), 1000);
        if (box) {
            std::wstring text = Text(GetDlgItem(box, 0xFFFF));
            CHECK_MSG(text.find(L"Kavo.hlp") == std::wstring::npos, "help engine says \"%s\"", Utf8(text).c_str());
            CloseHelpEngine(box);
        }
    }
    std::string text = workDir + "deep.txt", out = workDir + "deep-out.txt";
    WriteBytes(text, SJIS_CRLF);
    Convert(&kavo, text, out, DONE_CAPTION, DONE_TEXT, PROBE_ICON_INFORMATION, __LINE__);
    CHECK_BYTES(EUC_CRLF, out);
    if (tempFits) {
        Convert(&kavo, text, text, DONE_CAPTION, DONE_TEXT, PROBE_ICON_INFORMATION, __LINE__);
        CHECK_BYTES(EUC_CRLF, text);
    } else {
        Convert(&kavo, text, text, ERROR_CAPTION, TEMP_FAILED_TEXT, PROBE_ICON_ERROR, __LINE__);
        CHECK_BYTES(SJIS_CRLF, text);
    }
    std::string deepDir = deepExe.substr(0, deepExe.rfind('\\') + 1);
    CHECK_MSG(Listing(deepDir) == "K.exe", "beside the program: %s", Listing(deepDir).c_str());
    CHECK(!Exists(workDir + "Temp.dat"));
    DeleteFileA(text.c_str());
    DeleteFileA(out.c_str());
    Click(kavo.Item(IDCANCEL));
    DWORD status = Finish(&kavo);
    CHECK_MSG(status == 2, "exit status %lu", status);
}

// Names longer than the boxes hand over. 変換(&C) reads each box cut to its first
// MAX_PATH - 1 (259) bytes, so a longer name stands for the file its first 259 bytes
// name: that file is read or written, and no other, and two names alike in those bytes
// are one (in place); a two-byte character the cut would split is left out whole.
void ScenarioLongNames() {
    std::string dir = workDir + "long\\";
    CreateDirectoryA(dir.c_str(), NULL);
    const size_t most = MAX_PATH - 1;
    std::string source = dir + std::string(most - dir.size(), 's');
    std::string dest = dir + std::string(most - dir.size(), 'd');
    std::string cutSource = dir + std::string(most - 1 - dir.size(), 'c');  // 258 bytes
    std::string cutDest = dir + std::string(most - 1 - dir.size(), 'e');
    WriteBytes(source, SJIS_CRLF);
    WriteBytes(cutSource, SJIS_LF);
    Kavo kavo;
    if (!Start(&kavo, kavoPath)) {
        Finish(&kavo);
        return;
    }
    for (size_t length : {most, most + 1, most + 2, (size_t)1000, (size_t)5000}) {
        int before = failed;
        Convert(&kavo, source + std::string(length - most, 'x'), dest + std::string(length - most, 'y'), DONE_CAPTION,
                DONE_TEXT, PROBE_ICON_INFORMATION, __LINE__);
        CHECK_BYTES(EUC_CRLF, dest);
        DeleteFileA(dest.c_str());
        if (failed != before) printf("  with names of %u bytes\n", static_cast<unsigned>(length));
    }
    // The first 259 bytes name no file, or a file in a folder that does not exist.
    Convert(&kavo, dir + std::string(1000, 'q'), dest, ERROR_CAPTION, NOT_FOUND_TEXT, PROBE_ICON_ERROR, __LINE__);
    Convert(&kavo, source + "x", dir + "none\\" + std::string(1000, 'z'), ERROR_CAPTION, CANNOT_OPEN_TEXT,
            PROBE_ICON_ERROR, __LINE__);
    // Two names that differ only after byte 259 are cut to one: a conversion in place.
    Convert(&kavo, source + "x", source + "y", DONE_CAPTION, DONE_TEXT, PROBE_ICON_INFORMATION, __LINE__);
    CHECK_BYTES(EUC_CRLF, source);
    CHECK(!Exists(programDir + "Temp.dat"));
    // 表 (95 5C) would take bytes 259 and 260: both names are cut before it, to 258 bytes.
    Convert(&kavo, cutSource + "表" + std::string(100, 'x'), cutDest + "表.txt", DONE_CAPTION, DONE_TEXT,
            PROBE_ICON_INFORMATION, __LINE__);
    CHECK_BYTES(EUC_LF, cutDest);
    std::string expected = cutSource.substr(dir.size()) + " | " + cutDest.substr(dir.size()) + " | " +
                           source.substr(dir.size());
    CHECK_MSG(Listing(dir) == expected, "in the folder: %s", Printable(Listing(dir)).c_str());
    Click(kavo.Item(IDCANCEL));
    DWORD status = Finish(&kavo);
    CHECK_MSG(status == 2, "exit status %lu", status);
}

// Names whose Shift_JIS bytes include 0x5C as a second byte (表 95 5C, ソ 83 5C, 能 94 5C),
// also at their very end, for the source, the destination and a file in the program's
// folder (itself named so); an empty name; names of folders; Temp.dat itself; a name the
// code page cannot hold. Each gives its box, and only the file the case names is written.
void ScenarioOddNames() {
    std::string folder = workDir + "表ソ能\\", other = workDir + "ソ\\";
    CreateDirectoryA(folder.c_str(), NULL);
    CreateDirectoryA(other.c_str(), NULL);
    std::string source = folder + "一覧表", inPlace = folder + "ソ表能", dest = other + "予定表";
    std::string besideProgram = programDir + "能力表";
    WriteBytes(source, SJIS_CRLF);
    WriteBytes(inPlace, SJIS_CRLF);
    std::string folderName = folder.substr(0, folder.size() - 1), otherName = other.substr(0, other.size() - 1);
    const struct {
        std::string source, dest;
        const wchar_t *caption, *text;
        LONG icon;
        std::string written;  // the file that then holds the conversion, if any
    } cases[] = {
        {source, dest, DONE_CAPTION, DONE_TEXT, PROBE_ICON_INFORMATION, dest},
        {source, besideProgram, DONE_CAPTION, DONE_TEXT, PROBE_ICON_INFORMATION, besideProgram},
        {inPlace, inPlace, DONE_CAPTION, DONE_TEXT, PROBE_ICON_INFORMATION, inPlace},
        {"", dest, ERROR_CAPTION, NOT_FOUND_TEXT, PROBE_ICON_ERROR, ""},
        {"", "", ERROR_CAPTION, NOT_FOUND_TEXT, PROBE_ICON_ERROR, ""},
        {source, "", ERROR_CAPTION, CANNOT_OPEN_TEXT, PROBE_ICON_ERROR, ""},
        {folderName, dest, ERROR_CAPTION, NOT_FOUND_TEXT, PROBE_ICON_ERROR, ""},
        {folder, dest, ERROR_CAPTION, NOT_FOUND_TEXT, PROBE_ICON_ERROR, ""},
        {otherName, otherName, ERROR_CAPTION, NOT_FOUND_TEXT, PROBE_ICON_ERROR, ""},
        {source, otherName, ERROR_CAPTION, CANNOT_OPEN_TEXT, PROBE_ICON_ERROR, ""},
        {source, programDir, ERROR_CAPTION, CANNOT_OPEN_TEXT, PROBE_ICON_ERROR, ""},
    };
    Kavo kavo;
    if (!Start(&kavo, kavoPath)) {
        Finish(&kavo);
        return;
    }
    for (const auto &c : cases) {
        int before = failed;
        Convert(&kavo, c.source, c.dest, c.caption, c.text, c.icon, __LINE__);
        if (!c.written.empty()) CHECK_BYTES(EUC_CRLF, c.written);
        if (failed != before)
            printf("  with \"%s\" -> \"%s\"\n", Printable(c.source).c_str(), Printable(c.dest).c_str());
    }
    // Temp.dat itself converted in place: it is open as the source, so it cannot also be
    // created (and truncated) as the temporary file.
    std::string temp = programDir + "Temp.dat";
    WriteBytes(temp, SJIS_CRLF);
    Convert(&kavo, temp, temp, ERROR_CAPTION, TEMP_FAILED_TEXT, PROBE_ICON_ERROR, __LINE__);
    CHECK_BYTES(SJIS_CRLF, temp);
    DeleteFileA(temp.c_str());
    // A destination typed with characters the ANSI code page cannot hold (é, ŵ): the name
    // the box hands over cannot be opened, and no file is written under a look-alike name
    // either (the listing below).
    SetText(kavo.Item(IDC_SOURCE_EDIT), source.c_str());
    DWORD_PTR result = 0;
    std::wstring foreign = Wide(other) + L"caf\u00E9\u0175.txt";
    SendMessageTimeoutW(kavo.Item(IDC_DEST_EDIT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(foreign.c_str()),
                        SMTO_ABORTIFHUNG, TIMEOUT_MS, &result);
    PressConvert(&kavo, ERROR_CAPTION, CANNOT_OPEN_TEXT, PROBE_ICON_ERROR, __LINE__);
    CHECK_BYTES(SJIS_CRLF, source);
    CHECK_BYTES(EUC_CRLF, dest);  // as the first case wrote it
    CHECK_MSG(Listing(folder) == "ソ表能 | 一覧表" && Listing(other) == "予定表" &&
                  Listing(programDir) == "Kavo.hlp | ソフト表.exe | 能力表",
              "files: %s / %s / %s", Printable(Listing(folder)).c_str(), Printable(Listing(other)).c_str(),
              Printable(Listing(programDir)).c_str());
    Click(kavo.Item(IDCANCEL));
    DWORD status = Finish(&kavo);
    CHECK_MSG(status == 2, "exit status %lu", status);
}

// Resources, read from the file without running it.

struct Reader {
    const BYTE *at;
    const BYTE *end;
    const BYTE *base;
    bool ok = true;

    WORD Word() {
        if (at + 2 > end) {
            ok = false;
            return 0;
        }
        WORD value = static_cast<WORD>(at[0] | at[1] << 8);
        at += 2;
        return value;
    }
    DWORD Dword() {
        WORD low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }
    std::wstring String() {
        std::wstring text;
        for (WORD c = Word(); ok && c != 0; c = Word()) text += static_cast<wchar_t>(c);
        return text;
    }
    // A name or an ordinal (0xFFFF then the number); an ordinal comes back as "#n".
    std::wstring NameOrOrdinal() {
        if (at + 2 <= end && at[0] == 0xFF && at[1] == 0xFF) {
            Word();
            return L"#" + std::to_wstring(Word());
        }
        return String();
    }
    void Align() {
        while ((at - base) % 4 != 0) ++at;
    }
};

const WORD JAPANESE = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

bool Resource(HMODULE module, LPCSTR type, LPCSTR name, Reader *reader) {
    HRSRC found = FindResourceExA(module, type, name, JAPANESE);
    if (!found) return false;
    HGLOBAL loaded = LoadResource(module, found);
    const BYTE *data = static_cast<const BYTE *>(LockResource(loaded));
    if (!data) return false;
    reader->at = reader->base = data;
    reader->end = data + SizeofResource(module, found);
    return true;
}

void CheckDialogTemplate(HMODULE module) {
    Reader r;
    if (!Resource(module, RT_DIALOG, MAKEINTRESOURCEA(IDD_MAIN), &r)) {
        Report(false, __LINE__, "IDD_MAIN", "no Japanese dialog template");
        return;
    }
    DWORD style = r.Dword(), exStyle = r.Dword();
    WORD count = r.Word();
    short x = static_cast<short>(r.Word()), y = static_cast<short>(r.Word());
    short cx = static_cast<short>(r.Word()), cy = static_cast<short>(r.Word());
    CHECK_MSG(style == DIALOG_STYLE && exStyle == 0, "style %lx ex %lx (not a classic template?)", style, exStyle);
    CHECK_MSG(count == CONTROL_COUNT && x == 0 && y == 0 && cx == 262 && cy == 149, "%u controls at %d,%d %dx%d",
              count, x, y, cx, cy);
    CHECK(r.NameOrOrdinal().empty());  // no menu
    // windres stores the class name upper-cased; class names are matched without case.
    std::wstring className = r.NameOrOrdinal();
    CHECK_MSG(lstrcmpiW(className.c_str(), L"Kavo") == 0, "class %s", Utf8(className).c_str());
    CHECK_TEXT(std::wstring(L"かぼ"), r.String());
    WORD points = r.Word();
    CHECK_MSG(points == 9, "font size %u", points);
    CHECK_TEXT(std::wstring(L"ＭＳ Ｐゴシック"), r.String());
    for (size_t i = 0; i < count && i < CONTROL_COUNT && r.ok; ++i) {
        const ExpectedControl &want = CONTROLS[i];
        r.Align();
        DWORD itemStyle = r.Dword(), itemEx = r.Dword();
        short ix = static_cast<short>(r.Word()), iy = static_cast<short>(r.Word());
        short icx = static_cast<short>(r.Word()), icy = static_cast<short>(r.Word());
        int id = static_cast<short>(r.Word());
        std::wstring itemClass = r.NameOrOrdinal();
        std::wstring text = r.NameOrOrdinal();
        WORD extra = r.Word();
        r.at += extra;
        CHECK_MSG(id == want.id && itemStyle == want.style && itemEx == 0, "item %u: id %d style %lx ex %lx",
                  static_cast<unsigned>(i), id, itemStyle, itemEx);
        CHECK_MSG(itemClass == L"#" + std::to_wstring(want.atom), "item %d: class %s", want.id, Utf8(itemClass).c_str());
        CHECK_MSG(ix == want.x && iy == want.y && icx == want.cx && icy == want.cy, "item %d at %d,%d %dx%d", want.id,
                  ix, iy, icx, icy);
        CHECK_TEXT(std::wstring(want.text), text);
    }
    CHECK_MSG(r.ok, "template cut short");
}

void CheckIcon(HMODULE module) {
    Reader group;
    if (!Resource(module, RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_MAIN), &group)) {
        Report(false, __LINE__, "IDI_MAIN", "no Japanese icon group");
        return;
    }
    group.Word();
    WORD type = group.Word(), images = group.Word();
    CHECK_MSG(type == 1 && images == 1, "type %u, %u images", type, images);
    BYTE width = group.at[0], height = group.at[1], colours = group.at[2];
    group.at += 4;
    group.Word();
    WORD bits = group.Word();
    group.Dword();
    WORD image = group.Word();
    CHECK_MSG(width == 32 && height == 32 && colours == 16 && bits == 4, "%ux%u, %u colours, %u bits", width, height,
              colours, bits);
    Reader bitmap;
    CHECK(Resource(module, RT_ICON, MAKEINTRESOURCEA(image), &bitmap) && bitmap.Dword() == 40 && bitmap.Dword() == 32 &&
          bitmap.Dword() == 64);
}

std::wstring VersionText(const std::vector<BYTE> &block, const wchar_t *name) {
    std::wstring path = std::wstring(L"\\StringFileInfo\\041104b0\\") + name;
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || !value) return L"<missing>";
    return static_cast<const wchar_t *>(value);
}

void CheckVersion(const std::string &exe) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &handle);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoA(exe.c_str(), 0, size, block.data())) {
        Report(false, __LINE__, "version block", "none");
        return;
    }
    void *value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block.data(), "\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const VS_FIXEDFILEINFO *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);
        CHECK(fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0x00000001);
        CHECK(fixed->dwProductVersionMS == 0x00010000 && fixed->dwProductVersionLS == 0x00000001);
        CHECK(fixed->dwFileFlagsMask == 0x3F && fixed->dwFileFlags == 0);
        CHECK(fixed->dwFileOS == VOS_NT_WINDOWS32 && fixed->dwFileType == VFT_APP && fixed->dwFileSubtype == 0);
    } else {
        Report(false, __LINE__, "version block", "no fixed part");
    }
    CHECK(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) && length == 4 &&
          static_cast<const WORD *>(value)[0] == 0x0411 && static_cast<const WORD *>(value)[1] == 0x04B0);
    CHECK_TEXT(std::wstring(L"1.01"), VersionText(block, L"FileVersion"));
    CHECK_TEXT(std::wstring(L"1.01"), VersionText(block, L"ProductVersion"));
    CHECK_TEXT(std::wstring(L"かぼ"), VersionText(block, L"ProductName"));
    CHECK_TEXT(std::wstring(L"かぼ 文字コード変換アプリケーション"), VersionText(block, L"FileDescription"));
    CHECK_TEXT(std::wstring(L"Kavo"), VersionText(block, L"InternalName"));
    CHECK_TEXT(std::wstring(L"Kavo.exe"), VersionText(block, L"OriginalFilename"));
    CHECK_TEXT(std::wstring(L" "), VersionText(block, L"CompanyName"));
    CHECK_TEXT(std::wstring(L""), VersionText(block, L"LegalTrademarks"));
    CHECK_TEXT(std::wstring(L""), VersionText(block, L"PrivateBuild"));
    CHECK_TEXT(std::wstring(L""), VersionText(block, L"SpecialBuild"));
}

void ScenarioResources(const std::string &exe) {
    HMODULE module = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        Report(false, __LINE__, "LoadLibraryExA", "error %lu", GetLastError());
        return;
    }
    CheckDialogTemplate(module);
    CheckIcon(module);
    FreeLibrary(module);
    CheckVersion(exe);
}

// Set-up.

std::string WindowsPath(const char *path) {
    std::string out = path;
    if (!out.empty() && out[0] == '/') {
        for (char &c : out)
            if (c == '/') c = '\\';
        out = "Z:" + out;
    }
    return out;
}

// Runs the help scenario alone on the program where it lies, with its own Kavo.hlp.
int RunHelpOnly(const std::string &exe) {
    kavoPath = exe;
    programDir = exe.substr(0, exe.rfind('\\') + 1);
    if (!CreateDirectoryA(workDir.c_str(), NULL)) {
        printf("cannot make %s (error %lu)\n", workDir.c_str(), GetLastError());
        return 1;
    }
    DWORD start = GetTickCount();
    ScenarioHelp();
    printf("%-10s %s (%lu ms)\n", "help", failed == 0 ? "ok" : "FAILED", GetTickCount() - start);
    RemoveTree(workDir.substr(0, workDir.size() - 1));  // without its final backslash
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    bool helpOnly = argc == 3 && strcmp(argv[2], "help") == 0;
    if (argc != 2 && !helpOnly) {
        printf("usage: kavo_driver <path of Kavo.exe> [help]\n"
               "  every scenario on a copy of the program, or only the help button on the program itself\n");
        return 2;
    }
    std::string built = WindowsPath(argv[1]);
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) {
        printf("no temporary folder\n");
        return 1;
    }
    workDir = std::string(temp) + "kavo-driver-" + std::to_string(GetCurrentProcessId()) + "\\";
    if (helpOnly) return RunHelpOnly(built);
    // 表 and ソ end in 0x5C in Shift_JIS: the program must still find its own folder. The
    // help file built beside the program goes beside the copy.
    programDir = workDir + "変換表\\";
    kavoPath = programDir + "ソフト表.exe";
    std::string builtHelp = built.substr(0, built.rfind('\\') + 1) + "Kavo.hlp";
    if (!CreateDirectoryA(workDir.c_str(), NULL) || !CreateDirectoryA(programDir.c_str(), NULL) ||
        !CopyFileA(built.c_str(), kavoPath.c_str(), FALSE) ||
        !CopyFileA(builtHelp.c_str(), (programDir + "Kavo.hlp").c_str(), FALSE)) {
        printf("cannot set up %s from %s and its Kavo.hlp (error %lu)\n", kavoPath.c_str(), built.c_str(),
               GetLastError());
        RemoveTree(workDir.substr(0, workDir.size() - 1));  // without its final backslash
        return 1;
    }
    std::string source = workDir + "入力.txt", other = workDir + "既存.txt";
    WriteBytes(source, SJIS_CRLF);
    WriteBytes(other, EUC_LF);
    // Program folders of MAX_PATH - 9 and MAX_PATH - 8 bytes with their backslash: an
    // 8-byte name ("Temp.dat", "Kavo.hlp") and its terminator just fit after the first, not
    // after the second; "K.exe" fits after both.
    static std::string deepExe[2];
    for (int deeper = 0; deeper < 2; deeper++) {
        size_t dirLength = MAX_PATH - 9 + deeper;
        if (workDir.size() + 2 >= dirLength) continue;
        std::string deepDir = workDir + std::string(dirLength - workDir.size() - 1, deeper ? 'e' : 'd') + "\\";
        if (CreateDirectoryA(deepDir.c_str(), NULL) && CopyFileA(built.c_str(), (deepDir + "K.exe").c_str(), FALSE))
            deepExe[deeper] = deepDir + "K.exe";
    }

    struct Step {
        const char *name;
        void (*run)();
    };
    static std::string pickSource, pickOther;
    pickSource = source;
    pickOther = other;
    const Step steps[] = {
        {"layout", ScenarioLayout},
        {"convert", ScenarioConvert},
        {"pickers", [] { ScenarioPickers(pickSource, pickOther); }},
        {"help", ScenarioHelp},
        {"deep-fits", [] {
             if (deepExe[0].empty())
                 Report(false, __LINE__, "deep folder", "cannot be made");
             else
                 ScenarioDeepFolder(deepExe[0], true);
         }},
        {"deep", [] {
             if (deepExe[1].empty())
                 Report(false, __LINE__, "deep folder", "cannot be made");
             else
                 ScenarioDeepFolder(deepExe[1], false);
         }},
        {"long-names", ScenarioLongNames},
        {"odd-names", ScenarioOddNames},
        {"close", ScenarioClose},
        {"resources", [] { ScenarioResources(kavoPath); }},
    };
    for (const Step &step : steps) {
        DWORD start = GetTickCount();
        int before = failed;
        step.run();
        printf("%-10s %s (%lu ms)\n", step.name, failed == before ? "ok" : "FAILED", GetTickCount() - start);
        fflush(stdout);
    }

    RemoveTree(workDir.substr(0, workDir.size() - 1));  // without its final backslash
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
