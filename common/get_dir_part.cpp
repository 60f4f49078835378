// The directory part of a path, scanned by characters rather than bytes: in Shift_JIS the
// second byte of 表, ソ or 能 is 0x5C, the same value as the backslash.
#include "path_utils.h"

#include <string.h>

#include "platform.h"

int GetDirPart(const char *path, char *out) {
    size_t cut = 0;
    for (size_t i = 0; path[i] != '\0'; ++i) {
        if (path[i] == '\\') {
            cut = i + 1;
        } else if (PlatformIsLeadByte(static_cast<unsigned char>(path[i])) && path[i + 1] != '\0') {
            ++i;  // its second byte, whatever its value, belongs to the character
        }
    }
    if (cut >= MAX_PATH) {
        out[0] = '\0';
        return 0;
    }
    memmove(out, path, cut);
    out[cut] = '\0';
    return 1;
}
