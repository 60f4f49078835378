// The command-line front end on POSIX. Conversions through Temp.dat go through a fresh
// folder under $XDG_CACHE_HOME/kavo (else ~/.cache/kavo), mode 0700, so the temporary file
// is never a predictable name in a shared folder nor one that two runs share. Signals that
// end the process first remove what the conversion made there, unless held. Messages come
// from the gettext catalog installed beside the program (bin/../share/locale).
#include "cli_platform.h"
#include "path_utils.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <libintl.h>
#include <locale.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define N_(text) text
const char CLI_WORK_ROOT_DESCRIPTION[] = N_("$XDG_CACHE_HOME/kavo, else ~/.cache/kavo (mode 0700)");

namespace {

const char DOMAIN[] = "kavoconv";
const char RECORD_NAME[] = "record";  // no longer than "Temp.dat", so that it always fits where that does
enum { TICK_MILLISECONDS = 250, OWN_FOLDERS = 4, MESSAGE_LIMIT = 16 * 1024 };

// Signals whose default is to end the process and that come from outside it (the faults
// a program causes itself, SIGSEGV and the like, cannot be held, and debuggers own SIGTRAP).
const int TERMINATING[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGABRT, SIGUSR1,   SIGUSR2, SIGPIPE, SIGALRM,
                           SIGTERM, SIGXCPU, SIGXFSZ,   SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR,
#ifdef SIGSTKFLT
                           SIGSTKFLT,
#endif
};

sigset_t interruptions;  // those whose handler is ours

// What a signal removes before it ends the process. Written only while the signals are
// blocked, so the handler never sees a path half copied.
enum { DISPOSE_FOLDER = 1, DISPOSE_FILE = 2 };
volatile sig_atomic_t disposable;
char disposableFolder[MAX_PATH + 1];
char disposableRecord[MAX_PATH + 1];
char disposableFile[MAX_PATH + 1];

// The records of this process's own folders, held open and locked.
struct OwnFolder {
    char dir[MAX_PATH + 1];
    int record;  // -1: slot free
};
OwnFolder ownFolders[OWN_FOLDERS] = {{"", -1}, {"", -1}, {"", -1}, {"", -1}};

pthread_t tickerThread;
int tickerRunning;
pthread_mutex_t tickerLock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t tickerWake = PTHREAD_COND_INITIALIZER;
int tickerStop;
void (*tickFunction)(void);

int Join(char *out, const char *first, const char *second) {
    out[0] = '\0';
    return AppendPath(out, first) && AppendPath(out, second);
}

void OnInterruption(int signal) {
    if (disposable & DISPOSE_FILE) unlink(disposableFile);
    if (disposable & DISPOSE_FOLDER) {
        unlink(disposableRecord);
        rmdir(disposableFolder);
    }
    // SA_RESETHAND made the default action current again and SA_NODEFER left the signal
    // unblocked: it ends the process now, with the status a shell reports for it.
    raise(signal);
}

void *RunTicker(void *) {
    pthread_mutex_lock(&tickerLock);
    while (!tickerStop) {
        struct timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += TICK_MILLISECONDS * 1000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec++;
            until.tv_nsec -= 1000000000L;
        }
        if (pthread_cond_timedwait(&tickerWake, &tickerLock, &until) == ETIMEDOUT && !tickerStop) tickFunction();
    }
    pthread_mutex_unlock(&tickerLock);
    return nullptr;
}

const char *HomeDir() {
    const char *home = getenv("HOME");
    if (home && home[0] == '/') return home;
    struct passwd *entry = getpwuid(geteuid());
    return entry && entry->pw_dir && entry->pw_dir[0] == '/' ? entry->pw_dir : nullptr;
}

// Makes sure path is a folder of this user's that nobody else can enter: not a link, and
// mode 0700 (tightened when it was looser).
int MakePrivateDir(const char *path) {
    if (mkdir(path, 0700) != 0 && errno != EEXIST) return PlatformRecordSystemFailure();
    struct stat info;
    if (lstat(path, &info) != 0) return PlatformRecordSystemFailure();
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return PlatformRecordSystemFailure();
    }
    if (info.st_uid != geteuid()) {  // another user's (left by a run as root, say)
        errno = EACCES;
        return PlatformRecordSystemFailure();
    }
    return (info.st_mode & 0777) == 0700 || chmod(path, 0700) == 0 || PlatformRecordSystemFailure();
}

void CopyPath(char *out, const char *path) {
    out[0] = '\0';
    if (path && !AppendPath(out, path)) out[0] = '\0';
}

int WriteText(int fd, const char *text) {
    for (size_t left = strlen(text); left > 0;) {
        ssize_t written = write(fd, text, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return 0;
        text += written;
        left -= (size_t)written;
    }
    return 1;
}

int SyncPath(const char *path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return PlatformRecordSystemFailure();
    const int synced = fdatasync(fd) == 0 || PlatformRecordSystemFailure();
    close(fd);
    return synced;
}

void WriteWhole(int fd, const char *bytes, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes += written;
        length -= (size_t)written;
    }
}

// "kavoconv: file: text" and a line end, written in one call where it fits.
void WriteMessage(int fd, const char *file, const char *text) {
    static char message[2 * MAX_PATH + MESSAGE_LIMIT];
    snprintf(message, sizeof message, "kavoconv: %s%s%s\n", file ? file : "", file ? ": " : "", text);
    WriteWhole(fd, message, strlen(message));
}

}  // namespace

void CliInit(void) {
    setlocale(LC_ALL, "");
    // The catalogs lie beside the program, as the install and the build tree put them.
    char exe[MAX_PATH + 1], locales[MAX_PATH + 1];
    char *slash = PlatformGetExecutablePath(exe, sizeof exe) ? strrchr(exe, '/') : nullptr;
    if (slash) {
        *slash = '\0';
        if (Join(locales, exe, "/../share/locale")) bindtextdomain(DOMAIN, locales);
    }
    textdomain(DOMAIN);

    sigemptyset(&interruptions);
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnInterruption;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int signal : TERMINATING) sigaddset(&action.sa_mask, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; signal++) sigaddset(&action.sa_mask, signal);
    auto take = [&](int signal) {
        struct sigaction old;
        // A signal ignored from the start (nohup, a background job) stays ignored.
        if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
        if (sigaction(signal, &action, nullptr) == 0) sigaddset(&interruptions, signal);
    };
    for (int signal : TERMINATING) take(signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; signal++) take(signal);
}

const char *CliText(const char *english) { return dgettext(DOMAIN, english); }

int CliWorkRoot(char *out) {
    out[0] = '\0';
    char cache[MAX_PATH + 1];
    const char *xdg = getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') {  // a relative value is to be ignored
        CopyPath(cache, xdg);
    } else {
        const char *home = HomeDir();
        if (!home || !Join(cache, home, "/.cache")) cache[0] = '\0';
    }
    if (cache[0] == '\0') {  // no home folder, or one too deep
        errno = ENOENT;
        return PlatformRecordSystemFailure();
    }
    if (!Join(out, cache, "/kavo")) {
        CopyPath(out, cache);
        errno = ENAMETOOLONG;
        return PlatformRecordSystemFailure();
    }
    if (mkdir(cache, 0700) != 0 && errno != EEXIST) return PlatformRecordSystemFailure();
    if (!MakePrivateDir(out)) return 0;
    if (!AppendPath(out, "/")) {
        errno = ENAMETOOLONG;
        return PlatformRecordSystemFailure();
    }
    return 1;
}

int CliCreateWorkDir(const char *root, const char *record, char *out) {
    out[0] = '\0';
    OwnFolder *slot = nullptr;
    for (OwnFolder &own : ownFolders)
        if (own.record < 0) slot = &own;
    char dir[MAX_PATH + 1], recordPath[MAX_PATH + 1];
    if (!slot || !Join(dir, root, "XXXXXX")) {
        errno = slot ? ENAMETOOLONG : EMFILE;
        return PlatformRecordSystemFailure();
    }
    if (!mkdtemp(dir)) return PlatformRecordSystemFailure();
    if (!AppendPath(dir, "/") || !Join(recordPath, dir, RECORD_NAME)) {  // no file in it could be named
        rmdir(dir);
        errno = ENAMETOOLONG;
        return PlatformRecordSystemFailure();
    }
    // Locked before anything is in it, so that no other run takes it for one left behind.
    int fd = open(recordPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 || flock(fd, LOCK_EX) != 0 || !WriteText(fd, record)) {
        PlatformRecordSystemFailure();
        if (fd >= 0) close(fd);
        unlink(recordPath);
        rmdir(dir);
        return 0;
    }
    CopyPath(slot->dir, dir);
    slot->record = fd;
    memcpy(out, dir, strlen(dir) + 1);
    return 1;
}

int CliMarkWorkDir(const char *dir, const char *first, const char *line) {
    for (OwnFolder &own : ownFolders) {
        if (own.record < 0 || strcmp(own.dir, dir) != 0) continue;
        return SyncPath(first) && WriteText(own.record, line) && WriteText(own.record, "\n") &&
               (fdatasync(own.record) == 0 || PlatformRecordSystemFailure());
    }
    errno = ENOENT;
    return PlatformRecordSystemFailure();
}

int CliRemoveWorkDir(const char *dir) {
    char recordPath[MAX_PATH + 1];
    if (!Join(recordPath, dir, RECORD_NAME)) return 0;
    // The record goes first and the lock with it: a folder without one is never taken
    // for another run's.
    const int removed = unlink(recordPath) == 0 || errno == ENOENT;
    for (OwnFolder &own : ownFolders) {
        if (own.record >= 0 && strcmp(own.dir, dir) == 0) {
            close(own.record);
            own.record = -1;
        }
    }
    return removed && rmdir(dir) == 0;
}

void CliEachLeftWorkDir(const char *root, CliLeftWorkDirVisitor visit, void *context) {
    DIR *folder = opendir(root);
    if (!folder) return;
    while (struct dirent *entry = readdir(folder)) {
        char dir[MAX_PATH + 1], recordPath[MAX_PATH + 1];
        if (entry->d_name[0] == '.' || !Join(dir, root, entry->d_name) || !AppendPath(dir, "/") ||
            !Join(recordPath, dir, RECORD_NAME))
            continue;
        int fd = open(recordPath, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        // Locked by a run that is still going: not left behind.
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            static char record[4096];
            ssize_t got = read(fd, record, sizeof record - 1);
            record[got > 0 ? got : 0] = '\0';
            visit(dir, record, context);
        }
        close(fd);
    }
    closedir(folder);
}

int CliLockFile(const char *path, long *token) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return PlatformRecordSystemFailure();
    struct stat info;
    if (fstat(fd, &info) != 0) {
        PlatformRecordSystemFailure();
        close(fd);
        return 0;
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        if (S_ISDIR(info.st_mode)) {
            errno = EISDIR;
            return PlatformRecordSystemFailure();
        }
        PlatformSetLastFailure(PlatformFailure{PLATFORM_FAILURE_NOT_REGULAR, 0});
        return 0;
    }
    // An interruption during the wait ends the process.
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            PlatformRecordSystemFailure();
            close(fd);
            return 0;
        }
    }
    *token = fd;
    return 1;
}

void CliUnlockFile(long token) {
    if (token >= 0) close((int)token);  // the lock goes with the last descriptor of this open
}

int CliMayWrite(const char *path) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return 1;
    return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0 || PlatformRecordSystemFailure();
}

void CliSetDisposable(const char *folder, const char *file) {
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &interruptions, &old);
    CopyPath(disposableFolder, folder);
    if (!folder || !Join(disposableRecord, folder, RECORD_NAME)) disposableRecord[0] = '\0';
    CopyPath(disposableFile, file);
    disposable = (disposableFolder[0] ? DISPOSE_FOLDER : 0) | (disposableFile[0] ? DISPOSE_FILE : 0);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void CliHoldInterruptions(void) { pthread_sigmask(SIG_BLOCK, &interruptions, nullptr); }
void CliReleaseInterruptions(void) { pthread_sigmask(SIG_UNBLOCK, &interruptions, nullptr); }

int CliErrorIsTerminal(void) { return isatty(STDERR_FILENO); }
int CliOutputIsTerminal(void) { return isatty(STDOUT_FILENO); }

void CliStartTicker(void (*tick)(void)) {
    tickFunction = tick;
    tickerStop = 0;
    // The ticker takes no signal: they are all for the main thread to take or hold.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    tickerRunning = pthread_create(&tickerThread, nullptr, RunTicker, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void CliStopTicker(void) {
    if (!tickerRunning) return;
    pthread_mutex_lock(&tickerLock);
    tickerStop = 1;
    pthread_cond_signal(&tickerWake);
    pthread_mutex_unlock(&tickerLock);
    pthread_join(tickerThread, nullptr);
    tickerRunning = 0;
}

void CliHoldTicker(void) { pthread_mutex_lock(&tickerLock); }
void CliReleaseTicker(void) { pthread_mutex_unlock(&tickerLock); }

unsigned long CliMilliseconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (unsigned long)now.tv_sec * 1000UL + (unsigned long)(now.tv_nsec / 1000000);
}

void CliWriteRaw(const char *bytes, size_t length) { WriteWhole(STDERR_FILENO, bytes, length); }

void CliPathText(const char *path, char *out, size_t size) { snprintf(out, size, "%s", path); }

void CliDescribeFailure(PlatformFailure failure, char *out, size_t size) {
    PlatformDescribeFailure(failure, out, (unsigned long)size);
}

// Texts arrive in the locale's encoding (gettext and strerror convert their catalogs);
// file names are bytes, shown as ls would show them.
void CliWriteError(const char *file, const char *text) { WriteMessage(STDERR_FILENO, file, text); }

void CliWriteErrorLine(const char *text) {
    WriteWhole(STDERR_FILENO, text, strlen(text));
    WriteWhole(STDERR_FILENO, "\n", 1);
}

void CliWriteOutput(const char *text) {
    fputs(text, stdout);
    fflush(stdout);
}
