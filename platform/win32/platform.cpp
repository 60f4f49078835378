// The platform layer on Win32: ANSI calls, with the access rights and share modes that
// keep other writers away from the files of a running conversion.
#include "platform.h"

#include <atomic>

namespace {

PlatformMessageHook messageHook;
std::atomic<unsigned long long> bytesRead;

// Writing ahead: one thread, started when first needed, writes what PlatformWriteStart
// hands it while the caller goes on. The events order the hand-over both ways.
struct WriteAhead {
    HANDLE thread;
    HANDLE posted;  // set by PlatformWriteStart (resets when the thread wakes)
    HANDLE done;    // set by the thread when the bytes are written (resets when waited for)
    int under;      // 1 from PlatformWriteStart to PlatformWriteFinish
    HANDLE file;
    const unsigned char *buffer;
    unsigned long size;
    int written;
    DWORD error;
};
WriteAhead ahead;

DWORD WINAPI WriteAheadThread(LPVOID) {
    for (;;) {
        if (WaitForSingleObject(ahead.posted, INFINITE) != WAIT_OBJECT_0) return 1;
        ahead.written = PlatformWrite(ahead.file, ahead.buffer, ahead.size);
        ahead.error = GetLastError();
        SetEvent(ahead.done);
    }
}

int FileId(HANDLE file, BY_HANDLE_FILE_INFORMATION *info) {
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, info);
}

}  // namespace

int PlatformOpenSource(const char *path, PlatformFile *file) {
    // Others may read the source meanwhile, but nobody may write it, under any name.
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    *file = handle;
    return 1;
}

int PlatformCreateOutput(const char *path, PlatformFile *file) {
    // No sharing: this fails on the open source, whatever name it is reached by.
    HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    *file = handle;
    return 1;
}

int PlatformRead(PlatformFile file, unsigned char *buffer, unsigned long size, unsigned long *count) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, size, &got, NULL)) {
        // A pipe whose writer has gone is the end of its input, not a failure.
        if (GetLastError() != ERROR_BROKEN_PIPE) return 0;
        got = 0;
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
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, buffer, size, &written, NULL) || written == 0) return 0;
        buffer += written;
        size -= written;
    }
    return 1;
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
    SetEvent(ahead.posted);
}

int PlatformWriteFinish(PlatformFile file) {
    if (!ahead.under || ahead.file != file) return 0;
    WaitForSingleObject(ahead.done, INFINITE);
    ahead.under = 0;
    SetLastError(ahead.error);
    return ahead.written;
}

int PlatformClose(PlatformFile file) {
    if (ahead.under && ahead.file == file) PlatformWriteFinish(file);  // never while the thread writes to it
    return CloseHandle(file) != 0;
}

int PlatformCopyOver(const char *from, const char *to) { return CopyFileA(from, to, FALSE) != 0; }

int PlatformDelete(const char *path) { return DeleteFileA(path) != 0; }

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
