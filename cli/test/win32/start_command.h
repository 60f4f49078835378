// Starting kavoconv.exe without waiting for it, for the Windows tests that act on it
// while it runs: interruptions, two runs at once, a console of their own.
#ifndef KAVO_START_COMMAND_H
#define KAVO_START_COMMAND_H

#include <windows.h>

#include <string>
#include <vector>

// Starts kavoconv with the given arguments and standard handles (which must be
// inheritable; null: the NUL device) in the folder cwd (empty: this one). It shares this
// process's console, if there is one. Returns its process handle, or null.
HANDLE StartKavoconv(const std::vector<std::string> &args, HANDLE in, HANDLE out, HANDLE err,
                     const std::string &cwd = "");

// Waits up to a minute for the process to end, closes its handle and returns its exit
// status; STILL_ACTIVE when it did not end, and it is ended then.
DWORD FinishKavoconv(HANDLE process);

// The system's words for an error code, in the language the tests run kavoconv in, as
// kavoconv writes them to a file (FormatMessage's, without the line end).
std::string WindowsReason(DWORD code);

#endif
