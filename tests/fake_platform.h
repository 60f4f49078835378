// platform.h over an in-memory file system, for tests: files are strings keyed by name
// (letter case ignored, as on Windows), any operation can be made to fail, messages are
// recorded instead of shown, and every handle is accounted for. Open files are shared
// as the Win32 build shares them: a file open for writing cannot be opened again, a file
// open for reading cannot be opened for writing, copied over or deleted.
#ifndef KAVO_FAKE_PLATFORM_H
#define KAVO_FAKE_PLATFORM_H

#include <stddef.h>

#include <string>
#include <vector>

#include "platform.h"

namespace fake {

enum : size_t { NO_OFFSET = (size_t)-1 };

struct Faults {
    std::string openSource;             // this name cannot be opened for reading
    std::string createOutput;           // this name cannot be created
    size_t readAt = NO_OFFSET;          // reading this offset of a file open for reading fails
    size_t writeAt = NO_OFFSET;         // writing this offset of a created file fails
    std::string close;                  // closing this name reports failure (the handle still closes)
    bool copy = false;                  // PlatformCopyOver fails, leaving the target as it was
    bool deleteFile = false;            // PlatformDelete fails
    std::vector<unsigned long> readSizes;  // when set, read n delivers at most readSizes[n % size]
    bool inPlace = true;                // PlatformReadInPlace offers the bytes (false: declines, as for a pipe)
    PlatformReplacement replacement = PLATFORM_REPLACE_RENAME;  // what PlatformHowToReplace answers
    bool rename = false;                // PlatformRenameOver fails, changing nothing
    bool changed = false;               // PlatformStampUnchanged finds the file changed
    // Outputs are written ahead: PlatformWriteStart only takes note, and PlatformWriteFinish
    // writes the bytes then, from the buffer as it is by then.
    bool writesAhead = false;
};

struct Message {
    PlatformWindow owner;
    std::string text;
    std::string caption;
    PlatformIcon icon;
    int openHandles;  // handles open when it was shown
};

// Forgets all files, faults, handles, messages and the trace.
void Reset();

void SetFile(const std::string &name, const std::string &contents);
bool HasFile(const std::string &name);
std::string File(const std::string &name);  // empty when absent
std::vector<std::string> FileNames();       // in the spelling they were created with
void SetExecutablePath(const std::string &path);

Faults &GetFaults();
const std::vector<Message> &Messages();

// The calls other than reads and writes, in order: "open NAME", "create NAME",
// "create-new NAME", "close NAME", "copy FROM TO", "rename FROM TO", "delete NAME",
// "unchanged NAME", "message TEXT", each with " FAILED" appended when the call failed.
// PlatformBesideName gives the name with "~new" appended.
const std::vector<std::string> &Trace();

// The sizes of the write calls that succeeded, in order.
const std::vector<size_t> &WriteCalls();

// Standard input and output are the files "<stdin>" and "<stdout>"; their handles are
// left out of the two checks below (the process owns them, whoever closes them).
// The number of handles open now.
int OpenHandles();
// Empty when every handle was closed exactly once, nothing was closed that was not
// open, no read or write used a closed handle, nothing was written to a file after a
// write to it had failed, and every write started was finished before anything else was
// done with its file; otherwise what went wrong.
std::string HandleProblems();

}  // namespace fake

#endif
