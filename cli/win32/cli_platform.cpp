// The command-line front end on Win32. In-place conversions go through a fresh folder
// under the user's local application data (%LOCALAPPDATA%\kavo), which the profile's
// access rights keep to the user; a folder per run keeps two runs apart. The share modes
// of the conversion keep the bytes of two runs on one file apart, but nothing makes them
// take turns; Ctrl-C is left to the console.
#include "cli_platform.h"
#include "path_utils.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

const char CLI_WORK_ROOT_DESCRIPTION[] = "%LOCALAPPDATA%\\kavo";
const char CLI_IN_PLACE_PROMISE[] =
    "The copy back is one system copy; when it fails, Temp.dat keeps the text.\n"
    "Ctrl-C ends kavoconv at once and can leave the private folder behind. Two\n"
    "runs in place on one file do not take turns: while one reads the file, the\n"
    "other's copy back fails and keeps its Temp.dat, but a run that guessed\n"
    "before the other's copy back can convert the file a second time.\n";

namespace {

// The code page of the program's own strings: they are compiled as Shift_JIS.
enum { PROGRAM_CODE_PAGE = 932, MESSAGE_LIMIT = 1024, TICK_MILLISECONDS = 250 };

CRITICAL_SECTION tickerLock;
HANDLE tickerThread;
HANDLE tickerStop;  // an event: set when the ticker is to end
void (*tickFunction)(void);

DWORD WINAPI RunTicker(LPVOID) {
    while (WaitForSingleObject(tickerStop, TICK_MILLISECONDS) == WAIT_TIMEOUT) {
        EnterCriticalSection(&tickerLock);
        tickFunction();
        LeaveCriticalSection(&tickerLock);
    }
    return 0;
}

// Converts text from one code page to another into out; 0 when it cannot.
int Recode(const char *text, UINT from, UINT to, char *out, int size) {
    WCHAR wide[MESSAGE_LIMIT];
    if (MultiByteToWideChar(from, 0, text, -1, wide, MESSAGE_LIMIT) == 0) return 0;
    return WideCharToMultiByte(to, 0, wide, -1, out, size, NULL, NULL) != 0;
}

// Writes text, in code page `from`, in the console's code page (else the system's).
void WriteRecoded(const char *text, UINT from) {
    UINT to = GetConsoleOutputCP();
    if (to == 0) to = GetACP();  // no console: the system's code page
    char converted[2 * MESSAGE_LIMIT];
    const char *shown = text;
    if (from != to && Recode(text, from, to, converted, sizeof converted)) shown = converted;
    fputs(shown, stderr);
}

}  // namespace

void CliInit(void) {
    // A missing drive or disk is a failed open here, not a box waiting for a click.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    InitializeCriticalSection(&tickerLock);
}

int CliCreateWorkDir(char *out) {
    char path[MAX_PATH + 1];
    out[0] = '\0';
    if (SHGetFolderPathA(NULL, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, NULL, SHGFP_TYPE_CURRENT, path) != S_OK ||
        !AppendPath(path, "\\kavo"))
        return 0;
    if (!CreateDirectoryA(path, NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return 0;
    size_t rootLength = strlen(path);
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        char name[32];
        snprintf(name, sizeof name, "\\%lu-%u", (unsigned long)GetCurrentProcessId(), attempt);
        path[rootLength] = '\0';
        if (!AppendPath(path, name)) return 0;
        if (CreateDirectoryA(path, NULL)) {
            if (!AppendPath(path, "\\")) {  // unchanged when it does not fit
                RemoveDirectoryA(path);
                return 0;
            }
            memcpy(out, path, strlen(path) + 1);
            return 1;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return 0;
    }
    return 0;
}

int CliRemoveWorkDir(const char *dir) { return RemoveDirectoryA(dir) != 0; }

int CliLockFile(const char *) { return -1; }
void CliUnlockFile(int) {}

int CliMayWrite(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 1;
    // Opened for writing without truncation and with every sharing allowed: this open
    // changes nothing and disturbs no one.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(file);
    return 1;
}

void CliSetDisposable(const char *, const char *) {}
void CliHoldInterruptions(void) {}
void CliReleaseInterruptions(void) {}

int CliErrorIsTerminal(void) {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int CliOutputIsTerminal(void) {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void CliStartTicker(void (*tick)(void)) {
    tickFunction = tick;
    tickerStop = CreateEventA(NULL, TRUE, FALSE, NULL);
    tickerThread = tickerStop ? CreateThread(NULL, 0, RunTicker, NULL, 0, NULL) : NULL;
}

void CliStopTicker(void) {
    if (!tickerThread) return;
    SetEvent(tickerStop);
    WaitForSingleObject(tickerThread, INFINITE);
    CloseHandle(tickerThread);
    CloseHandle(tickerStop);
    tickerThread = NULL;
}

void CliHoldTicker(void) { EnterCriticalSection(&tickerLock); }
void CliReleaseTicker(void) { LeaveCriticalSection(&tickerLock); }

unsigned long CliMilliseconds(void) { return GetTickCount(); }

void CliWriteRaw(const char *bytes, size_t length) {
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes, (DWORD)length, &written, NULL);
}

void CliWriteError(const char *prefix, const char *file, const char *text, CliTextKind kind) {
    fputs(prefix, stderr);
    fputs(": ", stderr);
    if (file) {
        WriteRecoded(file, GetACP());
        fputs(": ", stderr);
    }
    WriteRecoded(text, kind == CLI_PATH_TEXT ? GetACP() : (UINT)PROGRAM_CODE_PAGE);
    fputc('\n', stderr);
    fflush(stderr);
}
