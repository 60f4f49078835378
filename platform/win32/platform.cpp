// The platform layer on Win32: ANSI calls, with the access rights and share modes that
// keep other writers away from the files of a running conversion.
#include "platform.h"

#include <stdio.h>
#include <string.h>

#include <atomic>

namespace {

enum { CONSOLE_STOP_MILLISECONDS = 100 };

PlatformMessageHook messageHook;
std::atomic<unsigned long long> bytesRead;
PlatformFailure lastFailure = {PLATFORM_FAILURE_OTHER, 0};
int (*stopCheck)(void);

// An operation the user stopped, as the system words it.
int Stopped() {
    if (!stopCheck || !stopCheck()) return 0;
    lastFailure = PlatformFailure{PLATFORM_FAILURE_OTHER, (long)ERROR_OPERATION_ABORTED};
    return 1;
}

PlatformFailureKind KindOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE: return PLATFORM_FAILURE_NOT_FOUND;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return PLATFORM_FAILURE_ACCESS;
    case ERROR_DIRECTORY: return PLATFORM_FAILURE_FOLDER;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW: return PLATFORM_FAILURE_NAME_TOO_LONG;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return PLATFORM_FAILURE_NO_SPACE;
    default: return PLATFORM_FAILURE_OTHER;
    }
}

// Records the calling thread's last error as the failure; returns 0 for the caller.
int Fail(void) {
    const DWORD error = GetLastError();
    lastFailure = PlatformFailure{KindOf(error), (long)error};
    return 0;
}

int FailAs(PlatformFailureKind kind) {
    lastFailure = PlatformFailure{kind, 0};
    return 0;
}

// A folder is refused with "access denied"; the user is better told what it is.
int FailOn(const char *path) {
    Fail();
    const DWORD attributes = GetFileAttributesA(path);
    if (lastFailure.kind == PLATFORM_FAILURE_ACCESS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
        lastFailure.kind = PLATFORM_FAILURE_FOLDER;
    return 0;
}

// Writes every byte; returns 0, or the system's error code.
DWORD WriteOut(HANDLE file, const unsigned char *buffer, unsigned long size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, buffer, size, &written, NULL)) return GetLastError();
        if (written == 0) return ERROR_HANDLE_DISK_FULL;
        buffer += written;
        size -= written;
    }
    return 0;
}

// Writing ahead: one thread, started when first needed, writes what PlatformWriteStart
// hands it while the caller goes on. The events order the hand-over both ways. The thread
// only keeps the error code; PlatformWriteFinish records it on the caller's thread.
struct WriteAhead {
    HANDLE thread;
    HANDLE posted;  // set by PlatformWriteStart (resets when the thread wakes)
    HANDLE done;    // set by the thread when the bytes are written (resets when waited for)
    int under;      // 1 from PlatformWriteStart to PlatformWriteFinish
    int busy;       // the thread has the write (not when a stop refused it)
    HANDLE file;
    const unsigned char *buffer;
    unsigned long size;
    DWORD error;
};
WriteAhead ahead;

DWORD WINAPI WriteAheadThread(LPVOID) {
    for (;;) {
        if (WaitForSingleObject(ahead.posted, INFINITE) != WAIT_OBJECT_0) return 1;
        ahead.error = WriteOut(ahead.file, ahead.buffer, ahead.size);
        SetEvent(ahead.done);
    }
}

int FileId(HANDLE file, BY_HANDLE_FILE_INFORMATION *info) {
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, info);
}

int SameId(const BY_HANDLE_FILE_INFORMATION &x, const BY_HANDLE_FILE_INFORMATION &y) {
    return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

// Opens a file only to ask about it: no access to its bytes, and nobody shut out.
HANDLE OpenToQuery(const char *path) {
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

// The length of path's folder part with its final separator, found by characters: the
// second byte of a two-byte character may be 0x5C.
size_t FolderLength(const char *path) {
    size_t cut = 0;
    for (size_t i = 0; path[i] != '\0'; i++) {
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':')
            cut = i + 1;
        else if (IsDBCSLeadByte((BYTE)path[i]) && path[i + 1] != '\0')
            i++;
    }
    return cut;
}

}  // namespace

PlatformFailure PlatformLastFailure(void) { return lastFailure; }

int PlatformRecordSystemFailure(void) { return Fail(); }

void PlatformSetLastFailure(PlatformFailure failure) { lastFailure = failure; }

void PlatformDescribeFailure(PlatformFailure failure, char *out, unsigned long size) {
    if (size == 0) return;
    out[0] = '\0';
    if (failure.code == 0) return;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  (DWORD)failure.code, 0, out, size, NULL);
    // The system ends its sentences with a line end.
    while (length > 0 && (out[length - 1] == '\n' || out[length - 1] == '\r' || out[length - 1] == ' '))
        out[--length] = '\0';
    if (length == 0) snprintf(out, size, "error %lu", (unsigned long)failure.code);
}

int PlatformOpenSource(const char *path, PlatformFile *file) {
    // Others may read the source meanwhile, but nobody may write it, under any name.
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (handle == INVALID_HANDLE_VALUE) return FailOn(path);
    *file = handle;
    return 1;
}

int PlatformCreateOutput(const char *path, PlatformFile *file) {
    // No sharing: this fails on the open source, whatever name it is reached by.
    HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (handle == INVALID_HANDLE_VALUE) return FailOn(path);
    *file = handle;
    return 1;
}

int PlatformCreateNew(const char *path, PlatformFile *file) {
    HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (handle == INVALID_HANDLE_VALUE) return FailOn(path);
    *file = handle;
    return 1;
}

int PlatformRead(PlatformFile file, unsigned char *buffer, unsigned long size, unsigned long *count) {
    // The source is open with read sharing only, so no other program can cut it short.
    if (Stopped()) return 0;
    DWORD got = 0;
    if (!ReadFile(file, buffer, size, &got, NULL)) {
        // A pipe whose writer has gone is the end of its input, not a failure.
        if (GetLastError() != ERROR_BROKEN_PIPE) return Fail();
        got = 0;
    }
    // Ctrl-C ends a read of the console as the end of its input does, with no bytes, while
    // the console's handler is still on its way: the end is taken for real only if no stop
    // follows within a tenth of a second.
    DWORD mode;
    if (got == 0 && stopCheck && GetConsoleMode(file, &mode)) {
        for (int waited = 0; waited < CONSOLE_STOP_MILLISECONDS; waited += 10) {
            if (Stopped()) return 0;
            Sleep(10);
        }
        if (Stopped()) return 0;
    }
    *count = got;
    bytesRead.fetch_add(got, std::memory_order_relaxed);
    return 1;
}

unsigned long long PlatformBytesRead(void) { return bytesRead.load(std::memory_order_relaxed); }

// Reads copy here. A view of the file would turn a failing read (a device error) into an
// exception that a build with this compiler cannot catch as a read failure.
int PlatformReadInPlace(PlatformFile, unsigned long, unsigned long *, PlatformBytesUser, void *) { return 0; }

int PlatformWrite(PlatformFile file, const unsigned char *buffer, unsigned long size) {
    if (Stopped()) return 0;
    const DWORD error = WriteOut(file, buffer, size);
    if (error == 0) return 1;
    SetLastError(error);
    return Fail();
}

// Disk files only: a pipe's reader may be waiting for what was converted before the input
// paused, and is served by PlatformWrite as before.
int PlatformWritesAhead(PlatformFile file) {
    if (GetFileType(file) != FILE_TYPE_DISK) return 0;
    if (!ahead.thread) {
        if (!ahead.posted) ahead.posted = CreateEventA(NULL, FALSE, FALSE, NULL);
        if (!ahead.done) ahead.done = CreateEventA(NULL, FALSE, FALSE, NULL);
        if (ahead.posted && ahead.done) ahead.thread = CreateThread(NULL, 0, WriteAheadThread, NULL, 0, NULL);
    }
    return ahead.thread != NULL;
}

void PlatformWriteStart(PlatformFile file, const unsigned char *buffer, unsigned long size) {
    ahead.file = file;
    ahead.buffer = buffer;
    ahead.size = size;
    ahead.under = 1;
    ahead.busy = !Stopped();
    if (ahead.busy) SetEvent(ahead.posted);
    else ahead.error = ERROR_OPERATION_ABORTED;
}

int PlatformWriteFinish(PlatformFile file) {
    if (!ahead.under || ahead.file != file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return Fail();
    }
    if (ahead.busy) WaitForSingleObject(ahead.done, INFINITE);
    ahead.under = ahead.busy = 0;
    if (ahead.error == 0) return 1;
    SetLastError(ahead.error);
    return Fail();
}

int PlatformClose(PlatformFile file) {
    if (ahead.under && ahead.file == file) PlatformWriteFinish(file);  // never while the thread writes to it
    return CloseHandle(file) != 0 || Fail();
}

int PlatformCopyOver(const char *from, const char *to) { return CopyFileA(from, to, FALSE) != 0 || FailOn(to); }

PlatformReplacement PlatformHowToReplace(const char *dest, PlatformFile source, char *target) {
    target[0] = '\0';
    if (dest[0] == '\0') {  // no name is no file
        SetLastError(ERROR_PATH_NOT_FOUND);
        return (PlatformReplacement)Fail();
    }
    const DWORD attributes = GetFileAttributesA(dest);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return (PlatformReplacement)Fail();
        if (strlen(dest) >= MAX_PATH) return (PlatformReplacement)FailAs(PLATFORM_FAILURE_NAME_TOO_LONG);
        memcpy(target, dest, strlen(dest) + 1);  // a new file: nothing of an old one to lose
        return PLATFORM_REPLACE_RENAME;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {  // with the system's words for opening it, as for a source
        lastFailure = PlatformFailure{PLATFORM_FAILURE_FOLDER, (long)ERROR_ACCESS_DENIED};
        return PLATFORM_REPLACE_REFUSED;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetLastError(ERROR_ACCESS_DENIED);
        return (PlatformReplacement)Fail();
    }
    HANDLE existing = OpenToQuery(dest);
    if (existing == INVALID_HANDLE_VALUE) return (PlatformReplacement)Fail();
    BY_HANDLE_FILE_INFORMATION old, open;
    const int disk = FileId(existing, &old);
    CloseHandle(existing);
    if (!disk) return PLATFORM_REPLACE_STREAM;  // a device: written as it is
    if (FileId(source, &open) && SameId(old, open)) return (PlatformReplacement)FailAs(PLATFORM_FAILURE_SAME_FILE);
    // A file with other names keeps them only if it is written over; so does one that is
    // really a link elsewhere.
    if (old.nNumberOfLinks > 1 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return PLATFORM_REPLACE_COPY;
    if (strlen(dest) >= MAX_PATH) return (PlatformReplacement)FailAs(PLATFORM_FAILURE_NAME_TOO_LONG);
    memcpy(target, dest, strlen(dest) + 1);
    return PLATFORM_REPLACE_RENAME;
}

int PlatformBesideName(const char *path, char *out) {
    static LONG made;
    out[0] = '\0';
    const size_t folder = FolderLength(path);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    char name[48];
    snprintf(name, sizeof name, "~kavoconv-%08lx%08lx%04lx.tmp", (unsigned long)GetCurrentProcessId(),
             (unsigned long)now.LowPart, (unsigned long)(InterlockedIncrement(&made) & 0xFFFF));
    if (folder + strlen(name) >= MAX_PATH) return FailAs(PLATFORM_FAILURE_NAME_TOO_LONG);
    memcpy(out, path, folder);
    memcpy(out + folder, name, strlen(name) + 1);
    return 1;
}

int PlatformRenameOver(const char *from, const char *to) {
    // ReplaceFile gives the new file the old one's attributes, security and times of
    // creation; without an old file there is nothing to keep.
    if (GetFileAttributesA(to) == INVALID_FILE_ATTRIBUTES) return MoveFileExA(from, to, 0) != 0 || Fail();
    return ReplaceFileA(to, from, NULL, 0, NULL, NULL) != 0 || Fail();
}

namespace {

int Stamp(HANDLE file, PlatformFileStamp *stamp) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return Fail();
    stamp->identity[0] = info.dwVolumeSerialNumber;
    stamp->identity[1] = (unsigned long long)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    stamp->size = (unsigned long long)info.nFileSizeHigh << 32 | info.nFileSizeLow;
    stamp->modified = (unsigned long long)info.ftLastWriteTime.dwHighDateTime << 32 | info.ftLastWriteTime.dwLowDateTime;
    stamp->changed = (unsigned long long)info.ftCreationTime.dwHighDateTime << 32 | info.ftCreationTime.dwLowDateTime;
    return 1;
}

}  // namespace

int PlatformStampFile(PlatformFile file, PlatformFileStamp *stamp) { return Stamp(file, stamp); }

int PlatformStampPath(const char *path, PlatformFileStamp *stamp) {
    HANDLE file = OpenToQuery(path);
    if (file == INVALID_HANDLE_VALUE) return FailOn(path);
    BY_HANDLE_FILE_INFORMATION info;
    const int disk = FileId(file, &info);
    int stamped = disk && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && Stamp(file, stamp);
    CloseHandle(file);
    if (!disk) return FailAs(PLATFORM_FAILURE_NOT_REGULAR);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FailAs(PLATFORM_FAILURE_FOLDER);
    return stamped;
}

int PlatformStampUnchanged(const char *path, const PlatformFileStamp *stamp) {
    HANDLE file = OpenToQuery(path);
    if (file == INVALID_HANDLE_VALUE) return Fail();
    PlatformFileStamp now;
    const int stamped = Stamp(file, &now);
    CloseHandle(file);
    if (!stamped) return 0;
    return memcmp(&now, stamp, sizeof now) == 0 || FailAs(PLATFORM_FAILURE_CHANGED);
}

int PlatformDelete(const char *path) { return DeleteFileA(path) != 0 || Fail(); }

int PlatformSameName(const char *a, const char *b) { return lstrcmpiA(a, b) == 0; }

int PlatformGetExecutablePath(char *out, unsigned long size) {
    if (size == 0) return 0;
    DWORD length = GetModuleFileNameA(NULL, out, size);
    // A path that fills the buffer may have been cut (and, on old systems, unterminated).
    if (length == 0 || length >= size) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int PlatformIsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

PlatformFile PlatformStandardInput(void) { return GetStdHandle(STD_INPUT_HANDLE); }
PlatformFile PlatformStandardOutput(void) { return GetStdHandle(STD_OUTPUT_HANDLE); }

int PlatformSameFile(PlatformFile a, PlatformFile b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    return FileId(a, &x) && FileId(b, &y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

void PlatformShowMessage(PlatformWindow owner, const char *text, const char *caption, PlatformIcon icon) {
    if (messageHook) {
        messageHook(owner, text, caption, icon);
        return;
    }
    MessageBoxA(owner, text, caption, MB_OK | (icon == PLATFORM_ICON_ERROR ? MB_ICONERROR : MB_ICONINFORMATION));
}

void PlatformSetMessageHook(PlatformMessageHook hook) { messageHook = hook; }

void PlatformSetStopCheck(int (*stop)(void)) { stopCheck = stop; }
