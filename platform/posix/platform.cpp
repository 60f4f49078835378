// POSIX stand-ins for the Win32 calls. POSIX has no share modes, so the sharing rules of
// the Windows program (a source may be shared only with readers, an output with nobody)
// are kept in a small table of the files this process has open, by device and inode.
#include "platform.h"
#include "locale_text.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <limits.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace {

enum { OPEN_FILE_SLOTS = 16, COPY_BLOCK_SIZE = 64 * 1024 };

struct OpenFile {
    int fd;  // -1: slot free
    dev_t device;
    ino_t inode;
    int writing;
    off_t length;  // a source's length when it was opened; -1 when it has none (a pipe, a device)
};

const OpenFile FREE_SLOT = {-1, 0, 0, 0, -1};
OpenFile openFiles[OPEN_FILE_SLOTS] = {
    FREE_SLOT, FREE_SLOT, FREE_SLOT, FREE_SLOT, FREE_SLOT, FREE_SLOT, FREE_SLOT, FREE_SLOT,
    FREE_SLOT, FREE_SLOT, FREE_SLOT, FREE_SLOT, FREE_SLOT, FREE_SLOT, FREE_SLOT, FREE_SLOT,
};

PlatformMessageHook messageHook;
std::atomic<unsigned long long> bytesRead;
PlatformFailure lastFailure = {PLATFORM_FAILURE_OTHER, 0};
int (*stopCheck)(void);

int Stopped() { return stopCheck && stopCheck(); }

PlatformFailureKind KindOf(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR: return PLATFORM_FAILURE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: return PLATFORM_FAILURE_ACCESS;
    case EISDIR: return PLATFORM_FAILURE_FOLDER;
    case ENAMETOOLONG: return PLATFORM_FAILURE_NAME_TOO_LONG;
    case ENXIO:
    case ENODEV: return PLATFORM_FAILURE_NOT_REGULAR;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return PLATFORM_FAILURE_NO_SPACE;
    default: return PLATFORM_FAILURE_OTHER;
    }
}

// Records a failure with the system's reason; returns 0 for the caller to return.
int Fail(int error) {
    lastFailure = PlatformFailure{KindOf(error), error};
    return 0;
}

int FailAs(PlatformFailureKind kind) {
    lastFailure = PlatformFailure{kind, 0};
    return 0;
}

// Nonzero when the file is open here in a way that forbids the requested access: any
// open output forbids everything; an open source forbids writing.
int SharingForbids(const struct stat &info, int forWriting) {
    for (const OpenFile &slot : openFiles) {
        if (slot.fd < 0 || slot.device != info.st_dev || slot.inode != info.st_ino) continue;
        if (slot.writing || forWriting) return 1;
    }
    return 0;
}

OpenFile *FreeSlot() {
    for (OpenFile &slot : openFiles)
        if (slot.fd < 0) return &slot;
    Fail(EMFILE);
    return nullptr;
}

OpenFile *SlotOf(int fd) {
    for (OpenFile &slot : openFiles)
        if (slot.fd == fd) return &slot;
    return nullptr;
}

int OpenRetrying(const char *path, int flags, mode_t mode) {
    int fd;
    do fd = open(path, flags | O_CLOEXEC | O_NOCTTY, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

int CloseFd(int fd) {
    // After EINTR the descriptor is gone on Linux; retrying could close another file.
    return close(fd) == 0 || errno == EINTR;
}

// Writes out every byte, through short writes and interruptions; returns 0 or the errno.
int WriteOut(int fd, const unsigned char *buffer, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, buffer, size);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno;
        if (written == 0) return ENOSPC;
        buffer += written;
        size -= (size_t)written;
    }
    return 0;
}

int WriteAll(int fd, const unsigned char *buffer, size_t size) {
    const int error = WriteOut(fd, buffer, size);
    return error == 0 || Fail(error);
}

// Where the file system cannot reserve space (ramfs, ext2, ext3, NFSv3, many FUSE file
// systems), whether it has room for `growth` more bytes. A file system that keeps no
// count (ramfs says 0 blocks in all) is given the benefit of the doubt.
int HasRoomFor(int fd, off_t growth) {
    struct statvfs info;
    if (growth <= 0 || fstatvfs(fd, &info) != 0 || info.f_blocks == 0) return 1;
    // A block of slack for the last partial block and the file system's own bookkeeping.
    const unsigned long long needed = (unsigned long long)growth + info.f_frsize;
    return (unsigned long long)info.f_bavail * info.f_frsize >= needed || Fail(ENOSPC);
}

// Makes sure the file can hold `length` bytes before any of its bytes is overwritten. On
// failure the file keeps its old bytes and, should the attempt have moved its end, its
// old length and time of change. fallocate is called itself: glibc's stand-in for file
// systems without it reads through the descriptor, which is open for writing only.
int Reserve(int fd, off_t length, const struct stat &old) {
    if (length == 0) return 1;
    int result;
    do result = fallocate(fd, 0, 0, length);
    while (result != 0 && errno == EINTR);
    if (result == 0) return 1;
    const int error = errno;
    if (error == EOPNOTSUPP || error == ENOSYS) return HasRoomFor(fd, length - old.st_size);
    if (length > old.st_size) {
        // Nothing more can be done if these fail: the copy is refused either way.
        const struct timespec times[2] = {{0, UTIME_OMIT}, old.st_mtim};
        if (ftruncate(fd, old.st_size) == 0) futimens(fd, times);
    }
    return Fail(error);
}

int CopyContents(int from, int to) {
    static unsigned char block[COPY_BLOCK_SIZE];
    for (;;) {
        ssize_t got = read(from, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Fail(errno);
        if (got == 0) return 1;
        if (!WriteAll(to, block, (size_t)got)) return 0;
    }
}

// The folder part of path with its final slash ("" for a bare name) into out.
int FolderOf(const char *path, char *out) {
    const char *slash = strrchr(path, '/');
    const size_t length = slash ? (size_t)(slash - path) + 1 : 0;
    if (length > MAX_PATH) return FailAs(PLATFORM_FAILURE_NAME_TOO_LONG);
    memcpy(out, path, length);
    out[length] = '\0';
    return 1;
}

// Gives the open new file `fd` the owner, extended attributes (access control lists
// among them) and permissions of the existing file `to`, dropping attributes it
// inherited that `to` has not. Returns 0 when any of them cannot be given.
int TakeIdentity(int fd, const char *to, const struct stat &old) {
    struct stat now;
    if (fstat(fd, &now) != 0) return Fail(errno);
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && fchown(fd, old.st_uid, old.st_gid) != 0)
        return Fail(errno);
    enum { LIST_SIZE = 16 * 1024, VALUE_SIZE = 64 * 1024 };
    static char wanted[LIST_SIZE], present[LIST_SIZE], value[VALUE_SIZE];
    ssize_t wantedLength = llistxattr(to, wanted, sizeof wanted);
    if (wantedLength < 0) wantedLength = errno == ENOTSUP ? 0 : -1;
    ssize_t presentLength = flistxattr(fd, present, sizeof present);
    if (presentLength < 0) presentLength = errno == ENOTSUP ? 0 : -1;
    if (wantedLength < 0 || presentLength < 0) return Fail(errno);
    for (const char *name = present; name < present + presentLength; name += strlen(name) + 1) {
        if (lgetxattr(to, name, nullptr, 0) >= 0 || errno != ENODATA) continue;
        if (fremovexattr(fd, name) != 0) return Fail(errno);
    }
    for (const char *name = wanted; name < wanted + wantedLength; name += strlen(name) + 1) {
        ssize_t length = lgetxattr(to, name, value, sizeof value);
        if (length < 0 || fsetxattr(fd, name, value, (size_t)length, 0) != 0) return Fail(errno);
    }
    // Last: a change of owner clears the set-user and set-group bits, an access list sets
    // the group bits.
    return fchmod(fd, old.st_mode & 07777) == 0 || Fail(errno);
}

// The view PlatformReadInPlace hands over. Touching a page of it that the file no longer
// has (cut short by another program) or that the device cannot deliver raises SIGBUS;
// the handler then returns to PlatformReadInPlace, which reports that the bytes could
// not be had, instead of the process dying.
const unsigned char *volatile viewStart;
volatile size_t viewLength;
sigjmp_buf viewFault;

// Writing ahead: one thread, started when first needed, writes what PlatformWriteStart
// hands it while the caller goes on. It blocks every signal, so that signals reach the
// other threads as they always did (kavoconv's handlers, its held interruptions). It only
// keeps the errno; PlatformWriteFinish records the failure on the caller's thread.
struct WriteAhead {
    pthread_mutex_t lock;
    pthread_cond_t changed;
    int started;  // the thread runs
    int posted;   // 1 from PlatformWriteStart until the thread has written the bytes
    int fd;       // the file of the write posted or done last, -1 when there is none
    const unsigned char *buffer;
    size_t size;
    int error;    // the outcome: 0 when every byte was written, else the errno
};
WriteAhead ahead = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, 0, 0, -1, nullptr, 0, 0};

void *WriteAheadThread(void *) {
    pthread_mutex_lock(&ahead.lock);
    for (;;) {
        while (!ahead.posted) pthread_cond_wait(&ahead.changed, &ahead.lock);
        const int fd = ahead.fd;
        const unsigned char *buffer = ahead.buffer;
        const size_t size = ahead.size;
        pthread_mutex_unlock(&ahead.lock);
        const int error = WriteOut(fd, buffer, size);
        pthread_mutex_lock(&ahead.lock);
        ahead.error = error;
        ahead.buffer = nullptr;
        ahead.posted = 0;
        pthread_cond_broadcast(&ahead.changed);
    }
    return nullptr;
}

// Starts the thread unless it runs; returns nonzero when it runs.
int StartWriteAhead(void) {
    pthread_mutex_lock(&ahead.lock);
    if (!ahead.started) {
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);  // the thread starts with every signal blocked
        pthread_t thread;
        pthread_attr_t attributes;
        if (pthread_attr_init(&attributes) == 0) {
            pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
            ahead.started = pthread_create(&thread, &attributes, WriteAheadThread, nullptr) == 0;
            pthread_attr_destroy(&attributes);
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
    const int started = ahead.started;
    pthread_mutex_unlock(&ahead.lock);
    return started;
}

// Waits until the write posted for fd, if any, is done.
void WaitForWriteAhead(int fd) {
    pthread_mutex_lock(&ahead.lock);
    while (ahead.posted && ahead.fd == fd) pthread_cond_wait(&ahead.changed, &ahead.lock);
    pthread_mutex_unlock(&ahead.lock);
}

void OnViewFault(int number, siginfo_t *info, void *) {
    const unsigned char *at = (const unsigned char *)info->si_addr;
    if (viewStart && at >= viewStart && at < viewStart + viewLength) siglongjmp(viewFault, 1);
    // Not ours: what the signal would have done without this handler.
    signal(number, SIG_DFL);
    raise(number);
}

}  // namespace

void WriteInLocale(FILE *stream, const char *text) {
    iconv_t cd = iconv_open(nl_langinfo(CODESET), "UTF-8");
    if (cd == (iconv_t)-1) {
        fputs(text, stream);
        return;
    }
    char *in = const_cast<char *>(text);
    size_t inLeft = strlen(text);
    while (inLeft > 0) {
        char converted[256];
        char *out = converted;
        size_t outLeft = sizeof converted;
        size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
        fwrite(converted, 1, sizeof converted - outLeft, stream);
        if (result == (size_t)-1 && errno != E2BIG) {
            fputc(*in, stream);  // not representable here: keep the byte rather than lose it
            in++;
            inLeft--;
        }
    }
    iconv_close(cd);
}

PlatformFailure PlatformLastFailure(void) { return lastFailure; }

int PlatformRecordSystemFailure(void) { return Fail(errno); }

void PlatformSetLastFailure(PlatformFailure failure) { lastFailure = failure; }

void PlatformDescribeFailure(PlatformFailure failure, char *out, unsigned long size) {
    if (size == 0) return;
    out[0] = '\0';
    if (failure.code == 0) return;
    // The GNU strerror_r, which may hand back a text of its own instead of filling out.
    const char *text = strerror_r((int)failure.code, out, size);
    if (text != out) snprintf(out, size, "%s", text);
}

int PlatformOpenSource(const char *path, PlatformFile *file) {
    OpenFile *slot = FreeSlot();
    if (!slot) return 0;
    int fd = OpenRetrying(path, O_RDONLY, 0);
    if (fd < 0) return Fail(errno);
    struct stat info;
    // A folder opens for reading here but not on Windows, where it is no file to convert.
    const int problem = fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR
                                                      : SharingForbids(info, 0) ? EBUSY : 0;
    if (problem) {
        CloseFd(fd);
        return Fail(problem);
    }
    *slot = OpenFile{fd, info.st_dev, info.st_ino, 0, S_ISREG(info.st_mode) ? info.st_size : -1};
    *file = fd;
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);  // read once, front to back
    return 1;
}

int PlatformCreateOutput(const char *path, PlatformFile *file) {
    OpenFile *slot = FreeSlot();
    if (!slot) return 0;
    // No O_TRUNC: the file must first be known not to be open here, under any name. An
    // empty file (a new one) is not truncated: on ext4 that marks it to be flushed when it
    // is closed, which made closing a newly written 100 MiB file take some 35 ms.
    int fd = OpenRetrying(path, O_WRONLY | O_CREAT, 0666);
    if (fd < 0) return Fail(errno);
    struct stat info;
    int refused = 0;
    if (fstat(fd, &info) != 0)
        refused = !Fail(errno);
    else if (SharingForbids(info, 1))
        refused = !FailAs(PLATFORM_FAILURE_SAME_FILE);
    else if (S_ISREG(info.st_mode) && info.st_size > 0 && ftruncate(fd, 0) != 0)
        refused = !Fail(errno);
    if (refused) {
        CloseFd(fd);
        return 0;
    }
    *slot = OpenFile{fd, info.st_dev, info.st_ino, 1, -1};
    *file = fd;
    return 1;
}

int PlatformCreateNew(const char *path, PlatformFile *file) {
    OpenFile *slot = FreeSlot();
    if (!slot) return 0;
    int fd = OpenRetrying(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
        const int error = errno;
        if (fd >= 0) {
            CloseFd(fd);
            unlink(path);
        }
        return Fail(error);
    }
    *slot = OpenFile{fd, info.st_dev, info.st_ino, 1, -1};
    *file = fd;
    return 1;
}

int PlatformRead(PlatformFile file, unsigned char *buffer, unsigned long size, unsigned long *count) {
    if (Stopped()) return Fail(EINTR);
    for (;;) {
        ssize_t got = read(file, buffer, size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Fail(errno);
        if (got == 0) {
            // The end comes before the length the file had when it was opened: another
            // program cut it short meanwhile, and what was read is not the whole text.
            const OpenFile *slot = SlotOf(file);
            if (slot && !slot->writing && slot->length > 0 && lseek(file, 0, SEEK_CUR) < slot->length)
                return FailAs(PLATFORM_FAILURE_CUT_SHORT);
        }
        *count = (unsigned long)got;
        bytesRead.fetch_add((unsigned long long)got, std::memory_order_relaxed);
        return 1;
    }
}

unsigned long long PlatformBytesRead(void) { return bytesRead.load(std::memory_order_relaxed); }

int PlatformReadInPlace(PlatformFile file, unsigned long size, unsigned long *count, PlatformBytesUser use,
                        void *context) {
    struct stat info;
    off_t position = lseek(file, 0, SEEK_CUR);
    // Files of no fixed size (in /proc, for one) say 0 and are read instead.
    if (position < 0 || fstat(file, &info) != 0 || !S_ISREG(info.st_mode) || position >= info.st_size) return 0;
    size_t length = (size_t)(info.st_size - position) < size ? (size_t)(info.st_size - position) : size;
    off_t start = position - position % sysconf(_SC_PAGESIZE);  // a view begins on a page
    size_t skip = (size_t)(position - start);
    void *view = mmap(nullptr, skip + length, PROT_READ, MAP_SHARED, file, start);
    if (view == MAP_FAILED) return 0;

    struct sigaction handler, saved;
    memset(&handler, 0, sizeof handler);
    handler.sa_sigaction = OnViewFault;
    handler.sa_flags = SA_SIGINFO;
    sigemptyset(&handler.sa_mask);
    int used = 0;
    if (sigaction(SIGBUS, &handler, &saved) == 0) {
        viewStart = (const unsigned char *)view + skip;
        viewLength = length;
        if (sigsetjmp(viewFault, 1) == 0) {
            use((const unsigned char *)view + skip, (unsigned long)length, context);
            used = 1;
        }
        viewStart = nullptr;
        sigaction(SIGBUS, &saved, nullptr);
    }
    munmap(view, skip + length);
    if (!used || lseek(file, position + (off_t)length, SEEK_SET) < 0) return 0;
    bytesRead.fetch_add((unsigned long long)length, std::memory_order_relaxed);
    *count = (unsigned long)length;
    return 1;
}

int PlatformWrite(PlatformFile file, const unsigned char *buffer, unsigned long size) {
    return !Stopped() ? WriteAll(file, buffer, size) : Fail(EINTR);
}

void PlatformSetStopCheck(int (*stop)(void)) { stopCheck = stop; }

// Regular files only: a pipe's reader may be waiting for what was converted before the
// input paused, and is served by PlatformWrite as before.
int PlatformWritesAhead(PlatformFile file) {
    struct stat info;
    return fstat(file, &info) == 0 && S_ISREG(info.st_mode) && StartWriteAhead();
}

void PlatformWriteStart(PlatformFile file, const unsigned char *buffer, unsigned long size) {
    const int stopped = Stopped();
    pthread_mutex_lock(&ahead.lock);
    ahead.fd = file;
    ahead.buffer = buffer;
    ahead.size = size;
    ahead.error = stopped ? EINTR : 0;
    ahead.posted = !stopped;
    pthread_cond_broadcast(&ahead.changed);
    pthread_mutex_unlock(&ahead.lock);
}

int PlatformWriteFinish(PlatformFile file) {
    WaitForWriteAhead(file);
    pthread_mutex_lock(&ahead.lock);
    const int error = ahead.fd == file ? ahead.error : EBADF;
    ahead.fd = -1;
    pthread_mutex_unlock(&ahead.lock);
    return error == 0 || Fail(error);
}

int PlatformClose(PlatformFile file) {
    WaitForWriteAhead(file);  // never while the thread writes to it
    for (OpenFile &slot : openFiles)
        if (slot.fd == file) slot = FREE_SLOT;
    return CloseFd(file) || Fail(errno);
}

// Overwrites `to` in place rather than truncating it first: the space for the whole text
// is reserved before the first byte changes, and the length is set last, so that a full
// disk leaves `to` as it was. (`to` keeps its identity: links, owner and mode.) The copy
// is on the disk when this returns.
int PlatformCopyOver(const char *from, const char *to) {
    int source = OpenRetrying(from, O_RDONLY, 0);
    if (source < 0) return Fail(errno);
    struct stat input, old;
    int target = fstat(source, &input) == 0 ? OpenRetrying(to, O_WRONLY | O_CREAT, 0666) : -1;
    if (target < 0) {
        Fail(errno);
        CloseFd(source);
        return 0;
    }
    int copied = fstat(target, &old) == 0 || Fail(errno);
    const int regular = copied && S_ISREG(old.st_mode);  // a device or pipe has no length to set
    // Synced before it counts as done: the caller may then delete `from`, the only other
    // copy of the text, and a power cut must not find neither.
    copied = copied && (!regular || Reserve(target, input.st_size, old)) && CopyContents(source, target) &&
             (!regular || ftruncate(target, input.st_size) == 0 || Fail(errno)) &&
             (!regular || fdatasync(target) == 0 || Fail(errno));
    CloseFd(source);
    return (CloseFd(target) || Fail(errno)) && copied;
}

PlatformReplacement PlatformHowToReplace(const char *dest, PlatformFile source, char *target) {
    target[0] = '\0';
    struct stat info;
    if (dest[0] == '\0') return (PlatformReplacement)Fail(ENOENT);  // no name is no file
    if (lstat(dest, &info) != 0) {
        if (errno != ENOENT) return (PlatformReplacement)Fail(errno);
        if (strlen(dest) >= MAX_PATH) return (PlatformReplacement)FailAs(PLATFORM_FAILURE_NAME_TOO_LONG);
        memcpy(target, dest, strlen(dest) + 1);  // a new file: nothing of an old one to lose
        return PLATFORM_REPLACE_RENAME;
    }
    const char *name = dest;
    char resolved[PATH_MAX];
    if (S_ISLNK(info.st_mode)) {
        // The link stays; the file it leads to is replaced. A link that leads nowhere yet
        // is written through, as opening it would.
        if (!realpath(dest, resolved) || strlen(resolved) >= MAX_PATH) return PLATFORM_REPLACE_COPY;
        name = resolved;
        if (stat(name, &info) != 0) return (PlatformReplacement)Fail(errno);
    }
    if (S_ISDIR(info.st_mode)) return (PlatformReplacement)Fail(EISDIR);
    struct stat open;
    if ((fstat(source, &open) == 0 && open.st_dev == info.st_dev && open.st_ino == info.st_ino) ||
        SharingForbids(info, 1))
        return (PlatformReplacement)FailAs(PLATFORM_FAILURE_SAME_FILE);
    if (!S_ISREG(info.st_mode)) return PLATFORM_REPLACE_STREAM;
    // A file the user may not write is refused, as opening it for writing would be.
    if (faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0) return (PlatformReplacement)Fail(errno);
    char folder[MAX_PATH + 1];
    if (!FolderOf(name, folder)) return PLATFORM_REPLACE_COPY;
    const int folderWritable = faccessat(AT_FDCWD, folder[0] ? folder : ".", W_OK | X_OK, AT_EACCESS) == 0;
    const int ownerCanBeGiven = info.st_uid == geteuid() || geteuid() == 0;
    if (info.st_nlink > 1 || !folderWritable || !ownerCanBeGiven) return PLATFORM_REPLACE_COPY;
    memcpy(target, name, strlen(name) + 1);
    return PLATFORM_REPLACE_RENAME;
}

int PlatformBesideName(const char *path, char *out) {
    out[0] = '\0';
    if (!FolderOf(path, out)) return 0;
    unsigned char random[8];
    if (getrandom(random, sizeof random, 0) != (ssize_t)sizeof random) {
        // No entropy to be had: the process and the moment keep two runs apart.
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        unsigned long long mix = (unsigned long long)getpid() << 32 ^ (unsigned long long)now.tv_nsec ^
                                 (unsigned long long)now.tv_sec << 20;
        memcpy(random, &mix, sizeof random);
    }
    char name[40];
    snprintf(name, sizeof name, ".kavoconv-%02x%02x%02x%02x%02x%02x%02x%02x.tmp", random[0], random[1], random[2],
             random[3], random[4], random[5], random[6], random[7]);
    const size_t used = strlen(out);
    if (used + strlen(name) >= MAX_PATH) {
        out[0] = '\0';
        return FailAs(PLATFORM_FAILURE_NAME_TOO_LONG);
    }
    memcpy(out + used, name, strlen(name) + 1);
    return 1;
}

int PlatformRenameOver(const char *from, const char *to) {
    struct stat old;
    const int exists = lstat(to, &old) == 0;
    if (!exists && errno != ENOENT) return Fail(errno);
    if (exists) {
        int fd = OpenRetrying(from, O_RDONLY | O_NOFOLLOW, 0);
        if (fd < 0) return Fail(errno);
        const int given = TakeIdentity(fd, to, old);
        CloseFd(fd);
        if (!given) return 0;
        // The two names trade files, and the old one goes after. A plain rename over an
        // existing file makes ext4 start writing the new one out first (its guard against
        // empty files after a power cut), which cost some 28 ms a 64 MiB file here: more
        // than the rest of replacing it. Where the system cannot trade, rename.
        if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0) {
            unlink(from);  // the old file; should it stay, it is a hidden file beside DEST
            return 1;
        }
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return Fail(errno);
    }
    return rename(from, to) == 0 || Fail(errno);
}

namespace {

void Stamp(const struct stat &info, PlatformFileStamp *stamp) {
    stamp->identity[0] = (unsigned long long)info.st_dev;
    stamp->identity[1] = (unsigned long long)info.st_ino;
    stamp->size = (unsigned long long)info.st_size;
    stamp->modified = (unsigned long long)info.st_mtim.tv_sec * 1000000000ULL + (unsigned long long)info.st_mtim.tv_nsec;
    stamp->changed = (unsigned long long)info.st_ctim.tv_sec * 1000000000ULL + (unsigned long long)info.st_ctim.tv_nsec;
}

}  // namespace

int PlatformStampFile(PlatformFile file, PlatformFileStamp *stamp) {
    struct stat info;
    if (fstat(file, &info) != 0) return Fail(errno);
    Stamp(info, stamp);
    return 1;
}

int PlatformStampPath(const char *path, PlatformFileStamp *stamp) {
    struct stat info;
    if (stat(path, &info) != 0) return Fail(errno);
    if (S_ISDIR(info.st_mode)) return Fail(EISDIR);
    if (!S_ISREG(info.st_mode)) return FailAs(PLATFORM_FAILURE_NOT_REGULAR);
    Stamp(info, stamp);
    return 1;
}

int PlatformStampUnchanged(const char *path, const PlatformFileStamp *stamp) {
    struct stat info;
    if (stat(path, &info) != 0) return Fail(errno);
    PlatformFileStamp now;
    Stamp(info, &now);
    return memcmp(&now, stamp, sizeof now) == 0 || FailAs(PLATFORM_FAILURE_CHANGED);
}

int PlatformDelete(const char *path) { return unlink(path) == 0 || Fail(errno); }

int PlatformSameName(const char *a, const char *b) {
    for (;; a++, b++) {
        unsigned char x = (unsigned char)*a, y = (unsigned char)*b;
        if (x >= 'A' && x <= 'Z') x = (unsigned char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = (unsigned char)(y - 'A' + 'a');
        if (x != y) return 0;
        if (x == '\0') return 1;
    }
}

int PlatformGetExecutablePath(char *out, unsigned long size) {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (size > 0) out[0] = '\0';
    if (length <= 0 || (size_t)length >= sizeof path || (unsigned long)length >= size) return 0;
    memcpy(out, path, (size_t)length);
    out[length] = '\0';
    return 1;
}

// Names here are in the locale's encoding (UTF-8, EUC-JP), where no trail byte is 0x5C.
int PlatformIsLeadByte(unsigned char) { return 0; }

// Standard input joins the table as a source the first time it is asked for, so that no
// output created afterwards under any name can truncate the file it reads.
PlatformFile PlatformStandardInput(void) {
    struct stat info;
    int known = 0;
    for (const OpenFile &slot : openFiles) known |= slot.fd == STDIN_FILENO;
    OpenFile *slot = known ? nullptr : FreeSlot();
    if (slot && fstat(STDIN_FILENO, &info) == 0 && S_ISREG(info.st_mode))
        *slot = OpenFile{STDIN_FILENO, info.st_dev, info.st_ino, 0, info.st_size};
    return STDIN_FILENO;
}

PlatformFile PlatformStandardOutput(void) { return STDOUT_FILENO; }

int PlatformSameFile(PlatformFile a, PlatformFile b) {
    struct stat x, y;
    return fstat(a, &x) == 0 && fstat(b, &y) == 0 && S_ISREG(x.st_mode) && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}

void PlatformShowMessage(PlatformWindow owner, const char *text, const char *caption, PlatformIcon icon) {
    if (messageHook) {
        messageHook(owner, text, caption, icon);
        return;
    }
    WriteInLocale(stderr, caption);
    fputs(": ", stderr);
    WriteInLocale(stderr, text);
    fputc('\n', stderr);
    fflush(stderr);
}

void PlatformSetMessageHook(PlatformMessageHook hook) { messageHook = hook; }
