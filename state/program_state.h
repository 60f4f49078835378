// The program's one global record: where it lives, and the two settings the dialog
// (or a command-line front end) sets and the transcoder reads.
#ifndef KAVO_PROGRAM_STATE_H
#define KAVO_PROGRAM_STATE_H

#include "platform_types.h"

enum ConversionDirection { SjisToEuc = 0, EucToSjis = 1 };

struct ProgramStateRecord {
    char programDir[MAX_PATH + 1];  // executable's folder with its trailing separator, or empty
    char helpPath[MAX_PATH + 1];    // full path of the help file, or empty when it cannot fit
    unsigned char direction;        // a ConversionDirection; any value but 0 means EucToSjis
    unsigned char convertNewlines;  // 1 converts line ends; any other value leaves them alone
};

// Zero-filled at load: SjisToEuc, newlines off, both paths empty.
extern ProgramStateRecord ProgramState;

#endif
