// The command-line front end on Win32. In-place conversions go through a fresh folder
// under the user's local application data (%LOCALAPPDATA%\kavo), which the profile's
// access rights keep to the user; a folder per run keeps two runs apart.
#include "cli_platform.h"
#include "path_utils.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

const char CLI_WORK_ROOT_DESCRIPTION[] = "%LOCALAPPDATA%\\kavo";

namespace {

// The code page of the program's own strings: they are compiled as Shift_JIS.
enum { PROGRAM_CODE_PAGE = 932, MESSAGE_LIMIT = 1024 };

int FileId(HANDLE file, BY_HANDLE_FILE_INFORMATION *info) {
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, info);
}

int SameId(const BY_HANDLE_FILE_INFORMATION &x, const BY_HANDLE_FILE_INFORMATION &y) {
    return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

// Converts text from one code page to another into out; 0 when it cannot.
int Recode(const char *text, UINT from, UINT to, char *out, int size) {
    WCHAR wide[MESSAGE_LIMIT];
    if (MultiByteToWideChar(from, 0, text, -1, wide, MESSAGE_LIMIT) == 0) return 0;
    return WideCharToMultiByte(to, 0, wide, -1, out, size, NULL, NULL) != 0;
}

}  // namespace

void CliInit(void) {
    // A missing drive or disk is a failed open here, not a box waiting for a click.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
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

int CliSameFile(PlatformFile a, PlatformFile b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    return FileId(a, &x) && FileId(b, &y) && SameId(x, y);
}

int CliNamesFile(const char *path, PlatformFile file) {
    // No access asked and every sharing allowed: this open disturbs no one.
    HANDLE named = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (named == INVALID_HANDLE_VALUE) return 0;
    int same = CliSameFile(named, file);
    CloseHandle(named);
    return same;
}

void CliWriteError(const char *prefix, const char *text, CliTextKind kind) {
    UINT from = kind == CLI_PATH_TEXT ? GetACP() : (UINT)PROGRAM_CODE_PAGE;
    UINT to = GetConsoleOutputCP();
    if (to == 0) to = GetACP();  // no console: the system's code page
    char converted[2 * MESSAGE_LIMIT];
    const char *shown = text;
    if (from != to && Recode(text, from, to, converted, sizeof converted)) shown = converted;
    fputs(prefix, stderr);
    fputs(": ", stderr);
    fputs(shown, stderr);
    fputc('\n', stderr);
    fflush(stderr);
}
