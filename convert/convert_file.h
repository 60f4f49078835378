// The conversion job: open, transcode, put the result in place, report how it went.
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

// What the job reports while it runs, in the order it happens. The outcomes are the
// moments the dialog shows its message boxes: an error while the files it speaks of are
// still open, the completion after they are closed. The two steps of the in-place route
// come before the outcome and show nothing.
enum JobEvent {
    JOB_TEMP_FILE,           // in place: the temporary file is about to be created
    JOB_WRITE_BACK,          // in place: the converted text is about to be copied over the source
    JOB_SOURCE_NOT_FOUND,    // outcomes from here on
    JOB_DEST_OPEN_FAILED,
    JOB_TEMP_CREATE_FAILED,
    JOB_READ_FAILED,
    JOB_WRITE_FAILED,
    JOB_WRITE_BACK_FAILED,   // the temporary file keeps the converted text; JOB_COMPLETED follows
    JOB_COMPLETED
};

// Receives the job's events. tempPath is the temporary file's path on the in-place route
// (empty when it could not be built) and the empty string on the other routes.
typedef void (*JobReporter)(void *context, JobEvent event, const char *tempPath);

// The message box of an outcome: its text (in the program's own encoding), caption and
// icon. Null text for the two steps, which have no box.
const char *JobEventText(JobEvent event);
const char *JobEventCaption(JobEvent event);
PlatformIcon JobEventIcon(JobEvent event);

// Builds ProgramState.programDir followed by TEMP_FILE_NAME into out (MAX_PATH + 1 bytes).
// Returns 0, with out empty, when programDir is empty (the program's folder is unknown) or
// the path would not fit in MAX_PATH bytes.
int BuildTempPath(char *out);

// Converts sourcePath into destPath with the settings in ProgramState. A null sourcePath
// reads standard input, a null destPath writes standard output; a standard stream is
// closed at the end like a file the job opened, so that a write only the close can
// report is not taken for success. When the two names are equal with letter case
// ignored, the text goes through the temporary file, which is then copied over the
// source. Every event is handed to `report` with `context`; every file opened here is
// closed on every path before the call returns.
void RunConversion(const char *sourcePath, const char *destPath, JobReporter report, void *context);

// The dialog's conversion: RunConversion with every outcome shown as a message box owned
// by `owner`.
void ConvertFile(PlatformWindow owner, const char *sourcePath, const char *destPath);

#endif
