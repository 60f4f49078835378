// POSIX stand-ins for the Win32 calls. POSIX has no share modes, so the sharing rules of
// the Windows program (a source may be shared only with readers, an output with nobody)
// are kept in a small table of the files this process has open, by device and inode.
#include "platform.h"
#include "locale_text.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace {

enum { OPEN_FILE_SLOTS = 16, COPY_BLOCK_SIZE = 64 * 1024 };

struct OpenFile {
    int fd;  // -1: slot free
    dev_t device;
    ino_t inode;
    int writing;
};

OpenFile openFiles[OPEN_FILE_SLOTS] = {
    {-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0},
    {-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0},
    {-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0},
};

PlatformMessageHook messageHook;
std::atomic<unsigned long long> bytesRead;

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

// Writes out every byte, through short writes and interruptions.
int WriteAll(int fd, const unsigned char *buffer, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, buffer, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return 0;
        buffer += written;
        size -= (size_t)written;
    }
    return 1;
}

// Makes sure the file can hold `length` bytes before any of its bytes is overwritten. On
// failure the file keeps its old bytes and, should the attempt have moved its end, its
// old length and time of change.
int Reserve(int fd, off_t length, const struct stat &old) {
    if (length == 0) return 1;
    int error;
    do error = posix_fallocate(fd, 0, length);
    while (error == EINTR);
    if (error == 0) return 1;
    if (length > old.st_size) {
        // Nothing more can be done if these fail: the copy is refused either way.
        const struct timespec times[2] = {{0, UTIME_OMIT}, old.st_mtim};
        if (ftruncate(fd, old.st_size) == 0) futimens(fd, times);
    }
    return 0;
}

int CopyContents(int from, int to) {
    static unsigned char block[COPY_BLOCK_SIZE];
    for (;;) {
        ssize_t got = read(from, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return 0;
        if (got == 0) return 1;
        if (!WriteAll(to, block, (size_t)got)) return 0;
    }
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
// other threads as they always did (kavoconv's handlers, its held interruptions).
struct WriteAhead {
    pthread_mutex_t lock;
    pthread_cond_t changed;
    int started;  // the thread runs
    int posted;   // 1 from PlatformWriteStart until the thread has written the bytes
    int fd;       // the file of the write posted or done last, -1 when there is none
    const unsigned char *buffer;
    size_t size;
    int written;  // the outcome: every byte written
    int error;    // errno when not
};
WriteAhead ahead = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, 0, 0, -1, nullptr, 0, 0, 0};

void *WriteAheadThread(void *) {
    pthread_mutex_lock(&ahead.lock);
    for (;;) {
        while (!ahead.posted) pthread_cond_wait(&ahead.changed, &ahead.lock);
        const int fd = ahead.fd;
        const unsigned char *buffer = ahead.buffer;
        const size_t size = ahead.size;
        pthread_mutex_unlock(&ahead.lock);
        errno = 0;
        const int written = WriteAll(fd, buffer, size);
        const int error = errno;
        pthread_mutex_lock(&ahead.lock);
        ahead.written = written;
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

int PlatformOpenSource(const char *path, PlatformFile *file) {
    OpenFile *slot = FreeSlot();
    if (!slot) return 0;
    int fd = OpenRetrying(path, O_RDONLY, 0);
    if (fd < 0) return 0;
    struct stat info;
    // A folder opens for reading here but not on Windows, where it is no file to convert.
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || SharingForbids(info, 0)) {
        CloseFd(fd);
        return 0;
    }
    *slot = OpenFile{fd, info.st_dev, info.st_ino, 0};
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
    if (fd < 0) return 0;
    struct stat info;
    if (fstat(fd, &info) != 0 || SharingForbids(info, 1) ||
        (S_ISREG(info.st_mode) && info.st_size > 0 && ftruncate(fd, 0) != 0)) {
        CloseFd(fd);
        return 0;
    }
    *slot = OpenFile{fd, info.st_dev, info.st_ino, 1};
    *file = fd;
    return 1;
}

int PlatformRead(PlatformFile file, unsigned char *buffer, unsigned long size, unsigned long *count) {
    for (;;) {
        ssize_t got = read(file, buffer, size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return 0;
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
    return WriteAll(file, buffer, size);
}

// Regular files only: a pipe's reader may be waiting for what was converted before the
// input paused, and is served by PlatformWrite as before.
int PlatformWritesAhead(PlatformFile file) {
    struct stat info;
    return fstat(file, &info) == 0 && S_ISREG(info.st_mode) && StartWriteAhead();
}

void PlatformWriteStart(PlatformFile file, const unsigned char *buffer, unsigned long size) {
    pthread_mutex_lock(&ahead.lock);
    ahead.fd = file;
    ahead.buffer = buffer;
    ahead.size = size;
    ahead.posted = 1;
    pthread_cond_broadcast(&ahead.changed);
    pthread_mutex_unlock(&ahead.lock);
}

int PlatformWriteFinish(PlatformFile file) {
    WaitForWriteAhead(file);
    pthread_mutex_lock(&ahead.lock);
    const int written = ahead.fd == file && ahead.written;
    const int error = ahead.error;
    ahead.fd = -1;
    pthread_mutex_unlock(&ahead.lock);
    if (!written) errno = error;
    return written;
}

int PlatformClose(PlatformFile file) {
    WaitForWriteAhead(file);  // never while the thread writes to it
    for (OpenFile &slot : openFiles)
        if (slot.fd == file) slot.fd = -1;
    return CloseFd(file);
}

// Overwrites `to` in place rather than truncating it first: the space for the whole text
// is reserved before the first byte changes, and the length is set last, so that a full
// disk leaves `to` as it was. (`to` keeps its identity: links, owner and mode.)
int PlatformCopyOver(const char *from, const char *to) {
    int source = OpenRetrying(from, O_RDONLY, 0);
    if (source < 0) return 0;
    struct stat input, old;
    int target = fstat(source, &input) == 0 ? OpenRetrying(to, O_WRONLY | O_CREAT, 0666) : -1;
    if (target < 0) {
        CloseFd(source);
        return 0;
    }
    int copied = fstat(target, &old) == 0;
    const int regular = copied && S_ISREG(old.st_mode);  // a device or pipe has no length to set
    copied = copied && (!regular || Reserve(target, input.st_size, old)) && CopyContents(source, target) &&
             (!regular || ftruncate(target, input.st_size) == 0);
    CloseFd(source);
    return CloseFd(target) && copied;
}

int PlatformDelete(const char *path) { return unlink(path) == 0; }

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
        *slot = OpenFile{STDIN_FILENO, info.st_dev, info.st_ino, 0};
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
