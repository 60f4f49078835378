// The conversion job. Messages on failure paths are shown while the files are still
// open (the box says what happened to them); the completion box after they are closed.
#include "convert_file.h"

#include <string.h>

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

void ShowError(PlatformWindow owner, const char *text) {
    PlatformShowMessage(owner, text, MessageTable[MSG_ERROR_CAPTION], PLATFORM_ICON_ERROR);
}

}  // namespace

int BuildTempPath(char *out) {
    size_t dirLength = strlen(ProgramState.programDir);
    out[0] = '\0';
    // With no folder of the program's own, a bare "Temp.dat" would land in whatever folder
    // is current and could overwrite a file of the user's there.
    if (dirLength == 0) return 0;
    if (dirLength + sizeof TEMP_FILE_NAME > MAX_PATH) return 0;  // sizeof counts the terminator
    memcpy(out, ProgramState.programDir, dirLength);
    memcpy(out + dirLength, TEMP_FILE_NAME, sizeof TEMP_FILE_NAME);
    return 1;
}

void ConvertFile(PlatformWindow owner, const char *sourcePath, const char *destPath) {
    PlatformFile source;
    PlatformFile output;
    char tempPath[MAX_PATH + 1];

    if (!PlatformOpenSource(sourcePath, &source)) {
        ShowError(owner, MessageTable[MSG_SOURCE_NOT_FOUND]);
        return;
    }
    if (!PlatformSameName(sourcePath, destPath)) {
        if (!PlatformCreateOutput(destPath, &output)) {
            ShowError(owner, MessageTable[MSG_DEST_OPEN_FAILED]);
            PlatformClose(source);
            return;
        }
    } else if (!BuildTempPath(tempPath) || !PlatformCreateOutput(tempPath, &output)) {
        ShowError(owner, TEMP_CREATE_FAILED);
        PlatformClose(source);
        return;
    }

    TranscodeResult result = TranscodeStream(source, output);
    if (result != Completed) {
        ShowError(owner, MessageTable[result == ReadFailed ? MSG_READ_FAILED : MSG_WRITE_FAILED]);
        PlatformClose(source);
        PlatformClose(output);
        return;
    }
    PlatformClose(source);
    // Closing is where a delayed write error surfaces; success is not claimed over it.
    if (!PlatformClose(output)) {
        ShowError(owner, MessageTable[MSG_WRITE_FAILED]);
        return;
    }

    if (PlatformSameName(sourcePath, destPath)) {
        // A copy, not a rename: the temporary file may lie on another volume.
        if (PlatformCopyOver(tempPath, destPath))
            PlatformDelete(tempPath);
        else
            ShowError(owner, WRITE_BACK_FAILED);
    }
    PlatformShowMessage(owner, CONVERSION_COMPLETED, COMPLETED_CAPTION, PLATFORM_ICON_INFORMATION);
}
