// The operations the engine and the front ends need from the operating system.
// One header, two implementations (win32/platform.cpp, posix/platform.cpp); the build
// picks the file and the matching platform_types.h, so callers never test the platform.
#ifndef KAVO_PLATFORM_H
#define KAVO_PLATFORM_H

#include "platform_types.h"

enum PlatformIcon { PLATFORM_ICON_ERROR, PLATFORM_ICON_INFORMATION };

// Opens an existing file for reading; others may only read it while it is open.
// Returns nonzero and stores the handle on success; 0 (handle untouched) on failure.
int PlatformOpenSource(const char *path, PlatformFile *file);

// Creates or truncates a file for writing, shared with nobody. Fails, with the file
// untouched, when it is open elsewhere in a way that forbids writing (the source of a
// running conversion, under whatever name). Returns nonzero on success.
int PlatformCreateOutput(const char *path, PlatformFile *file);

// Reads up to size bytes. Returns nonzero on success with *count bytes delivered
// (0 only at the end of the input); 0 on failure.
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
// Where the system allows it, `to` is left as it was when the copy cannot be completed
// for lack of space.
int PlatformCopyOver(const char *from, const char *to);

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
