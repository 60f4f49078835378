// What a run cut short by SIGKILL or a power cut leaves, and what the next run makes of it.
// Each private folder carries a record of the file it was made for (its name, identity
// and stamp when the conversion began) and, once Temp.dat holds the whole conversion and
// would outlast a power cut, a line that says so. A folder without that line is of no
// use and is removed; one with it holds a conversion that may have been half copied back
// over its file, and the next run that is to write that file says so first.
#ifndef KAVO_RECOVERY_H
#define KAVO_RECOVERY_H

#include <stddef.h>

// The line that marks Temp.dat whole, for CliMarkWorkDir.
extern const char RECOVERY_WHOLE[];

// Writes into out (size bytes) the record of a new private folder for a conversion that
// writes the file at path. Returns 0 when it does not fit.
int RecoveryRecord(const char *path, char *out, size_t size);

// Looks once at the folders left under root by runs that have ended: removes those cut
// short before Temp.dat was whole, and keeps the others in mind for RecoveryLeftFor.
void RecoveryScan(const char *root);

// Before a run writes the file at path: 1, with the path of the Temp.dat that holds an
// earlier run's whole conversion of it in tempPath (MAX_PATH + 1 bytes), when such a run
// may have left the file half copied back. A folder whose file is still as it was when
// that run began, or already holds the whole conversion, is removed instead, and 0 is
// returned, as it is when there is none.
int RecoveryLeftFor(const char *path, char *tempPath);

#endif
