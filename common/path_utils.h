// Path helpers: the directory part of a path, the running program's own directory, and
// building a path that never outgrows its buffer.
// Paths are NUL-terminated strings in the system's code page; the separator is the
// backslash, and the second byte of a two-byte character is never taken for one.
#ifndef KAVO_PATH_UTILS_H
#define KAVO_PATH_UTILS_H

#include "platform_types.h"

// Writes into out (at least MAX_PATH bytes) the directory part of path: everything up to
// and including its last backslash, or the empty string when it has none. Returns 1.
// Returns 0, with out empty, when that part would not fit in MAX_PATH bytes with its
// terminator. out may be path itself.
int GetDirPart(const char *path, char *out);

// Writes into out (at least MAX_PATH bytes) the directory of the running executable with
// its final backslash (Windows build only). Returns 1; returns 0, with out empty, when the executable's path
// cannot be had or does not fit in MAX_PATH bytes.
int GetModuleDir(char *out);

// Appends text to the path in out (MAX_PATH + 1 bytes) when the result, with its
// terminator, fits in MAX_PATH bytes, as every path the system takes must. Returns 1; 0,
// with out unchanged, when it would not fit.
int AppendPath(char *out, const char *text);

#endif
