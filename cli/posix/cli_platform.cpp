// The command-line front end on POSIX. In-place conversions go through a fresh folder
// under $XDG_CACHE_HOME/kavo (else ~/.cache/kavo), mode 0700, so the temporary file is
// never a predictable name in a shared folder nor one that two runs share.
#include "cli_platform.h"
#include "path_utils.h"
#include "locale_text.h"

#include <errno.h>
#include <locale.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

const char CLI_WORK_ROOT_DESCRIPTION[] = "$XDG_CACHE_HOME/kavo, else ~/.cache/kavo (mode 0700)";

namespace {

const char *HomeDir() {
    const char *home = getenv("HOME");
    if (home && home[0] == '/') return home;
    struct passwd *entry = getpwuid(geteuid());
    return entry && entry->pw_dir && entry->pw_dir[0] == '/' ? entry->pw_dir : nullptr;
}

// The folder the per-user cache lives in, created with mode 0700 when it is missing.
int CacheDir(char *out) {
    out[0] = '\0';
    const char *cache = getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') {  // a relative value is to be ignored
        if (!AppendPath(out, cache)) return 0;
    } else {
        const char *home = HomeDir();
        if (!home || !AppendPath(out, home) || !AppendPath(out, "/.cache")) return 0;
    }
    return mkdir(out, 0700) == 0 || errno == EEXIST;
}

// Makes sure path is a folder of this user's that nobody else can enter: not a link, and
// mode 0700 (tightened when it was looser).
int MakePrivateDir(const char *path) {
    if (mkdir(path, 0700) != 0 && errno != EEXIST) return 0;
    struct stat info;
    if (lstat(path, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) return 0;
    return (info.st_mode & 0777) == 0700 || chmod(path, 0700) == 0;
}

}  // namespace

void CliInit(void) { setlocale(LC_ALL, ""); }

int CliCreateWorkDir(char *out) {
    char path[MAX_PATH + 1];
    out[0] = '\0';
    if (!CacheDir(path) || !AppendPath(path, "/kavo") || !MakePrivateDir(path) || !AppendPath(path, "/XXXXXX") ||
        !mkdtemp(path) || !AppendPath(path, "/"))
        return 0;
    memcpy(out, path, strlen(path) + 1);
    return 1;
}

int CliRemoveWorkDir(const char *dir) { return rmdir(dir) == 0; }

int CliSameFile(PlatformFile a, PlatformFile b) {
    struct stat x, y;
    return fstat(a, &x) == 0 && fstat(b, &y) == 0 && S_ISREG(x.st_mode) && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}

int CliNamesFile(const char *path, PlatformFile file) {
    struct stat x, y;
    return stat(path, &x) == 0 && fstat(file, &y) == 0 && S_ISREG(x.st_mode) && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}

void CliWriteError(const char *prefix, const char *text, CliTextKind kind) {
    fputs(prefix, stderr);
    fputs(": ", stderr);
    if (kind == CLI_PATH_TEXT) {
        fputs(text, stderr);  // file names are bytes; the terminal shows them as ls would
    } else {
        WriteInLocale(stderr, text);
    }
    fputc('\n', stderr);
    fflush(stderr);
}
