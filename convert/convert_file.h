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
extern const char SOURCE_CHANGED[];         // the file changed while it was being converted
extern const char COMPLETED_CAPTION[];

// What the job reports while it runs, in the order it happens. The outcomes are the
// moments the dialog shows its message boxes: an error while the files it speaks of are
// still open, the completion after they are closed. The two steps before the outcome
// show nothing.
enum JobEvent {
    JOB_TEMP_FILE,           // the intermediate file (Temp.dat, or a new file beside the
                             // destination) is about to be created
    JOB_WRITE_BACK,          // the whole conversion, complete and closed in the intermediate
                             // file, is about to be put in place
    JOB_SOURCE_NOT_FOUND,    // outcomes from here on
    JOB_DEST_OPEN_FAILED,
    JOB_TEMP_CREATE_FAILED,
    JOB_READ_FAILED,
    JOB_WRITE_FAILED,
    JOB_WRITE_BACK_FAILED,   // the intermediate file keeps the converted text; JOB_COMPLETED follows
    JOB_SOURCE_CHANGED,      // in place, JOB_ROUTE_WHOLE: the file changed while it was being
                             // converted; it is left so, Temp.dat keeps the conversion
    JOB_COMPLETED
};

// Receives the job's events. tempPath is the intermediate file's path where there is one
// (empty when it could not be built) and the empty string otherwise. The reason of a
// failure is the platform's last failure (PlatformLastFailure) while report runs.
typedef void (*JobReporter)(void *context, JobEvent event, const char *tempPath);

// How the job puts the converted text in place.
enum JobRoute {
    // The dialog's: a destination is created (or truncated) and written as the text is
    // converted; equal names go through Temp.dat, which is then copied over the source.
    JOB_ROUTE_DIRECT,
    // kavoconv's: a destination that is a regular file, or none yet, only ever receives a
    // whole conversion. The text goes to a new file beside it that is then renamed over
    // it, or, where renaming would lose something of the old file (its other names, an
    // owner this process cannot give), to Temp.dat, which is then copied over it. In
    // place, the file is compared before the copy back with what it was when reading
    // began, and left alone if another program changed it meanwhile.
    JOB_ROUTE_WHOLE
};

// The message box of an outcome: its text (in the program's own encoding), caption and
// icon. Null text for the two steps, which have no box.
const char *JobEventText(JobEvent event);
const char *JobEventCaption(JobEvent event);
PlatformIcon JobEventIcon(JobEvent event);

// Builds folder (with its trailing separator) followed by TEMP_FILE_NAME into out
// (MAX_PATH + 1 bytes). Returns 0, with out empty, when folder is empty (no folder is
// known) or the path would not fit in MAX_PATH bytes.
int BuildTempPath(const char *folder, char *out);

// Converts sourcePath into destPath with the settings in ProgramState, by `route`. A
// null sourcePath reads standard input, a null destPath writes standard output; a
// standard stream is closed at the end like a file the job opened, so that a write only
// the close can report is not taken for success. When the two names are equal with
// letter case ignored, the text goes through Temp.dat in tempFolder, which is then copied
// over the source. Every event is handed to `report` with `context`; every file opened
// here is closed on every path before the call returns.
void RunConversion(const char *sourcePath, const char *destPath, const char *tempFolder, JobRoute route,
                   JobReporter report, void *context);

// The dialog's conversion: RunConversion by JOB_ROUTE_DIRECT with Temp.dat in the
// program's folder, every outcome shown as a message box owned by `owner`.
void ConvertFile(PlatformWindow owner, const char *sourcePath, const char *destPath);

#endif
