// The operations the engine and the front ends need from the operating system.
// One header, two implementations (win32/platform.cpp, posix/platform.cpp); the build
// picks the file and the matching platform_types.h, so callers never test the platform.
#ifndef KAVO_PLATFORM_H
#define KAVO_PLATFORM_H

#include "platform_types.h"

enum PlatformIcon { PLATFORM_ICON_ERROR, PLATFORM_ICON_INFORMATION };

// Why an operation failed. Every operation that fails records its reason; nothing else
// clears it. The kind is for choosing the words of a message, the code (the system's own
// number, or 0 for the kinds only this layer finds) for PlatformDescribeFailure.
enum PlatformFailureKind {
    PLATFORM_FAILURE_OTHER,
    PLATFORM_FAILURE_NOT_FOUND,      // no such file, or a folder on the way is missing
    PLATFORM_FAILURE_ACCESS,         // permission denied, or the file is read-only
    PLATFORM_FAILURE_FOLDER,         // the name is a folder
    PLATFORM_FAILURE_NAME_TOO_LONG,  // the name does not fit the system's limit (or MAX_PATH)
    PLATFORM_FAILURE_NOT_REGULAR,    // a device, a pipe or a socket where a file is needed
    PLATFORM_FAILURE_NO_SPACE,       // the file system is full (or a file size limit reached)
    PLATFORM_FAILURE_SAME_FILE,      // the destination is the open source under another name
    PLATFORM_FAILURE_CUT_SHORT,      // the source ended before the length it had when opened
    PLATFORM_FAILURE_CHANGED         // the file changed since it was read
};

struct PlatformFailure {
    PlatformFailureKind kind;
    long code;
};

PlatformFailure PlatformLastFailure(void);
// Records the system's own last error (errno; GetLastError) as the failure, for the front
// ends' own system calls. Returns 0.
int PlatformRecordSystemFailure(void);
// Puts a failure back as the last one (after a clean-up that may have failed on its own).
void PlatformSetLastFailure(PlatformFailure failure);
// The system's words for a failure, in the user's language where the system has it, as
// a path is encoded (the locale's encoding; the ANSI code page on Windows); empty for the
// kinds that have no system code. Always terminated within size bytes.
void PlatformDescribeFailure(PlatformFailure failure, char *out, unsigned long size);

// Opens an existing file for reading; others may only read it while it is open.
// Returns nonzero and stores the handle on success; 0 (handle untouched) on failure.
int PlatformOpenSource(const char *path, PlatformFile *file);

// Creates or truncates a file for writing, shared with nobody. Fails, with the file
// untouched, when it is open elsewhere in a way that forbids writing (the source of a
// running conversion, under whatever name). Returns nonzero on success.
int PlatformCreateOutput(const char *path, PlatformFile *file);

// Reads up to size bytes. Returns nonzero on success with *count bytes delivered
// (0 only at the end of the input); 0 on failure. A regular file that ends before the
// length it had when it was opened (cut short by another program meanwhile) fails with
// PLATFORM_FAILURE_CUT_SHORT instead of ending.
int PlatformRead(PlatformFile file, unsigned char *buffer, unsigned long size, unsigned long *count);

// The bytes PlatformRead and PlatformReadInPlace have delivered since the process started, for a progress display;
// it may be read from another thread or a signal handler while a read is under way.
unsigned long long PlatformBytesRead(void);

// Reads like PlatformRead, without the copy: up to `size` bytes from the current position
// of `file` are handed to use(bytes, *count, context) where the system keeps them, and
// the position moves past them. Returns nonzero after use() has run on *count (> 0)
// bytes. Returns 0, with the position where it was, when the bytes cannot be had so (no
// regular file, nothing left by the file's size, no mapping) or reading them failed while
// use() ran (the file was cut short meanwhile, the device failed): use() may then have run
// part of the way, what it made of them does not count, and the caller reads them with
// PlatformRead, which reports the end of the input and any failure.
typedef void (*PlatformBytesUser)(const unsigned char *bytes, unsigned long count, void *context);
int PlatformReadInPlace(PlatformFile file, unsigned long size, unsigned long *count, PlatformBytesUser use,
                        void *context);

// Writes all size bytes. Returns nonzero when every byte was written; 0 on failure,
// after which an unknown prefix of the bytes may have reached the file.
int PlatformWrite(PlatformFile file, const unsigned char *buffer, unsigned long size);

// Writing ahead, where the platform can: a thread of the platform's own writes the bytes
// while the caller goes on (the transcoder converts its next block meanwhile).
// Nonzero when PlatformWriteStart on `file` may return before its bytes are written; 0
// where writes are only done by PlatformWrite.
int PlatformWritesAhead(PlatformFile file);

// Starts writing all size bytes of buffer to file, which PlatformWritesAhead accepted. Until
// PlatformWriteFinish the buffer stays as it is and nothing else is done with the file.
void PlatformWriteStart(PlatformFile file, const unsigned char *buffer, unsigned long size);

// Waits for the write PlatformWriteStart began on file and returns as PlatformWrite would:
// nonzero when every byte was written; 0 on failure, with the system's reason where
// PlatformWrite leaves it (errno on POSIX).
int PlatformWriteFinish(PlatformFile file);

// Closes a file. Returns 0 when the system reports a failure, which for a file being
// written can be a write that did not reach it.
int PlatformClose(PlatformFile file);

// Copies the file `from` over `to`, replacing what `to` held. Returns nonzero on success.
// Where the system allows it, `to` keeps its identity (links, owner, permissions) and is
// left as it was when the copy cannot be completed for lack of space: the space is
// reserved first, or, where the file system cannot reserve, its free space is checked.
// POSIX: the copy is on the disk before this returns.
int PlatformCopyOver(const char *from, const char *to);

// How a whole conversion can take the place of an existing file `dest` without losing
// anything of it. `source` is the open source: a dest that is the same file is refused.
enum PlatformReplacement {
    PLATFORM_REPLACE_REFUSED,  // dest cannot be written (the reason is recorded)
    PLATFORM_REPLACE_RENAME,   // a new file beside dest can be renamed over it: dest is absent,
                               // or a file with one name whose owner and mode can be given again
    PLATFORM_REPLACE_COPY,     // dest must keep its identity (other names, an owner this
                               // process cannot give): the text is to be copied over it
    PLATFORM_REPLACE_STREAM    // no regular file (a device, a pipe): written directly
};

// Decides how dest is to be replaced, and writes into target (MAX_PATH + 1 bytes) the
// name to replace: dest itself, or the file its symbolic links lead to, so that a link
// stays a link. target is empty on PLATFORM_REPLACE_REFUSED.
PlatformReplacement PlatformHowToReplace(const char *dest, PlatformFile source, char *target);

// Writes into out (MAX_PATH + 1 bytes) a name for a new file in the folder of path that
// no file has now and that no other process will choose. Returns 0, with out empty,
// when none fits.
int PlatformBesideName(const char *path, char *out);

// Creates a new file for writing, shared with nobody; fails when the name exists (also
// as a link). Returns nonzero and stores the handle on success.
int PlatformCreateNew(const char *path, PlatformFile *file);

// Gives the new file `from` the owner, permissions and extended attributes (access
// control lists included) of `to`, where `to` exists, and renames it over `to`. Returns
// nonzero on success; 0, with `to` untouched and `from` still there, when any of that
// cannot be done.
int PlatformRenameOver(const char *from, const char *to);

// What identifies an open file's contents at a moment: its identity, length and times
// of modification and change.
struct PlatformFileStamp {
    unsigned long long identity[2];
    unsigned long long size;
    unsigned long long modified;
    unsigned long long changed;
};

// Takes the stamp of an open file. Returns 0 when the system cannot say.
int PlatformStampFile(PlatformFile file, PlatformFileStamp *stamp);

// Takes the stamp of the file at path (following links). Returns 0, the failure recorded
// (PLATFORM_FAILURE_NOT_REGULAR for a device, pipe or folder), when it has none.
int PlatformStampPath(const char *path, PlatformFileStamp *stamp);

// Nonzero when the file at path still has the stamp taken earlier; 0 (the failure
// recorded as PLATFORM_FAILURE_CHANGED, or the system's reason) otherwise.
int PlatformStampUnchanged(const char *path, const PlatformFileStamp *stamp);

// Deletes a file. Returns nonzero on success.
int PlatformDelete(const char *path);

// Nonzero when the two names are equal with letter case ignored.
int PlatformSameName(const char *a, const char *b);

// Writes the running executable's full path into out (size bytes). Returns nonzero on
// success; 0, with out empty, when the path cannot be had or does not fit.
int PlatformGetExecutablePath(char *out, unsigned long size);

// Nonzero when c is the first byte of a two-byte character in the system's code page
// (Shift_JIS on a Japanese Windows); always 0 where names use no such encoding.
int PlatformIsLeadByte(unsigned char c);

// Makes every later read and write fail, as an operation the user stopped would, once
// stop() returns nonzero (null: never). For front ends whose interruptions do not end the
// process at once, so that a conversion stops at the next block and cleans up.
void PlatformSetStopCheck(int (*stop)(void));

// Standard input and output as files, for front ends that convert a stream. Standard
// input is shared as a source is: while it is open, it cannot be created as an output.
PlatformFile PlatformStandardInput(void);
PlatformFile PlatformStandardOutput(void);

// Nonzero when both open files are the same file on disk (a terminal, pipe or device
// never counts: any number of readers and writers may share one).
int PlatformSameFile(PlatformFile a, PlatformFile b);

// Shows a modal message owned by `owner`. Texts are in the program's own encoding.
void PlatformShowMessage(PlatformWindow owner, const char *text, const char *caption, PlatformIcon icon);

// Replaces the showing of messages (tests, command-line front ends); null restores it.
typedef void (*PlatformMessageHook)(PlatformWindow owner, const char *text, const char *caption,
                                    PlatformIcon icon);
void PlatformSetMessageHook(PlatformMessageHook hook);

#endif
