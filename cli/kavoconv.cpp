// kavoconv: the command-line front end. It sets ProgramState as the dialog does and runs
// the same conversion job; the job's messages go to standard error, success says nothing.
// "-" stands for standard input or output, which the job cannot open by name, so those
// routes drive the transcoder here with the job's order of checks and its texts.
#include <stdio.h>
#include <string.h>

#include "cli_platform.h"
#include "convert_file.h"
#include "kavo_version.h"
#include "program_state.h"
#include "transcode.h"

namespace {

const char COMMAND_NAME[] = "kavoconv";
const char VERSION_TEXT[] = "kavoconv " KAVO_VERSION_TEXT "\n";

enum ExitStatus { EXIT_CONVERTED = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

const char HELP_TEXT[] =
    "Usage: kavoconv [-e | --to-euc | -s | --to-sjis] [-l | --newlines] SOURCE DEST\n"
    "       kavoconv --help | --version\n"
    "Converts Japanese text between Shift_JIS and EUC-JP.\n"
    "\n"
    "  -e, --to-euc    Shift_JIS to EUC-JP (the default)\n"
    "  -s, --to-sjis   EUC-JP to Shift_JIS; of -e and -s the last one given wins\n"
    "  -l, --newlines  also convert line ends: CR LF to LF towards EUC-JP,\n"
    "                  LF to CR LF towards Shift_JIS\n"
    "      --help      show this help and exit\n"
    "      --version   show the version and exit\n"
    "\n"
    "SOURCE is converted into DEST, which is created or overwritten. '-' as SOURCE\n"
    "reads standard input, '-' as DEST writes standard output. Paths are limited\n"
    "to 259 bytes.\n"
    "\n"
    "In place: when SOURCE and DEST are the same name (letter case ignored), the\n"
    "text is converted into a file Temp.dat in a new private folder under\n"
    "  %s\n"
    "and then copied over SOURCE; the folder is removed afterwards. If the copy\n"
    "fails, Temp.dat is kept and the message gives its full path.\n"
    "\n"
    "Messages go to standard error; a successful conversion prints nothing.\n"
    "Exit status: 0 converted, 1 the conversion failed (the message says why),\n"
    "2 usage error.\n"
    "\n"
    "Example: kavoconv -s -l notes-euc.txt notes-sjis.txt\n";

// What the job reported, collected by the message hook.
int errorShown;
int completionShown;
int writeBackFailed;

void ReportMessage(PlatformWindow, const char *text, const char *, PlatformIcon icon) {
    if (icon != PLATFORM_ICON_ERROR) {
        completionShown = 1;  // the completion box: nothing to print
        return;
    }
    errorShown = 1;
    if (strcmp(text, WRITE_BACK_FAILED) == 0) writeBackFailed = 1;
    // One prefixed line per line of the text (the write-back message has two).
    char line[256];
    const char *start = text;
    for (;;) {
        const char *end = strchr(start, '\n');
        size_t length = end ? (size_t)(end - start) : strlen(start);
        if (length >= sizeof line) length = sizeof line - 1;
        memcpy(line, start, length);
        line[length] = '\0';
        CliWriteError(COMMAND_NAME, line, CLI_PROGRAM_TEXT);
        if (!end) break;
        start = end + 1;
    }
}

void ShowError(const char *text) {
    PlatformShowMessage(nullptr, text, MessageTable[MSG_ERROR_CAPTION], PLATFORM_ICON_ERROR);
}

int IsStandardStream(const char *path) { return strcmp(path, "-") == 0; }

// The engine takes paths of at most MAX_PATH - 1 bytes, as the Windows calls do.
int TooLong(const char *path) { return strlen(path) >= MAX_PATH; }

// A path the engine cannot take fails as the Windows calls would fail on it: the source
// is checked first, as the job checks it first.
void RefuseLongPath(const char *source) {
    if (!IsStandardStream(source)) {
        PlatformFile probe;
        if (TooLong(source) || !PlatformOpenSource(source, &probe)) {
            ShowError(MessageTable[MSG_SOURCE_NOT_FOUND]);
            return;
        }
        PlatformClose(probe);
    }
    ShowError(MessageTable[MSG_DEST_OPEN_FAILED]);
}

// The job's route with standard input or output in place of a named file.
void ConvertStream(const char *source, const char *dest) {
    const int fromStdin = IsStandardStream(source);
    const int toStdout = IsStandardStream(dest);
    PlatformFile input = PlatformStandardInput();
    PlatformFile output = PlatformStandardOutput();

    if (!fromStdin && !PlatformOpenSource(source, &input)) {
        ShowError(MessageTable[MSG_SOURCE_NOT_FOUND]);
        return;
    }
    // A standard stream can be the other file by another name (`>> source`, `< dest`);
    // the job's own refusal only knows the files it opened itself.
    int refused = toStdout ? CliSameFile(input, output)
                           : CliNamesFile(dest, input) || !PlatformCreateOutput(dest, &output);
    if (refused) {
        ShowError(MessageTable[MSG_DEST_OPEN_FAILED]);
        if (!fromStdin) PlatformClose(input);
        return;
    }

    TranscodeResult result = TranscodeStream(input, output);
    if (result != Completed)
        ShowError(MessageTable[result == ReadFailed ? MSG_READ_FAILED : MSG_WRITE_FAILED]);
    if (!fromStdin) PlatformClose(input);
    if (!toStdout && !PlatformClose(output) && result == Completed) {
        ShowError(MessageTable[MSG_WRITE_FAILED]);  // a delayed write error
        return;
    }
    if (result == Completed)
        PlatformShowMessage(nullptr, CONVERSION_COMPLETED, COMPLETED_CAPTION, PLATFORM_ICON_INFORMATION);
}

// In place: ConvertFile with a private folder of this run as its programDir.
void ConvertInPlace(const char *source, const char *dest) {
    char tempPath[MAX_PATH + 1];
    if (!CliCreateWorkDir(ProgramState.programDir)) {
        // No private folder: with an empty programDir the job reports that it cannot
        // create the temporary file, after its usual source check. The current folder is
        // never used instead.
        ConvertFile(nullptr, source, dest);
        return;
    }
    BuildTempPath(tempPath);  // empty when it does not fit; the job then refuses as well
    ConvertFile(nullptr, source, dest);
    if (writeBackFailed) {
        CliWriteError(COMMAND_NAME, tempPath, CLI_PATH_TEXT);  // the converted text is there
        return;
    }
    // After a failure the partial Temp.dat is of no use, and nobody could find it.
    if (tempPath[0]) PlatformDelete(tempPath);
    CliRemoveWorkDir(ProgramState.programDir);
}

void UsageError(const char *problem, const char *argument) {
    if (argument)
        fprintf(stderr, "%s: %s '%s'\n", COMMAND_NAME, problem, argument);
    else
        fprintf(stderr, "%s: %s\n", COMMAND_NAME, problem);
    fprintf(stderr, "Try '%s --help' for more information.\n", COMMAND_NAME);
}

enum Request { REQUEST_CONVERT, REQUEST_HELP, REQUEST_VERSION, REQUEST_NONE };

struct Arguments {
    const char *operands[2];
    int operandCount;
};

// Sets ProgramState from the options and collects the operands. Returns REQUEST_NONE
// after reporting a usage error.
Request ParseArguments(int argc, char **argv, Arguments *args) {
    int optionsEnded = 0;
    args->operandCount = 0;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
            if (args->operandCount == 2) {
                UsageError("extra operand", arg);
                return REQUEST_NONE;
            }
            args->operands[args->operandCount++] = arg;
        } else if (arg[1] == '-') {
            if (strcmp(arg, "--") == 0) optionsEnded = 1;
            else if (strcmp(arg, "--to-euc") == 0) ProgramState.direction = SjisToEuc;
            else if (strcmp(arg, "--to-sjis") == 0) ProgramState.direction = EucToSjis;
            else if (strcmp(arg, "--newlines") == 0) ProgramState.convertNewlines = 1;
            else if (strcmp(arg, "--help") == 0) return REQUEST_HELP;
            else if (strcmp(arg, "--version") == 0) return REQUEST_VERSION;
            else {
                UsageError("unknown option", arg);
                return REQUEST_NONE;
            }
        } else {
            for (const char *letter = arg + 1; *letter; letter++) {  // -sl is -s -l
                if (*letter == 'e') ProgramState.direction = SjisToEuc;
                else if (*letter == 's') ProgramState.direction = EucToSjis;
                else if (*letter == 'l') ProgramState.convertNewlines = 1;
                else {
                    char option[3] = {'-', *letter, '\0'};
                    UsageError("unknown option", option);
                    return REQUEST_NONE;
                }
            }
        }
    }
    if (args->operandCount < 2) {
        UsageError(args->operandCount == 0 ? "missing SOURCE and DEST" : "missing DEST", nullptr);
        return REQUEST_NONE;
    }
    return REQUEST_CONVERT;
}

}  // namespace

int main(int argc, char **argv) {
    CliInit();
    Arguments args;
    switch (ParseArguments(argc, argv, &args)) {
    case REQUEST_HELP:
        printf(HELP_TEXT, CLI_WORK_ROOT_DESCRIPTION);
        return EXIT_CONVERTED;
    case REQUEST_VERSION:
        fputs(VERSION_TEXT, stdout);
        return EXIT_CONVERTED;
    case REQUEST_NONE:
        return EXIT_USAGE;
    case REQUEST_CONVERT:
        break;
    }

    const char *source = args.operands[0];
    const char *dest = args.operands[1];
    PlatformSetMessageHook(ReportMessage);
    if ((!IsStandardStream(source) && TooLong(source)) || (!IsStandardStream(dest) && TooLong(dest)))
        RefuseLongPath(source);
    else if (IsStandardStream(source) || IsStandardStream(dest))
        ConvertStream(source, dest);
    else if (PlatformSameName(source, dest))
        ConvertInPlace(source, dest);
    else
        ConvertFile(nullptr, source, dest);
    PlatformSetMessageHook(nullptr);
    return completionShown && !errorShown ? EXIT_CONVERTED : EXIT_FAILED;
}
