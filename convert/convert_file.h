// The conversion job: open, transcode, put the result in place, tell the user.
#ifndef KAVO_CONVERT_FILE_H
#define KAVO_CONVERT_FILE_H

#include "platform.h"

enum MessageIndex {
    MSG_ERROR_CAPTION = 0,
    MSG_SOURCE_NOT_FOUND = 1,
    MSG_DEST_OPEN_FAILED = 2,
    MSG_WRITE_FAILED = 3,
    MSG_READ_FAILED = 4,
    MESSAGE_COUNT = 5
};

extern const char *const MessageTable[MESSAGE_COUNT];

extern const char TEMP_FILE_NAME[];         // in ProgramState.programDir
extern const char TEMP_CREATE_FAILED[];     // the temporary file cannot be created
extern const char WRITE_BACK_FAILED[];      // the temporary file cannot be copied back
extern const char CONVERSION_COMPLETED[];
extern const char COMPLETED_CAPTION[];

// Builds ProgramState.programDir followed by TEMP_FILE_NAME into out (MAX_PATH + 1 bytes).
// Returns 0, with out empty, when programDir is empty (the program's folder is unknown) or
// the path would not fit in MAX_PATH bytes.
int BuildTempPath(char *out);

// Converts sourcePath into destPath with the settings in ProgramState; when the two names
// are equal with letter case ignored, through the temporary file, which is then copied
// over the source. Every outcome is shown as a message owned by `owner` before the call
// returns; every file opened here is closed on every path.
void ConvertFile(PlatformWindow owner, const char *sourcePath, const char *destPath);

#endif
