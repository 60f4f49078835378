// What the command-line front end needs beyond the engine's platform layer: the user's
// language, private folders for conversions through Temp.dat, turns between runs on one
// file, interruptions, a ticker for the progress line, and writing messages. One header,
// a POSIX and a Win32 implementation; the build picks.
#ifndef KAVO_CLI_PLATFORM_H
#define KAVO_CLI_PLATFORM_H

#include <stddef.h>

#include "platform.h"

// Where the private folders live, as --help names it (English, for CliText).
extern const char CLI_WORK_ROOT_DESCRIPTION[];

// Prepares the process: the user's locale and the language of messages, the
// interruption handlers (POSIX: every signal whose default ends the process, unless it was
// ignored when the program started; Windows: Ctrl-C, Ctrl-Break and closing the console),
// no system error boxes on Windows.
void CliInit(void);

// The user's language for one of kavoconv's texts, given in English: the text itself,
// or its translation (in the encoding messages are written in). Never null.
const char *CliText(const char *english);

// Writes into out (MAX_PATH + 1 bytes) the folder under which private folders are made,
// with a trailing separator, creating it for this user alone when it is missing. Returns
// 0, the failure recorded, when it cannot be had or is not private; out then holds the
// folder that was tried (empty when none is known).
int CliWorkRoot(char *out);

// Creates a new folder under root that only this user can reach, with a record file
// holding `record`; the record stays open and locked while this process lives or until
// CliRemoveWorkDir, which tells other runs that the folder is in use. Writes the folder's
// path with its trailing separator into out (MAX_PATH + 1 bytes). Returns 0, with out
// empty, nothing left on disk and the failure recorded, when that cannot be done.
int CliCreateWorkDir(const char *root, const char *record, char *out);

// Appends a line to the record of a folder made by CliCreateWorkDir, after making sure
// that the file `first` (a whole Temp.dat) would outlast a power cut, and then the record
// too. Returns 0 when that cannot be made sure of.
int CliMarkWorkDir(const char *dir, const char *first, const char *line);

// Removes a folder made by CliCreateWorkDir (or visited by CliEachLeftWorkDir) whose
// other files are gone: its record, then the folder. Returns nonzero on success.
int CliRemoveWorkDir(const char *dir);

// Calls visit(dir, record, context) for each folder under root that has a record and that
// no running kavoconv holds, with the record's text (its first 4 KiB). The folder is
// held meanwhile, so that no other run visits it at the same time.
typedef void (*CliLeftWorkDirVisitor)(const char *dir, const char *record, void *context);
void CliEachLeftWorkDir(const char *root, CliLeftWorkDirVisitor visit, void *context);

// Waits until no other kavoconv converts the file at path in place, and keeps it so
// until CliUnlockFile. Returns 0, the failure recorded (PLATFORM_FAILURE_NOT_REGULAR for
// a device, pipe or folder), when the file cannot be opened or is no regular file; such
// a file is never waited for nor read.
int CliLockFile(const char *path, long *token);
void CliUnlockFile(long token);

// 0 (the failure recorded) when path names an existing regular file this process may not
// write; nonzero otherwise (also when it does not exist: the conversion reports that).
int CliMayWrite(const char *path);

// Interruptions. One that arrives while they are held waits until they are released;
// one that takes effect first removes the file and the private folder last named here
// (null: none), with the folder's record, then ends the process as it would have ended
// without kavoconv's handling. POSIX: signals, which take effect at once; Windows: the
// console's events, which take effect at the next read, write, wait or release.
void CliSetDisposable(const char *folder, const char *file);
void CliHoldInterruptions(void);
void CliReleaseInterruptions(void);

// Nonzero when standard error, or standard output, is a terminal (Windows: a console).
int CliErrorIsTerminal(void);
int CliOutputIsTerminal(void);

// Calls tick about four times a second until CliStopTicker, from a thread of its own:
// tick may only use what CliWriteRaw and CliMilliseconds offer. While the ticker is held,
// tick is not running and does not start.
void CliStartTicker(void (*tick)(void));
void CliStopTicker(void);
void CliHoldTicker(void);
void CliReleaseTicker(void);

// A clock in milliseconds for measuring intervals; safe where tick runs.
unsigned long CliMilliseconds(void);

// Writes bytes to standard error unchanged; safe where tick runs.
void CliWriteRaw(const char *bytes, size_t length);

// A path put into a message's text (POSIX: as it is; Windows: from the ANSI code page
// into the messages' encoding) into out (size bytes, always terminated).
void CliPathText(const char *path, char *out, size_t size);

// The system's words for a failure (PlatformDescribeFailure) in the messages' encoding.
void CliDescribeFailure(PlatformFailure failure, char *out, size_t size);

// Writes "kavoconv: file: text" (without "file: " when file is null) and a line end to
// standard error, in one piece. file is a path as the file system calls take it; text
// is kavoconv's own (from CliText, or built from such texts, paths and the system's
// reasons). On a console they are shown as the characters they are, else written in the
// encoding of the user's messages.
void CliWriteError(const char *file, const char *text);

// Writes a line of kavoconv's own to standard error, with no name before it.
void CliWriteErrorLine(const char *text);

// Writes text (kavoconv's own) to standard output as CliWriteError does to standard error.
void CliWriteOutput(const char *text);

#endif
