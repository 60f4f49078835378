// The conversion job. Outcomes on failure paths are reported while the files are still
// open (the dialog's box says what happened to them); the completion after they are closed.
#include "convert_file.h"

#include <string.h>

#include "path_utils.h"
#include "program_state.h"
#include "transcode.h"

const char *const MessageTable[MESSAGE_COUNT] = {
    "エラー",
    "変換元ファイルが見つかりません。",
    "変換先ファイルをオープンできません。",
    "ファイルの書きこみに失敗しました。",
    "ファイルの読みこみに失敗しました。",
};

const char TEMP_FILE_NAME[] = "Temp.dat";
const char TEMP_CREATE_FAILED[] = "Temp.datが作成できません。";
const char WRITE_BACK_FAILED[] = "テンポラリファイルから書き戻せませんでした。\n変換された内容は、Temp.datに記録されています。";
const char CONVERSION_COMPLETED[] = "変換が完了しました。";
// Only kavoconv's route meets this; the dialog never shows it.
const char SOURCE_CHANGED[] = "変換中に変換元ファイルが変更されました。\n変換された内容は、Temp.datに記録されています。";
const char COMPLETED_CAPTION[] = "完了";

namespace {

void ShowBox(void *owner, JobEvent event, const char *) {
    if (JobEventText(event))
        PlatformShowMessage(*(PlatformWindow *)owner, JobEventText(event), JobEventCaption(event), JobEventIcon(event));
}

}  // namespace

const char *JobEventText(JobEvent event) {
    switch (event) {
    case JOB_SOURCE_NOT_FOUND: return MessageTable[MSG_SOURCE_NOT_FOUND];
    case JOB_DEST_OPEN_FAILED: return MessageTable[MSG_DEST_OPEN_FAILED];
    case JOB_TEMP_CREATE_FAILED: return TEMP_CREATE_FAILED;
    case JOB_READ_FAILED: return MessageTable[MSG_READ_FAILED];
    case JOB_WRITE_FAILED: return MessageTable[MSG_WRITE_FAILED];
    case JOB_WRITE_BACK_FAILED: return WRITE_BACK_FAILED;
    case JOB_SOURCE_CHANGED: return SOURCE_CHANGED;
    case JOB_COMPLETED: return CONVERSION_COMPLETED;
    case JOB_TEMP_FILE:
    case JOB_WRITE_BACK: break;
    }
    return nullptr;
}

const char *JobEventCaption(JobEvent event) {
    return event == JOB_COMPLETED ? COMPLETED_CAPTION : MessageTable[MSG_ERROR_CAPTION];
}

PlatformIcon JobEventIcon(JobEvent event) {
    return event == JOB_COMPLETED ? PLATFORM_ICON_INFORMATION : PLATFORM_ICON_ERROR;
}

int BuildTempPath(const char *folder, char *out) {
    out[0] = '\0';
    // With no folder, a bare "Temp.dat" would land in whatever folder is current and could
    // overwrite a file of the user's there.
    if (!folder || folder[0] == '\0') return 0;
    if (!AppendPath(out, folder) || !AppendPath(out, TEMP_FILE_NAME)) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

namespace {

// Where the converted text goes first: straight into the output, or into an intermediate
// file that is put in place once it holds the whole conversion.
struct Output {
    PlatformReplacement replacement;  // STREAM: no intermediate file
    char tempPath[MAX_PATH + 1];      // the intermediate file, or empty
    char target[MAX_PATH + 1];        // RENAME: the file the intermediate one is renamed over
};

// Decides the route and creates the output. Returns the outcome to report when that
// fails, JOB_COMPLETED when the output is open.
JobEvent CreateOutput(PlatformFile source, const char *destPath, const char *tempFolder, JobRoute route,
                      int inPlace, Output *out, PlatformFile *file, JobReporter report, void *context) {
    out->tempPath[0] = out->target[0] = '\0';
    if (inPlace)
        out->replacement = PLATFORM_REPLACE_COPY;
    else if (destPath && route == JOB_ROUTE_WHOLE)
        out->replacement = PlatformHowToReplace(destPath, source, out->target);
    else
        out->replacement = PLATFORM_REPLACE_STREAM;

    switch (out->replacement) {
    case PLATFORM_REPLACE_REFUSED:
        return JOB_DEST_OPEN_FAILED;
    case PLATFORM_REPLACE_RENAME:
        if (PlatformBesideName(out->target, out->tempPath)) {
            report(context, JOB_TEMP_FILE, out->tempPath);
            return PlatformCreateNew(out->tempPath, file) ? JOB_COMPLETED : JOB_DEST_OPEN_FAILED;
        }
        // A name beside the destination does not fit where the destination just does.
        out->replacement = PLATFORM_REPLACE_COPY;
        // fall through
    case PLATFORM_REPLACE_COPY:
        if (!BuildTempPath(tempFolder, out->tempPath)) {
            // Without a folder the caller knows why; with one, the path is too long.
            if (tempFolder && tempFolder[0]) PlatformSetLastFailure(PlatformFailure{PLATFORM_FAILURE_NAME_TOO_LONG, 0});
            return JOB_TEMP_CREATE_FAILED;
        }
        report(context, JOB_TEMP_FILE, out->tempPath);
        return PlatformCreateOutput(out->tempPath, file) ? JOB_COMPLETED : JOB_TEMP_CREATE_FAILED;
    case PLATFORM_REPLACE_STREAM:
        break;
    }
    if (destPath) return PlatformCreateOutput(destPath, file) ? JOB_COMPLETED : JOB_DEST_OPEN_FAILED;
    // Standard output may be the source by another name (`kavoconv in.txt - >> in.txt`).
    *file = PlatformStandardOutput();
    if (!PlatformSameFile(source, *file)) return JOB_COMPLETED;
    PlatformSetLastFailure(PlatformFailure{PLATFORM_FAILURE_SAME_FILE, 0});
    return JOB_DEST_OPEN_FAILED;
}

// Puts the whole conversion in place: renamed over its target where that loses nothing,
// else copied over the destination (a copy keeps the file's identity, and Temp.dat may lie
// on another volume) and deleted. Returns 0 when neither could be done.
int PutInPlace(const Output &out, const char *destPath) {
    if (out.replacement == PLATFORM_REPLACE_RENAME && PlatformRenameOver(out.tempPath, out.target)) return 1;
    if (!PlatformCopyOver(out.tempPath, destPath)) return 0;
    PlatformDelete(out.tempPath);
    return 1;
}

}  // namespace

void RunConversion(const char *sourcePath, const char *destPath, const char *tempFolder, JobRoute route,
                   JobReporter report, void *context) {
    PlatformFile source;
    PlatformFile output;
    const int inPlace = sourcePath && destPath && PlatformSameName(sourcePath, destPath);

    if (!sourcePath) {
        source = PlatformStandardInput();
    } else if (!PlatformOpenSource(sourcePath, &source)) {
        report(context, JOB_SOURCE_NOT_FOUND, "");
        return;
    }
    // What the file was when reading began, to tell before the copy back whether another
    // program has changed it since.
    PlatformFileStamp stamp;
    const int stamped = inPlace && route == JOB_ROUTE_WHOLE && PlatformStampFile(source, &stamp);

    Output out;
    JobEvent refused = CreateOutput(source, destPath, tempFolder, route, inPlace, &out, &output, report, context);
    if (refused != JOB_COMPLETED) {
        report(context, refused, out.tempPath);
        PlatformClose(source);
        return;
    }
    const int intermediate = out.tempPath[0] != '\0';
    // On kavoconv's route nothing partial is left behind, least of all beside the destination.
    const int discardPartial = intermediate && route == JOB_ROUTE_WHOLE;

    TranscodeResult result = TranscodeStream(source, output);
    if (result != Completed) {
        report(context, result == ReadFailed ? JOB_READ_FAILED : JOB_WRITE_FAILED, out.tempPath);
        PlatformClose(source);
        PlatformClose(output);
        if (discardPartial) PlatformDelete(out.tempPath);
        return;
    }
    PlatformClose(source);
    // Closing is where a delayed write error surfaces; success is not claimed over it.
    if (!PlatformClose(output)) {
        const PlatformFailure failure = PlatformLastFailure();
        if (discardPartial) PlatformDelete(out.tempPath);
        PlatformSetLastFailure(failure);
        report(context, JOB_WRITE_FAILED, out.tempPath);
        return;
    }

    if (intermediate) {
        if (stamped && !PlatformStampUnchanged(destPath, &stamp)) {
            report(context, JOB_SOURCE_CHANGED, out.tempPath);
            return;
        }
        report(context, JOB_WRITE_BACK, out.tempPath);
        if (!PutInPlace(out, destPath)) report(context, JOB_WRITE_BACK_FAILED, out.tempPath);
    }
    report(context, JOB_COMPLETED, out.tempPath);
}

void ConvertFile(PlatformWindow owner, const char *sourcePath, const char *destPath) {
    RunConversion(sourcePath, destPath, ProgramState.programDir, JOB_ROUTE_DIRECT, ShowBox, &owner);
}
