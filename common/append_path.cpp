#include <string.h>

#include "path_utils.h"

int AppendPath(char *out, const char *text) {
    size_t used = strlen(out);
    size_t length = strlen(text);
    if (used + length >= MAX_PATH) return 0;  // the terminator needs the last byte
    memcpy(out + used, text, length + 1);
    return 1;
}
