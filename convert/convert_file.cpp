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

int BuildTempPath(char *out) {
    out[0] = '\0';
    // With no folder of the program's own, a bare "Temp.dat" would land in whatever folder
    // is current and could overwrite a file of the user's there.
    if (ProgramState.programDir[0] == '\0') return 0;
    if (!AppendPath(out, ProgramState.programDir) || !AppendPath(out, TEMP_FILE_NAME)) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

void RunConversion(const char *sourcePath, const char *destPath, JobReporter report, void *context) {
    PlatformFile source;
    PlatformFile output;
    char tempPath[MAX_PATH + 1];
    tempPath[0] = '\0';
    const int inPlace = sourcePath && destPath && PlatformSameName(sourcePath, destPath);

    if (!sourcePath) {
        source = PlatformStandardInput();
    } else if (!PlatformOpenSource(sourcePath, &source)) {
        report(context, JOB_SOURCE_NOT_FOUND, tempPath);
        return;
    }
    int created;
    if (inPlace) {
        created = BuildTempPath(tempPath);
        if (created) report(context, JOB_TEMP_FILE, tempPath);
        created = created && PlatformCreateOutput(tempPath, &output);
    } else if (destPath) {
        created = PlatformCreateOutput(destPath, &output);
    } else {
        // Standard output may be the source by another name (`kavoconv in.txt - >> in.txt`).
        output = PlatformStandardOutput();
        created = !PlatformSameFile(source, output);
    }
    if (!created) {
        report(context, inPlace ? JOB_TEMP_CREATE_FAILED : JOB_DEST_OPEN_FAILED, tempPath);
        PlatformClose(source);
        return;
    }

    TranscodeResult result = TranscodeStream(source, output);
    if (result != Completed) {
        report(context, result == ReadFailed ? JOB_READ_FAILED : JOB_WRITE_FAILED, tempPath);
        PlatformClose(source);
        PlatformClose(output);
        return;
    }
    PlatformClose(source);
    // Closing is where a delayed write error surfaces; success is not claimed over it.
    if (!PlatformClose(output)) {
        report(context, JOB_WRITE_FAILED, tempPath);
        return;
    }

    if (inPlace) {
        report(context, JOB_WRITE_BACK, tempPath);
        // A copy, not a rename: the temporary file may lie on another volume.
        if (PlatformCopyOver(tempPath, destPath))
            PlatformDelete(tempPath);
        else
            report(context, JOB_WRITE_BACK_FAILED, tempPath);
    }
    report(context, JOB_COMPLETED, tempPath);
}

void ConvertFile(PlatformWindow owner, const char *sourcePath, const char *destPath) {
    RunConversion(sourcePath, destPath, ShowBox, &owner);
}
