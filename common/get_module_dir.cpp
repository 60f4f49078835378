// The running program's own directory, where its help file and temporary file live.
#include "path_utils.h"

#include "platform.h"

int GetModuleDir(char *out) {
    char modulePath[MAX_PATH];
    if (!PlatformGetExecutablePath(modulePath, sizeof modulePath)) {
        out[0] = '\0';
        return 0;
    }
    return GetDirPart(modulePath, out);
}
