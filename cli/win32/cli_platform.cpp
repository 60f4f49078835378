// The command-line front end on Win32. Conversions through Temp.dat go through a fresh
// folder under the user's local application data (%LOCALAPPDATA%\kavo), which the
// profile's access rights keep to the user; its record file stays open, shared with no
// other writer, while the run lives. Two runs on one file take turns through a named
// mutex made from the file's identity.
//
// Ctrl-C, Ctrl-Break and closing the console arrive on a thread of their own. With
// nothing made that an end would leave behind, the process ends there and then, as it
// would without this handling. Otherwise the event is recorded and the main thread takes
// it: its reads and writes fail from then on (a read waiting for a pipe is cancelled),
// the job stops and cleans up, and the release of interruptions that ends every careful
// conversion removes the private folder and ends the process with the status of a
// program the console stopped. While interruptions are held (the copy back) nothing
// stops, and the event waits for the release.
//
// Texts are UTF-8 inside: the compiled-in catalog, paths converted from the ANSI code
// page, the system's words from FormatMessageW. Each message is written whole, in one
// call: to a console as its characters (WriteConsoleW), elsewhere as bytes of the ANSI
// code page.
#include "cli_platform.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "catalog.h"
#include "path_utils.h"

// A name, the same in every language.
const char CLI_WORK_ROOT_DESCRIPTION[] = "%LOCALAPPDATA%\\kavo";

namespace {

const char RECORD_NAME[] = "record";  // no longer than "Temp.dat", so that it always fits where that does
const UINT JAPANESE_CODE_PAGE = 932;
enum { TICK_MILLISECONDS = 250, OWN_FOLDERS = 4, RECORD_LIMIT = 4096, REASON_LIMIT = 1024, NAME_ATTEMPTS = 100 };

int japanese;  // the language of messages, chosen once at the start

// Interruptions. The handler's thread and the main thread meet under stateLock; `held`
// and the paths change only under it.
CRITICAL_SECTION stateLock;
volatile LONG interrupted;  // an event came that is to end the process
volatile LONG held;
HANDLE interruption;  // an event, set with `interrupted`, that ends waits
HANDLE mainThread;    // for cancelling a read that waits for input
char disposableFolder[MAX_PATH + 1];
char disposableFile[MAX_PATH + 1];

// The records of this process's own folders, held open.
struct OwnFolder {
    char dir[MAX_PATH + 1];
    HANDLE record;  // null: slot free
};
OwnFolder ownFolders[OWN_FOLDERS];

// The folder CliEachLeftWorkDir visits, and its record, held meanwhile (null: none).
char visitedDir[MAX_PATH + 1];
HANDLE visitedRecord;

CRITICAL_SECTION tickerLock;
HANDLE tickerThread;
HANDLE tickerStop;  // an event: set when the ticker is to end
void (*tickFunction)(void);

int Join(char *out, const char *first, const char *second) {
    out[0] = '\0';
    return AppendPath(out, first) && AppendPath(out, second);
}

void CopyPath(char *out, const char *path) {
    out[0] = '\0';
    if (path && !AppendPath(out, path)) out[0] = '\0';
}

// Records `error` as the failure. Returns 0.
int FailWith(DWORD error) {
    SetLastError(error);
    return PlatformRecordSystemFailure();
}

// Records the last error of opening path; a folder, which the system refuses with
// "access denied", is named as what it is, as the job names it.
int FailOn(const char *path) {
    PlatformRecordSystemFailure();
    PlatformFailure failure = PlatformLastFailure();
    const DWORD attributes = GetFileAttributesA(path);
    if (failure.kind == PLATFORM_FAILURE_ACCESS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        failure.kind = PLATFORM_FAILURE_FOLDER;
        PlatformSetLastFailure(failure);
    }
    return 0;
}

int WriteAll(HANDLE file, const char *text) {
    const DWORD length = (DWORD)strlen(text);
    DWORD written = 0;
    if (!WriteFile(file, text, length, &written, NULL)) return PlatformRecordSystemFailure();
    return written == length || FailWith(ERROR_DISK_FULL);
}

// Makes sure what was written to the file at path is on the disk.
int Flush(const char *path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return PlatformRecordSystemFailure();
    const int flushed = FlushFileBuffers(file) || PlatformRecordSystemFailure();
    CloseHandle(file);
    return flushed;
}

std::wstring Wide(const char *text, UINT codePage) {
    const int length = MultiByteToWideChar(codePage, 0, text, -1, NULL, 0);
    if (length <= 1) return std::wstring();
    std::wstring wide((size_t)length, L'\0');
    MultiByteToWideChar(codePage, 0, text, -1, &wide[0], length);
    wide.resize((size_t)length - 1);
    return wide;
}

std::string Narrow(const std::wstring &wide, UINT codePage) {
    if (wide.empty()) return std::string();
    const int length = WideCharToMultiByte(codePage, 0, wide.data(), (int)wide.size(), NULL, 0, NULL, NULL);
    if (length <= 0) return std::string();
    std::string bytes((size_t)length, '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), (int)wide.size(), &bytes[0], length, NULL, NULL);
    return bytes;
}

// wide as UTF-8 into out (size bytes, always terminated), cut before a character that
// does not fit.
void PutUtf8(const std::wstring &wide, char *out, size_t size) {
    if (size == 0) return;
    const std::string bytes = Narrow(wide, CP_UTF8);
    size_t length = bytes.size() < size - 1 ? bytes.size() : size - 1;
    while (length > 0 && length < bytes.size() && ((unsigned char)bytes[length] & 0xC0) == 0x80) length--;
    memcpy(out, bytes.data(), length);
    out[length] = '\0';
}

// Writes text whole, in one call, with its line ends as CR LF: to a console as the
// characters they are, whatever its code page; to a file or pipe as bytes of the ANSI
// code page.
void WriteText(DWORD which, const std::wstring &text) {
    std::wstring lines;
    for (wchar_t c : text) {
        if (c == L'\n' && (lines.empty() || lines.back() != L'\r')) lines.push_back(L'\r');
        lines.push_back(c);
    }
    HANDLE handle = GetStdHandle(which);
    DWORD mode, written;
    if (lines.empty() || handle == NULL || handle == INVALID_HANDLE_VALUE) return;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, lines.data(), (DWORD)lines.size(), &written, NULL);
        return;
    }
    const std::string bytes = Narrow(lines, CP_ACP);
    WriteFile(handle, bytes.data(), (DWORD)bytes.size(), &written, NULL);
}

// Nonzero once an interruption takes effect: the platform's reads and writes fail, and
// the messages of what that stops are not written.
int Stopping(void) { return interrupted && !held; }

// Removes what an interruption is not to leave behind; under stateLock.
void Dispose() {
    if (disposableFile[0]) DeleteFileA(disposableFile);
    if (disposableFolder[0]) CliRemoveWorkDir(disposableFolder);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    EnterCriticalSection(&stateLock);
    // Nothing made that an end would leave behind: end now. The lock stays taken, so the
    // main thread cannot begin making anything meanwhile.
    if (!held && !disposableFolder[0] && !disposableFile[0]) ExitProcess(STATUS_CONTROL_C_EXIT);
    interrupted = 1;
    SetEvent(interruption);
    // A read of standard input from a pipe may wait for good; nothing is cancelled while
    // held.
    if (!held && mainThread) CancelSynchronousIo(mainThread);
    LeaveCriticalSection(&stateLock);
    // Once this returns, the system ends a process whose console closes: the main thread
    // ends it first, after cleaning up.
    if (event == CTRL_CLOSE_EVENT) Sleep(INFINITE);
    return TRUE;
}

DWORD WINAPI RunTicker(LPVOID) {
    while (WaitForSingleObject(tickerStop, TICK_MILLISECONDS) == WAIT_TIMEOUT) {
        EnterCriticalSection(&tickerLock);
        tickFunction();
        LeaveCriticalSection(&tickerLock);
    }
    return 0;
}

}  // namespace

void CliInit(void) {
    // A missing drive or disk is a failed open here, not a box waiting for a click.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    InitializeCriticalSection(&tickerLock);
    InitializeCriticalSection(&stateLock);
    japanese = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE || GetConsoleOutputCP() == JAPANESE_CODE_PAGE;
    interruption = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &mainThread, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        mainThread = NULL;
    PlatformSetStopCheck(Stopping);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

const char *CliText(const char *english) {
    if (!japanese) return english;
    size_t low = 0, high = CATALOG_SIZE;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        const int order = strcmp(CATALOG[middle].english, english);
        if (order == 0) return CATALOG[middle].translation;
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return english;
}

int CliWorkRoot(char *out) {
    out[0] = '\0';
    char local[MAX_PATH + 1];
    if (SHGetFolderPathA(NULL, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, NULL, SHGFP_TYPE_CURRENT, local) != S_OK)
        return FailWith(ERROR_PATH_NOT_FOUND);
    if (!Join(out, local, "\\kavo")) {
        CopyPath(out, local);
        return FailWith(ERROR_FILENAME_EXCED_RANGE);
    }
    if (!CreateDirectoryA(out, NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return PlatformRecordSystemFailure();
    // A folder, and not a link that leads elsewhere.
    const DWORD attributes = GetFileAttributesA(out);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PlatformRecordSystemFailure();
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return FailWith(ERROR_DIRECTORY);
    return AppendPath(out, "\\") || FailWith(ERROR_FILENAME_EXCED_RANGE);
}

int CliCreateWorkDir(const char *root, const char *record, char *out) {
    static unsigned made;
    out[0] = '\0';
    OwnFolder *slot = nullptr;
    for (OwnFolder &own : ownFolders)
        if (!own.record) slot = &own;
    if (!slot) return FailWith(ERROR_TOO_MANY_OPEN_FILES);
    char dir[MAX_PATH + 1], recordPath[MAX_PATH + 1];
    for (int attempt = 0;; attempt++) {
        char name[32];
        snprintf(name, sizeof name, "%lu-%u", (unsigned long)GetCurrentProcessId(), made++);
        if (!Join(dir, root, name)) return FailWith(ERROR_FILENAME_EXCED_RANGE);
        if (CreateDirectoryA(dir, NULL)) break;
        // One left by an earlier process of the same number: another name.
        if (GetLastError() != ERROR_ALREADY_EXISTS || attempt == NAME_ATTEMPTS) return PlatformRecordSystemFailure();
    }
    if (!AppendPath(dir, "\\") || !Join(recordPath, dir, RECORD_NAME)) {  // no file in it could be named
        RemoveDirectoryA(dir);
        return FailWith(ERROR_FILENAME_EXCED_RANGE);
    }
    // Open for writing and shared with no other writer from before anything is in the
    // folder until the end: another run that cannot open it so knows it is in use. This
    // process may delete it while it is open.
    HANDLE file = CreateFileA(recordPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE || !WriteAll(file, record)) {
        if (file == INVALID_HANDLE_VALUE) PlatformRecordSystemFailure();
        const PlatformFailure failure = PlatformLastFailure();
        if (file != INVALID_HANDLE_VALUE) {
            DeleteFileA(recordPath);
            CloseHandle(file);
        }
        RemoveDirectoryA(dir);
        PlatformSetLastFailure(failure);
        return 0;
    }
    CopyPath(slot->dir, dir);
    slot->record = file;
    memcpy(out, dir, strlen(dir) + 1);
    return 1;
}

int CliMarkWorkDir(const char *dir, const char *first, const char *line) {
    for (OwnFolder &own : ownFolders) {
        if (!own.record || strcmp(own.dir, dir) != 0) continue;
        return Flush(first) && WriteAll(own.record, line) && WriteAll(own.record, "\n") &&
               (FlushFileBuffers(own.record) || PlatformRecordSystemFailure());
    }
    return FailWith(ERROR_FILE_NOT_FOUND);
}

int CliRemoveWorkDir(const char *dir) {
    char recordPath[MAX_PATH + 1];
    if (!Join(recordPath, dir, RECORD_NAME)) return 0;
    // The record goes first, so that a folder without one is never taken for another
    // run's; it is gone once this process's handle on it is closed.
    const int removed = DeleteFileA(recordPath) || GetLastError() == ERROR_FILE_NOT_FOUND;
    for (OwnFolder &own : ownFolders) {
        if (own.record && strcmp(own.dir, dir) == 0) {
            CloseHandle(own.record);
            own.record = NULL;
        }
    }
    if (visitedRecord && strcmp(visitedDir, dir) == 0) {
        CloseHandle(visitedRecord);
        visitedRecord = NULL;
    }
    return removed && RemoveDirectoryA(dir);
}

void CliEachLeftWorkDir(const char *root, CliLeftWorkDirVisitor visit, void *context) {
    char pattern[MAX_PATH + 1];
    WIN32_FIND_DATAA entry;
    if (!Join(pattern, root, "*")) return;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        char recordPath[MAX_PATH + 1];
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || entry.cFileName[0] == '.' ||
            !Join(visitedDir, root, entry.cFileName) || !AppendPath(visitedDir, "\\") ||
            !Join(recordPath, visitedDir, RECORD_NAME))
            continue;
        // Opened for writing, which fails while the run that made it lives, or while
        // another run visits it.
        HANDLE record = CreateFileA(recordPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (record == INVALID_HANDLE_VALUE) continue;
        visitedRecord = record;
        static char text[RECORD_LIMIT];
        DWORD got = 0;
        if (!ReadFile(record, text, sizeof text - 1, &got, NULL)) got = 0;
        text[got] = '\0';
        visit(visitedDir, text, context);
        if (visitedRecord) CloseHandle(visitedRecord);
        visitedRecord = NULL;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

int CliLockFile(const char *path, long *token) {
    // Opened only to ask what it is: no access to its bytes, and nobody shut out.
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return FailOn(path);
    BY_HANDLE_FILE_INFORMATION info;
    const int regular = GetFileType(file) == FILE_TYPE_DISK;
    const int known = regular && (GetFileInformationByHandle(file, &info) || PlatformRecordSystemFailure());
    CloseHandle(file);
    if (!regular) {
        PlatformSetLastFailure(PlatformFailure{PLATFORM_FAILURE_NOT_REGULAR, 0});
        return 0;
    }
    if (!known) return 0;
    // One name for the file whatever name it was given by: its volume and its number there.
    char name[64];
    snprintf(name, sizeof name, "Local\\kavoconv-%08lx-%08lx%08lx", info.dwVolumeSerialNumber, info.nFileIndexHigh,
             info.nFileIndexLow);
    HANDLE turn = CreateMutexA(NULL, FALSE, name);
    if (!turn) return PlatformRecordSystemFailure();
    const HANDLE waits[] = {turn, interruption};
    // A mutex whose owner ended without releasing it is taken all the same.
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED_0) {
        *token = (long)(LONG_PTR)turn;
        return 1;
    }
    if (woke == WAIT_OBJECT_0 + 1) SetLastError(ERROR_OPERATION_ABORTED);
    PlatformRecordSystemFailure();
    CloseHandle(turn);
    return 0;
}

void CliUnlockFile(long token) {
    if (token == -1) return;
    HANDLE turn = (HANDLE)(LONG_PTR)token;
    ReleaseMutex(turn);
    CloseHandle(turn);
}

int CliMayWrite(const char *path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 1;
    // Opened for writing without truncation and with every sharing allowed: this open
    // changes nothing and disturbs no one.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return PlatformRecordSystemFailure();
    CloseHandle(file);
    return 1;
}

void CliSetDisposable(const char *folder, const char *file) {
    EnterCriticalSection(&stateLock);
    CopyPath(disposableFolder, folder);
    CopyPath(disposableFile, file);
    LeaveCriticalSection(&stateLock);
}

void CliHoldInterruptions(void) {
    EnterCriticalSection(&stateLock);
    held = 1;
    LeaveCriticalSection(&stateLock);
}

void CliReleaseInterruptions(void) {
    EnterCriticalSection(&stateLock);
    held = 0;
    if (interrupted) {
        Dispose();
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    LeaveCriticalSection(&stateLock);
}

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

void CliPathText(const char *path, char *out, size_t size) { PutUtf8(Wide(path, CP_ACP), out, size); }

void CliDescribeFailure(PlatformFailure failure, char *out, size_t size) {
    if (size == 0) return;
    out[0] = '\0';
    if (failure.code == 0) return;
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    WCHAR text[REASON_LIMIT];
    // In the language of the messages where the system has it, else in the user's.
    DWORD length = japanese ? FormatMessageW(flags, NULL, (DWORD)failure.code,
                                             MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), text, REASON_LIMIT, NULL)
                            : 0;
    if (length == 0) length = FormatMessageW(flags, NULL, (DWORD)failure.code, 0, text, REASON_LIMIT, NULL);
    // The system ends its sentences with a line end.
    while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r' || text[length - 1] == L' '))
        length--;
    if (length == 0)
        snprintf(out, size, "error %lu", (unsigned long)failure.code);
    else
        PutUtf8(std::wstring(text, length), out, size);
}

void CliWriteError(const char *file, const char *text) {
    if (Stopping()) return;
    std::wstring message = L"kavoconv: ";
    if (file) message += Wide(file, CP_ACP) + L": ";
    WriteText(STD_ERROR_HANDLE, message + Wide(text, CP_UTF8) + L"\n");
}

void CliWriteErrorLine(const char *text) {
    if (Stopping()) return;
    WriteText(STD_ERROR_HANDLE, Wide(text, CP_UTF8) + L"\n");
}

void CliWriteOutput(const char *text) { WriteText(STD_OUTPUT_HANDLE, Wide(text, CP_UTF8)); }
