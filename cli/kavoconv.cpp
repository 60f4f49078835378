// kavoconv: the command-line front end. It sets ProgramState as the dialog does and runs
// the same conversion job, whose outcomes it prints to standard error (success says
// nothing). Beyond the dialog it converts many files in place, each only when its guess
// says it is not already converted, and guesses encodings.
#include <stdio.h>
#include <string.h>

#include "cli_platform.h"
#include "convert_file.h"
#include "guess.h"
#include "kavo_version.h"
#include "path_utils.h"
#include "program_state.h"
#include "progress.h"

namespace {

const char COMMAND_NAME[] = "kavoconv";
const char VERSION_TEXT[] = "kavoconv " KAVO_VERSION_TEXT "\n";

enum ExitStatus { EXIT_CONVERTED = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

const char HELP_TEXT[] =
    "Usage: kavoconv [-e | -s] [-l] SOURCE DEST\n"
    "       kavoconv [-e | -s] [-l] [-f] -i FILE...\n"
    "       kavoconv -g FILE...\n"
    "       kavoconv --help | --version\n"
    "Converts Japanese text between Shift_JIS and EUC-JP.\n"
    "\n"
    "  -e, --to-euc    Shift_JIS to EUC-JP (the default)\n"
    "  -s, --to-sjis   EUC-JP to Shift_JIS; of -e and -s the last one given wins\n"
    "  -l, --newlines  also convert line ends: CR LF to LF towards EUC-JP,\n"
    "                  LF to CR LF towards Shift_JIS\n"
    "  -i, --in-place  convert each FILE in place\n"
    "  -f, --force     with -i, convert also the files the guess would skip\n"
    "  -g, --guess     print the encoding and line ends of each FILE\n"
    "      --help      show this help and exit\n"
    "      --version   show the version and exit\n"
    "\n"
    "SOURCE is converted into DEST, which is created or overwritten. '-' as SOURCE\n"
    "reads standard input, '-' as DEST writes standard output. Paths are limited\n"
    "to 259 bytes.\n"
    "\n"
    "In place (-i, or SOURCE and DEST the same name, letter case ignored), the\n"
    "text is converted into a file Temp.dat in a new private folder under\n"
    "  %s\n"
    "and then copied over the file; the folder is removed afterwards. If the copy\n"
    "fails, Temp.dat is kept and the message gives its full path.\n"
    "%s"
    "\n"
    "With -i, each FILE is guessed first, as -g does, and converted only when it\n"
    "reads as the encoding converted from (or ASCII) and every character would\n"
    "convert back to the same bytes; other files are left untouched and reported\n"
    "as skipped, with what was guessed or how many characters would be damaged.\n"
    "A short file the guess cannot name is converted when it cannot be the target\n"
    "encoding nor UTF-8 and reads as Japanese. -f converts them all.\n"
    "A failure on one FILE is reported and the others go on.\n"
    "\n"
    "-g prints one line per FILE ('-' reads standard input):\n"
    "  FILE: ENCODING (LINE ENDS)\n"
    "ENCODING is ASCII, Shift_JIS, EUC-JP, UTF-8, 'Shift_JIS or EUC-JP' (too little\n"
    "text to tell) or unknown (binary, or another encoding); LINE ENDS is CRLF, LF,\n"
    "CR, mixed or none. Shift_JIS and EUC-JP lines end in ', N characters outside\n"
    "JIS X 0208' when there are such characters (Shift_JIS: the NEC and IBM\n"
    "extensions that Windows adds, and the user-defined area; EUC-JP: JIS X 0212):\n"
    "the conversion maps them to codes that other programs read differently or\n"
    "not at all.\n"
    "\n"
    "Messages go to standard error, as 'kavoconv: FILE: TEXT' with -i and -g; a\n"
    "successful conversion prints nothing. On a terminal, work that takes more\n"
    "than a second shows a progress line there.\n"
    "Exit status: 0 every file converted (or, with -i, skipped) or guessed;\n"
    "1 a conversion failed or, with -g, a file could not be read (the message\n"
    "says why); 2 usage error.\n"
    "\n"
    "Examples: kavoconv -s -l notes-euc.txt notes-sjis.txt\n"
    "          find . -name '*.txt' -exec kavoconv -l -i {} +\n";

// What one file came to, as the job (or the guess) reported it.
struct FileReport {
    const char *file;  // named in messages; null in the two-name form
    int failed;
    int completed;
    int skipped;
    int writeBackFailed;
    char tempPath[MAX_PATH + 1];
};

void StartReport(FileReport *report, const char *file) {
    memset(report, 0, sizeof *report);
    report->file = file;
}

int Succeeded(const FileReport &report) { return report.skipped || (report.completed && !report.failed); }

void Say(const char *file, const char *text, CliTextKind kind) {
    ProgressPause();
    CliWriteError(COMMAND_NAME, file, text, kind);
    ProgressResume();
}

// One message line per line of a program text (the write-back message has two).
void SayLines(const char *file, const char *text) {
    char line[256];
    for (const char *start = text;;) {
        const char *end = strchr(start, '\n');
        size_t length = end ? (size_t)(end - start) : strlen(start);
        if (length >= sizeof line) length = sizeof line - 1;
        memcpy(line, start, length);
        line[length] = '\0';
        Say(file, line, CLI_PROGRAM_TEXT);
        if (!end) break;
        start = end + 1;
    }
}

// The job's reporter: keeps what happened and prints the outcomes.
void Report(void *context, JobEvent event, const char *tempPath) {
    FileReport *report = static_cast<FileReport *>(context);
    switch (event) {
    case JOB_TEMP_FILE:
        report->tempPath[0] = '\0';
        AppendPath(report->tempPath, tempPath);
        CliSetDisposable(ProgramState.programDir, tempPath);  // an interruption takes it away
        return;
    case JOB_WRITE_BACK:
        CliHoldInterruptions();  // the copy back runs to its end; released after the clean-up
        return;
    case JOB_COMPLETED:
        report->completed = 1;
        return;
    case JOB_WRITE_BACK_FAILED:
        report->writeBackFailed = 1;
        CliSetDisposable(nullptr, nullptr);  // Temp.dat holds the converted text now
        break;
    default:
        break;
    }
    report->failed = 1;
    SayLines(report->file, JobEventText(event));
    if (event == JOB_WRITE_BACK_FAILED) Say(report->file, tempPath, CLI_PATH_TEXT);  // the text is there
}

int IsStandardStream(const char *path) { return strcmp(path, "-") == 0; }

// The engine takes paths of at most MAX_PATH - 1 bytes, as the Windows calls do.
int TooLong(const char *path) { return path && strlen(path) >= MAX_PATH; }

// The guard's messages: a file the guess takes for what it is not to convert from, and a
// file whose conversion would not come back to its bytes.
const char SKIPPED_GUESSED[] = "skipped, guessed %s";
const char SKIPPED_DAMAGE_ONE[] = "skipped, converting would damage 1 character (line %llu, byte offset %llu)";
const char SKIPPED_DAMAGE[] = "skipped, converting would damage %llu characters (the first on line %llu, byte offset %llu)";

void GuessBytes(const unsigned char *bytes, unsigned long count, void *context) {
    GuessFeed(static_cast<GuessState *>(context), bytes, count);
}

// Guesses the file at path (null: standard input), reading it in place where the system
// can. With a direction (not -1) the guess also counts what a conversion in that direction
// would damage. Returns 0 after reporting why when the file cannot be read; else the bytes
// read are in *read.
int GuessFile(const char *path, int direction, GuessResult *result, unsigned long long *read, FileReport *report) {
    static unsigned char block[64 * 1024];
    PlatformFile file;
    if (!path) {
        file = PlatformStandardInput();
    } else if (TooLong(path) || !PlatformOpenSource(path, &file)) {
        Report(report, JOB_SOURCE_NOT_FOUND, "");
        return 0;
    }
    GuessState state;
    GuessStart(&state);
    if (direction >= 0) GuessCheckDamage(&state, direction);
    unsigned long got;
    int ok, inPlace = 1;
    for (;;) {
        if (inPlace) {
            GuessState next = state;  // what a read that fails halfway made of the bytes does not count
            if (PlatformReadInPlace(file, 4 * 1024 * 1024, &got, GuessBytes, &next)) {
                state = next;
                continue;
            }
            inPlace = 0;
        }
        if (!(ok = PlatformRead(file, block, sizeof block, &got)) || got == 0) break;
        GuessFeed(&state, block, got);
    }
    if (path) PlatformClose(file);
    if (!ok) {
        Report(report, JOB_READ_FAILED, "");
        return 0;
    }
    GuessFinish(&state, result);
    *read = state.offset;
    return 1;
}

// The guard of -i: nonzero when the file is to be left alone, after saying why: when the
// guess does not take it for the encoding converted from (or for text that can only be
// that), or when converting it back would not give its bytes again. The newline rule
// does not count here: it changes line ends on purpose, and a lone LF in Shift_JIS text
// comes back as CR LF.
int SkipsFile(const char *path, FileReport *report) {
    GuessResult guess;
    unsigned long long read;
    if (!GuessFile(path, ProgramState.direction, &guess, &read, report)) return 1;
    char text[160];
    if (!guess.convertible[ProgramState.direction == SjisToEuc ? 0 : 1])
        snprintf(text, sizeof text, SKIPPED_GUESSED, GuessedEncodingName(guess.encoding));
    else if (guess.damaged == 1)
        snprintf(text, sizeof text, SKIPPED_DAMAGE_ONE, guess.firstDamageLine, guess.firstDamageOffset);
    else if (guess.damaged > 1)
        snprintf(text, sizeof text, SKIPPED_DAMAGE, guess.damaged, guess.firstDamageLine, guess.firstDamageOffset);
    else {
        ProgressRereading(read);  // the conversion reads the same bytes again
        return 0;
    }
    Say(report->file, text, CLI_PROGRAM_TEXT);
    report->skipped = 1;
    return 1;
}

// In place: ConvertFile's route with a private folder of this conversion as programDir,
// one kavoconv at a time on the file, and nothing left behind by an interruption.
void ConvertInPlace(const char *source, const char *dest, int guard, FileReport *report) {
    if (TooLong(source)) {
        Report(report, JOB_SOURCE_NOT_FOUND, "");
        return;
    }
    const int lock = CliLockFile(source);
    if (guard && SkipsFile(source, report)) {
        CliUnlockFile(lock);
        return;
    }
    if (!CliMayWrite(dest)) {
        // Known before anything is converted: no Temp.dat to keep for a file that cannot
        // take the text back.
        Report(report, JOB_DEST_OPEN_FAILED, "");
        CliUnlockFile(lock);
        return;
    }
    CliHoldInterruptions();
    // Without a private folder programDir stays empty and the job reports that it cannot
    // create the temporary file, after its usual source check; no other folder is used.
    const int haveDir = CliCreateWorkDir(ProgramState.programDir);
    CliSetDisposable(haveDir ? ProgramState.programDir : nullptr, nullptr);
    CliReleaseInterruptions();

    RunConversion(source, dest, Report, report);

    CliHoldInterruptions();
    if (!report->writeBackFailed) {
        // After a failure the partial Temp.dat is of no use, and nobody could find it.
        if (report->tempPath[0]) PlatformDelete(report->tempPath);
        if (haveDir) CliRemoveWorkDir(ProgramState.programDir);
    }
    CliSetDisposable(nullptr, nullptr);
    CliReleaseInterruptions();  // an interruption held meanwhile ends the process here
    CliUnlockFile(lock);
}

// A path the engine cannot take fails as the Windows calls would fail on it: the source
// is checked first, as the job checks it first.
void RefuseLongPath(const char *source, FileReport *report) {
    if (source) {
        PlatformFile probe;
        if (TooLong(source) || !PlatformOpenSource(source, &probe)) {
            Report(report, JOB_SOURCE_NOT_FOUND, "");
            return;
        }
        PlatformClose(probe);
    }
    Report(report, JOB_DEST_OPEN_FAILED, "");
}

int ConvertTwoNames(const char *sourceArgument, const char *destArgument) {
    const char *source = IsStandardStream(sourceArgument) ? nullptr : sourceArgument;
    const char *dest = IsStandardStream(destArgument) ? nullptr : destArgument;
    FileReport report;
    StartReport(&report, nullptr);
    if (dest || !CliOutputIsTerminal()) ProgressStart(1);  // not amid the text on the screen
    if (TooLong(source) || TooLong(dest))
        RefuseLongPath(source, &report);
    else if (source && dest && PlatformSameName(source, dest))
        ConvertInPlace(source, dest, 0, &report);
    else
        RunConversion(source, dest, Report, &report);
    ProgressEnd();
    return Succeeded(report) ? EXIT_CONVERTED : EXIT_FAILED;
}

int ConvertEachInPlace(char **files, int count, int force) {
    int status = EXIT_CONVERTED;
    ProgressStart((unsigned long)count);
    for (int i = 0; i < count; i++) {
        FileReport report;
        StartReport(&report, files[i]);
        ConvertInPlace(files[i], files[i], !force, &report);
        if (!Succeeded(report)) status = EXIT_FAILED;
        ProgressFileDone();
    }
    ProgressEnd();
    return status;
}

int GuessEach(char **files, int count) {
    int status = EXIT_CONVERTED;
    ProgressStart((unsigned long)count);
    for (int i = 0; i < count; i++) {
        FileReport report;
        StartReport(&report, files[i]);
        GuessResult guess;
        unsigned long long read;
        if (GuessFile(IsStandardStream(files[i]) ? nullptr : files[i], -1, &guess, &read, &report)) {
            ProgressPause();
            printf("%s: %s (%s)", files[i], GuessedEncodingName(guess.encoding), GuessedLineEndsName(guess.lineEnds));
            if (guess.outside > 0)
                printf(", %llu character%s outside JIS X 0208", guess.outside, guess.outside == 1 ? "" : "s");
            printf("\n");
            fflush(stdout);
            ProgressResume();
        } else {
            status = EXIT_FAILED;
        }
        ProgressFileDone();
    }
    ProgressEnd();
    return ferror(stdout) ? EXIT_FAILED : status;
}

void UsageError(const char *problem, const char *argument) {
    if (argument)
        fprintf(stderr, "%s: %s '%s'\n", COMMAND_NAME, problem, argument);
    else
        fprintf(stderr, "%s: %s\n", COMMAND_NAME, problem);
    fprintf(stderr, "Try '%s --help' for more information.\n", COMMAND_NAME);
}

enum Request { REQUEST_CONVERT, REQUEST_IN_PLACE, REQUEST_GUESS, REQUEST_HELP, REQUEST_VERSION, REQUEST_NONE };

struct Arguments {
    char **operands;  // gathered at the front of argv
    int operandCount;
    int inPlace, force, guess, conversionOptions;
};

// Takes one option letter (a long option is turned into its letter first). Returns 0
// when it is unknown.
int TakeOption(char letter, Arguments *args) {
    switch (letter) {
    case 'e': ProgramState.direction = SjisToEuc; break;
    case 's': ProgramState.direction = EucToSjis; break;
    case 'l': ProgramState.convertNewlines = 1; break;
    case 'i': args->inPlace = 1; return 1;
    case 'f': args->force = 1; return 1;
    case 'g': args->guess = 1; return 1;
    default: return 0;
    }
    args->conversionOptions = 1;
    return 1;
}

char LongOptionLetter(const char *option) {
    const struct {
        const char *name;
        char letter;
    } names[] = {{"--to-euc", 'e'}, {"--to-sjis", 's'}, {"--newlines", 'l'},
                 {"--in-place", 'i'}, {"--force", 'f'}, {"--guess", 'g'}};
    for (const auto &name : names)
        if (strcmp(option, name.name) == 0) return name.letter;
    return 0;
}

// Sets ProgramState from the options and gathers the operands. Returns REQUEST_NONE
// after reporting a usage error.
Request ParseArguments(int argc, char **argv, Arguments *args) {
    int optionsEnded = 0;
    memset(args, 0, sizeof *args);
    args->operands = argv + 1;
    for (int i = 1; i < argc; i++) {
        char *arg = argv[i];
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
            args->operands[args->operandCount++] = arg;  // never ahead of i
        } else if (strcmp(arg, "--") == 0) {
            optionsEnded = 1;
        } else if (strcmp(arg, "--help") == 0) {
            return REQUEST_HELP;
        } else if (strcmp(arg, "--version") == 0) {
            return REQUEST_VERSION;
        } else if (arg[1] == '-') {
            if (!TakeOption(LongOptionLetter(arg), args)) {
                UsageError("unknown option", arg);
                return REQUEST_NONE;
            }
        } else {
            for (const char *letter = arg + 1; *letter; letter++) {  // -sl is -s -l
                if (!TakeOption(*letter, args)) {
                    char option[3] = {'-', *letter, '\0'};
                    UsageError("unknown option", option);
                    return REQUEST_NONE;
                }
            }
        }
    }
    if (args->guess) {
        if (args->inPlace || args->force || args->conversionOptions) {
            UsageError("--guess takes no other option", nullptr);
            return REQUEST_NONE;
        }
        if (args->operandCount == 0) {
            UsageError("missing FILE", nullptr);
            return REQUEST_NONE;
        }
        return REQUEST_GUESS;
    }
    if (args->inPlace) {
        if (args->operandCount == 0) {
            UsageError("missing FILE", nullptr);
            return REQUEST_NONE;
        }
        for (int i = 0; i < args->operandCount; i++) {
            if (IsStandardStream(args->operands[i])) {
                UsageError("'-' cannot be converted in place", nullptr);
                return REQUEST_NONE;
            }
        }
        return REQUEST_IN_PLACE;
    }
    if (args->force) {
        UsageError("--force goes with --in-place", nullptr);
        return REQUEST_NONE;
    }
    if (args->operandCount != 2) {
        if (args->operandCount > 2)
            UsageError("extra operand", args->operands[2]);
        else
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
        printf(HELP_TEXT, CLI_WORK_ROOT_DESCRIPTION, CLI_IN_PLACE_PROMISE);
        return EXIT_CONVERTED;
    case REQUEST_VERSION:
        fputs(VERSION_TEXT, stdout);
        return EXIT_CONVERTED;
    case REQUEST_NONE:
        return EXIT_USAGE;
    case REQUEST_GUESS:
        return GuessEach(args.operands, args.operandCount);
    case REQUEST_IN_PLACE:
        return ConvertEachInPlace(args.operands, args.operandCount, args.force);
    case REQUEST_CONVERT:
        break;
    }
    return ConvertTwoNames(args.operands[0], args.operands[1]);
}
