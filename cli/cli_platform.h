// What the command-line front end needs beyond the engine's platform layer: a private
// folder for in-place conversions, turns between runs on one file, interruptions, a
// ticker for the progress line, and messages in the user's encoding. One header, a POSIX
// and a Win32 implementation; the build picks.
#ifndef KAVO_CLI_PLATFORM_H
#define KAVO_CLI_PLATFORM_H

#include <stddef.h>

#include "platform.h"

// Where the private folders of in-place conversions live, as --help names it.
extern const char CLI_WORK_ROOT_DESCRIPTION[];
// What --help promises about conversions in place here, in whole lines.
extern const char CLI_IN_PLACE_PROMISE[];

// Prepares the process: the user's locale and the interruption handlers on POSIX, no
// system error boxes on Windows.
void CliInit(void);

// Creates a new folder that only the user can reach, for one in-place conversion, and
// writes its path with a trailing separator into out (MAX_PATH + 1 bytes). Returns 0, with
// out empty and nothing left on disk, when there is no such folder to be had.
int CliCreateWorkDir(char *out);

// Removes an empty folder made by CliCreateWorkDir. Returns nonzero on success.
int CliRemoveWorkDir(const char *dir);

// Waits until no other kavoconv converts the file at path in place, and keeps it so until
// CliUnlockFile. Returns a token for CliUnlockFile; a file that cannot be opened or is no
// regular file gets a token that holds nothing (the conversion then reports it). POSIX:
// an advisory lock; Windows: nothing (the share modes make the second copy back fail).
int CliLockFile(const char *path);
void CliUnlockFile(int token);

// 0 when path names an existing regular file this process may not write; nonzero
// otherwise (also when it does not exist: the conversion reports that).
int CliMayWrite(const char *path);

// Interruptions: SIGINT, SIGTERM and SIGHUP on POSIX (unless ignored when the program
// started); nothing on Windows. One that arrives while they are held waits until they are
// released; one that takes effect first removes the file and the folder last named here
// (null: none), then ends the process as the signal would have.
void CliSetDisposable(const char *folder, const char *file);
void CliHoldInterruptions(void);
void CliReleaseInterruptions(void);

// Nonzero when standard error, or standard output, is a terminal (Windows: a console).
int CliErrorIsTerminal(void);
int CliOutputIsTerminal(void);

// Calls tick about four times a second until CliStopTicker, from a signal handler (POSIX)
// or another thread (Windows): tick may only use what CliWriteRaw and CliMilliseconds
// offer. While the ticker is held, tick is not running and does not start.
void CliStartTicker(void (*tick)(void));
void CliStopTicker(void);
void CliHoldTicker(void);
void CliReleaseTicker(void);

// A clock in milliseconds for measuring intervals; safe where tick runs.
unsigned long CliMilliseconds(void);

// Writes bytes to standard error unchanged; safe where tick runs.
void CliWriteRaw(const char *bytes, size_t length);

enum CliTextKind {
    CLI_PROGRAM_TEXT,  // the program's own strings (UTF-8 natively, Shift_JIS on Windows)
    CLI_PATH_TEXT      // a path as the file system calls take it
};

// Writes "prefix: file: text" (without "file: " when file is null) and a line end to
// standard error. The file name is a path; text is of the given kind. Each is written in
// the locale's encoding (Windows: the console's code page); bytes that cannot be
// converted pass unchanged.
void CliWriteError(const char *prefix, const char *file, const char *text, CliTextKind kind);

#endif
