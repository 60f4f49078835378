// The command-line front end on POSIX. In-place conversions go through a fresh folder
// under $XDG_CACHE_HOME/kavo (else ~/.cache/kavo), mode 0700, so the temporary file is
// never a predictable name in a shared folder nor one that two runs share. Signals that
// end the process first remove what the conversion made there, unless held.
#include "cli_platform.h"
#include "path_utils.h"
#include "locale_text.h"

#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

const char CLI_WORK_ROOT_DESCRIPTION[] = "$XDG_CACHE_HOME/kavo, else ~/.cache/kavo (mode 0700)";
const char CLI_IN_PLACE_PROMISE[] =
    "The copy back first reserves the space for the whole text, so a full disk\n"
    "leaves the file as it was. After SIGINT, SIGTERM or SIGHUP the file is the\n"
    "original or the whole conversion: before the copy back the folder is removed\n"
    "at once, during it the signal waits until the copy is done. Two kavoconv runs\n"
    "in place on one file take turns.\n";

namespace {

const int INTERRUPTIONS[] = {SIGINT, SIGTERM, SIGHUP};
enum { TICK_MICROSECONDS = 250 * 1000 };

sigset_t interruptions;  // those whose handler is ours
sigset_t alarmSignal;

// What a signal removes before it ends the process. Written only while the signals are
// blocked, so the handler never sees a path half copied.
enum { DISPOSE_FOLDER = 1, DISPOSE_FILE = 2 };
volatile sig_atomic_t disposable;
char disposableFolder[MAX_PATH + 1];
char disposableFile[MAX_PATH + 1];

void (*volatile tickFunction)(void);

void OnInterruption(int signal) {
    if (disposable & DISPOSE_FILE) unlink(disposableFile);
    if (disposable & DISPOSE_FOLDER) rmdir(disposableFolder);
    // SA_RESETHAND made the default action current again and SA_NODEFER left the signal
    // unblocked: it ends the process now, with the status a shell reports for it.
    raise(signal);
}

void OnAlarm(int) {
    const int saved = errno;
    void (*tick)(void) = tickFunction;
    if (tick) tick();
    errno = saved;
}

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

void CopyPath(char *out, const char *path) {
    out[0] = '\0';
    if (path && !AppendPath(out, path)) out[0] = '\0';
}

}  // namespace

void CliInit(void) {
    setlocale(LC_ALL, "");
    sigemptyset(&interruptions);
    sigemptyset(&alarmSignal);
    sigaddset(&alarmSignal, SIGALRM);
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnInterruption;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int signal : INTERRUPTIONS) sigaddset(&action.sa_mask, signal);
    sigaddset(&action.sa_mask, SIGALRM);  // no progress line drawn meanwhile
    for (int signal : INTERRUPTIONS) {
        struct sigaction old;
        // A signal ignored from the start (nohup, a background job) stays ignored.
        if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        if (sigaction(signal, &action, nullptr) == 0) sigaddset(&interruptions, signal);
    }
}

int CliCreateWorkDir(char *out) {
    char path[MAX_PATH + 1];
    out[0] = '\0';
    if (!CacheDir(path) || !AppendPath(path, "/kavo") || !MakePrivateDir(path) || !AppendPath(path, "/XXXXXX") ||
        !mkdtemp(path))
        return 0;
    if (!AppendPath(path, "/")) {  // the folder exists, but no file in it could be named
        rmdir(path);
        return 0;
    }
    memcpy(out, path, strlen(path) + 1);
    return 1;
}

int CliRemoveWorkDir(const char *dir) { return rmdir(dir) == 0; }

int CliLockFile(const char *path) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    // Interrupted, the wait ends the process; SIGALRM (the progress line) restarts it.
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

void CliUnlockFile(int token) {
    if (token >= 0) close(token);  // the lock goes with the last descriptor of this open
}

int CliMayWrite(const char *path) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return 1;
    return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
}

void CliSetDisposable(const char *folder, const char *file) {
    sigset_t old;
    sigprocmask(SIG_BLOCK, &interruptions, &old);
    CopyPath(disposableFolder, folder);
    CopyPath(disposableFile, file);
    disposable = (disposableFolder[0] ? DISPOSE_FOLDER : 0) | (disposableFile[0] ? DISPOSE_FILE : 0);
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

void CliHoldInterruptions(void) { sigprocmask(SIG_BLOCK, &interruptions, nullptr); }
void CliReleaseInterruptions(void) { sigprocmask(SIG_UNBLOCK, &interruptions, nullptr); }

int CliErrorIsTerminal(void) { return isatty(STDERR_FILENO); }
int CliOutputIsTerminal(void) { return isatty(STDOUT_FILENO); }

void CliStartTicker(void (*tick)(void)) {
    tickFunction = tick;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnAlarm;
    action.sa_flags = SA_RESTART;  // reads, writes and the lock's wait simply go on
    sigaction(SIGALRM, &action, nullptr);
    struct itimerval every = {{0, TICK_MICROSECONDS}, {0, TICK_MICROSECONDS}};
    setitimer(ITIMER_REAL, &every, nullptr);
}

void CliStopTicker(void) {
    struct itimerval never;
    memset(&never, 0, sizeof never);
    setitimer(ITIMER_REAL, &never, nullptr);
    tickFunction = nullptr;
}

void CliHoldTicker(void) { sigprocmask(SIG_BLOCK, &alarmSignal, nullptr); }
void CliReleaseTicker(void) { sigprocmask(SIG_UNBLOCK, &alarmSignal, nullptr); }

unsigned long CliMilliseconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (unsigned long)now.tv_sec * 1000UL + (unsigned long)(now.tv_nsec / 1000000);
}

void CliWriteRaw(const char *bytes, size_t length) {
    while (length > 0) {
        ssize_t written = write(STDERR_FILENO, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes += written;
        length -= (size_t)written;
    }
}

void CliWriteError(const char *prefix, const char *file, const char *text, CliTextKind kind) {
    fputs(prefix, stderr);
    fputs(": ", stderr);
    if (file) {
        fputs(file, stderr);  // file names are bytes; the terminal shows them as ls would
        fputs(": ", stderr);
    }
    if (kind == CLI_PATH_TEXT) {
        fputs(text, stderr);
    } else {
        WriteInLocale(stderr, text);
    }
    fputc('\n', stderr);
    fflush(stderr);
}
