// What the command-line front end needs beyond the engine's platform layer: a private
// folder for in-place conversions, file identity for the standard streams, and messages
// in the user's encoding. One header, a POSIX and a Win32 implementation; the build picks.
#ifndef KAVO_CLI_PLATFORM_H
#define KAVO_CLI_PLATFORM_H

#include "platform.h"

// Where the private folders of in-place conversions live, as --help names it.
extern const char CLI_WORK_ROOT_DESCRIPTION[];

// Prepares the process: the user's locale on POSIX, no system error boxes on Windows.
void CliInit(void);

// Creates a new folder that only the user can reach, for one in-place conversion, and
// writes its path with a trailing separator into out (MAX_PATH + 1 bytes). Returns 0, with
// out empty, when there is no such folder to be had.
int CliCreateWorkDir(char *out);

// Removes an empty folder made by CliCreateWorkDir. Returns nonzero on success.
int CliRemoveWorkDir(const char *dir);

// Nonzero when both open files are the same regular file (or disk file on Windows).
int CliSameFile(PlatformFile a, PlatformFile b);

// Nonzero when path names an existing regular file that is the open file `file`.
int CliNamesFile(const char *path, PlatformFile file);

enum CliTextKind {
    CLI_PROGRAM_TEXT,  // the program's own strings (UTF-8 natively, Shift_JIS on Windows)
    CLI_PATH_TEXT      // a path as the file system calls take it
};

// Writes "prefix: text" and a line end to standard error, in the locale's encoding
// (Windows: the console's code page). Bytes that cannot be converted pass unchanged.
void CliWriteError(const char *prefix, const char *text, CliTextKind kind);

#endif
