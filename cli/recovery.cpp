// Records are a few lines of text: a header, the file's identity and stamp, its name, and
// RECOVERY_WHOLE once Temp.dat is whole. Only folders with a record of this form are ever
// removed: a folder of an older kavoconv is left alone.
#include "recovery.h"

#include <stdio.h>
#include <string.h>

#include "cli_platform.h"
#include "convert_file.h"
#include "path_utils.h"
#include "platform.h"

const char RECOVERY_WHOLE[] = "whole";

namespace {

const char HEADER[] = "kavoconv record 1\n";
enum { LEFTOVER_LIMIT = 32, COMPARE_BLOCK = 64 * 1024 };

struct Leftover {
    char dir[MAX_PATH + 1];
    PlatformFileStamp stamp;  // of the file when that run began
};

Leftover leftovers[LEFTOVER_LIMIT];
int leftoverCount;
int scanned;

// Reads a record. Returns 0 when it is not one of this form.
int ParseRecord(const char *record, PlatformFileStamp *stamp, int *whole) {
    if (strncmp(record, HEADER, sizeof HEADER - 1) != 0) return 0;
    const char *line = record + sizeof HEADER - 1;
    if (sscanf(line, "identity %llx %llx\nstamp %llu %llu %llu\n", &stamp->identity[0], &stamp->identity[1],
               &stamp->size, &stamp->modified, &stamp->changed) != 5)
        return 0;
    // The marker is a line of its own after the file's name.
    const size_t length = strlen(record), marker = strlen(RECOVERY_WHOLE);
    *whole = length > marker + 1 && record[length - 1] == '\n' && record[length - marker - 2] == '\n' &&
             strncmp(record + length - marker - 1, RECOVERY_WHOLE, marker) == 0;
    return 1;
}

int TempIn(const char *dir, char *out) { return BuildTempPath(dir, out); }

void Remove(const char *dir) {
    char temp[MAX_PATH + 1];
    if (TempIn(dir, temp)) PlatformDelete(temp);
    CliRemoveWorkDir(dir);
}

void Visit(const char *dir, const char *record, void *) {
    PlatformFileStamp stamp;
    int whole;
    if (!ParseRecord(record, &stamp, &whole)) return;
    if (!whole) {  // cut short before the copy back: the file was never touched
        Remove(dir);
        return;
    }
    if (leftoverCount == LEFTOVER_LIMIT) return;  // the rest wait for a later run
    Leftover &left = leftovers[leftoverCount++];
    snprintf(left.dir, sizeof left.dir, "%s", dir);
    left.stamp = stamp;
}

int SameContents(const char *a, const char *b) {
    static unsigned char blockA[COMPARE_BLOCK], blockB[COMPARE_BLOCK];
    PlatformFile x, y;
    if (!PlatformOpenSource(a, &x)) return 0;
    if (!PlatformOpenSource(b, &y)) {
        PlatformClose(x);
        return 0;
    }
    int same = 1;
    for (;;) {
        unsigned long gotA = 0, gotB = 0;
        if (!PlatformRead(x, blockA, sizeof blockA, &gotA) || !PlatformRead(y, blockB, sizeof blockB, &gotB) ||
            gotA != gotB || memcmp(blockA, blockB, gotA) != 0) {
            same = 0;
            break;
        }
        if (gotA == 0) break;
    }
    PlatformClose(x);
    PlatformClose(y);
    return same;
}

}  // namespace

int RecoveryRecord(const char *path, char *out, size_t size) {
    PlatformFileStamp stamp;
    memset(&stamp, 0, sizeof stamp);
    PlatformStampPath(path, &stamp);  // a file that does not exist yet has nothing to lose
    const int length = snprintf(out, size, "%sidentity %llx %llx\nstamp %llu %llu %llu\nfile %s\n", HEADER,
                                stamp.identity[0], stamp.identity[1], stamp.size, stamp.modified, stamp.changed, path);
    return length > 0 && (size_t)length < size;
}

void RecoveryScan(const char *root) {
    if (scanned) return;
    scanned = 1;
    CliEachLeftWorkDir(root, Visit, nullptr);
}

int RecoveryLeftFor(const char *path, char *tempPath) {
    tempPath[0] = '\0';
    PlatformFileStamp now;
    const PlatformFailure failure = PlatformLastFailure();  // looking is no failure of the run's
    const int exists = PlatformStampPath(path, &now);
    PlatformSetLastFailure(failure);
    if (!exists) return 0;
    for (int i = 0; i < leftoverCount; i++) {
        Leftover &left = leftovers[i];
        if (!left.dir[0] || memcmp(left.stamp.identity, now.identity, sizeof now.identity) != 0) continue;
        char temp[MAX_PATH + 1];
        // Untouched since that run began, or the copy back done: nothing is lost.
        if (memcmp(&left.stamp, &now, sizeof now) == 0 || (TempIn(left.dir, temp) && SameContents(temp, path))) {
            Remove(left.dir);
            left.dir[0] = '\0';
            continue;
        }
        return TempIn(left.dir, tempPath);
    }
    return 0;
}
