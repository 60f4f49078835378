// kavoconv: the command-line front end. It sets ProgramState as the dialog does and runs
// the same conversion job, on a route that never leaves a destination half written, and
// prints its failures to standard error (success says nothing). Beyond the dialog it
// converts many files in place, each only when its guess says it is not already
// converted, and guesses encodings.
#include <stdio.h>
#include <string.h>

#include "cli_platform.h"
#include "convert_file.h"
#include "guess.h"
#include "kavo_version.h"
#include "messages.h"
#include "path_utils.h"
#include "program_state.h"
#include "progress.h"
#include "recovery.h"

namespace {

const char VERSION_TEXT[] = "kavoconv " KAVO_VERSION_TEXT "\n";

// A path as CliPathText gives it: on Windows up to three bytes of UTF-8 for each byte of
// the ANSI code page (a half-width katakana).
enum { PATH_TEXT_SIZE = MAX_PATH * 3 + 1 };

enum ExitStatus { EXIT_CONVERTED = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

// Takes, in order: the longest path in bytes, the folder of the private folders, and
// the examples of this system.
const char HELP_TEXT[] = N_(
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
    "SOURCE is converted into DEST. '-' as SOURCE reads standard input, '-' as DEST\n"
    "writes standard output. DEST receives only a whole conversion: it is written\n"
    "as a new file that then takes DEST's place (keeping DEST's owner, permissions\n"
    "and links), so a failure or an interruption leaves DEST as it was. Paths may\n"
    "have up to %s bytes.\n"
    "\n"
    "In place (-i, or SOURCE and DEST the same name, letter case ignored), the\n"
    "text is converted into a file Temp.dat in a new private folder under\n"
    "  %s\n"
    "and then copied over the file, which keeps its identity; the folder is\n"
    "removed afterwards. The copy back first makes sure there is room for the\n"
    "whole text, and does not begin if another program has changed the file\n"
    "meanwhile. An interruption before the copy back leaves the file as it was;\n"
    "one during it waits until the copy is done. If the copy fails, Temp.dat is\n"
    "kept and the message gives its path. Two kavoconv runs on one file take turns.\n"
    "\n"
    "With -i, each FILE is guessed first, as -g does, and converted only when it\n"
    "reads as the encoding converted from (or ASCII) and every character would\n"
    "convert back to the same bytes; other files are left untouched and reported\n"
    "as skipped, with what was guessed or how many characters would be damaged.\n"
    "A short file the guess cannot name is converted when it cannot be the target\n"
    "encoding nor UTF-8 and reads as Japanese. -f converts them all.\n"
    "Only regular files are converted in place or guessed. A failure on one FILE\n"
    "is reported and the others go on.\n"
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
    "Messages go to standard error as 'kavoconv: FILE: what happened: why'; a\n"
    "successful conversion prints nothing. On a terminal, work that takes more\n"
    "than a second shows a progress line there.\n"
    "Exit status: 0 every file converted (or, with -i, skipped) or guessed;\n"
    "1 a conversion failed or, with -g, a file could not be read; 2 usage error.\n"
    "\n"
    "Examples:\n"
    "%s");

#ifdef _WIN32
const char EXAMPLES[] = N_(
    "  kavoconv -s -l notes-euc.txt notes-sjis.txt\n"
    "  kavoconv -g *.txt\n"
    "  kavoconv -l -i *.txt\n"
    "  for /r %f in (*.txt) do @kavoconv -l -i \"%f\"\n");
#else
const char EXAMPLES[] = N_(
    "  kavoconv -s -l notes-euc.txt notes-sjis.txt\n"
    "  find . -name '*.txt' -exec kavoconv -l -i {} +\n");
#endif

// What one file came to, as the job (or the guess) reported it.
struct FileReport {
    const char *source;  // as given; "-" for standard input
    const char *dest;    // as given; "-" for standard output; the file itself in place
    int inPlace;
    const char *workDir;    // the private folder for Temp.dat, or empty
    const char *workRoot;   // where it was to be made, for a message when it could not be
    PlatformFailure workDirFailure;
    int failed;
    int completed;
    int skipped;
    int keepWorkDir;        // Temp.dat holds the text the messages point to
    char tempPath[MAX_PATH + 1];
};

void StartReport(FileReport *report, const char *source, const char *dest) {
    memset(report, 0, sizeof *report);
    report->source = source;
    report->dest = dest;
    report->workDir = report->workRoot = "";
}

int Succeeded(const FileReport &report) { return report.skipped || (report.completed && !report.failed); }

int IsStandardStream(const char *path) { return strcmp(path, "-") == 0; }

// The intermediate file is Temp.dat in the private folder, not a new file beside DEST.
int IntoTempDat(const FileReport &report) {
    return report.workDir[0] && strncmp(report.tempPath, report.workDir, strlen(report.workDir)) == 0;
}

// Says what went wrong with a failed outcome, naming the file it is about.
void SayOutcome(FileReport *report, JobEvent event, PlatformFailure failure) {
    char reason[1024], folder[PATH_TEXT_SIZE], where[PATH_TEXT_SIZE];
    FailureReason(failure, reason, sizeof reason);
    const char *file = event == JOB_SOURCE_NOT_FOUND || event == JOB_READ_FAILED ? report->source : report->dest;
    const char *text = OutcomeText(event, failure.kind, IntoTempDat(*report), report->inPlace);
    CliPathText(report->tempPath, where, sizeof where);
    switch (event) {
    case JOB_TEMP_CREATE_FAILED:
        // Without a private folder, the folder it was to be made in, and why it was not.
        if (!report->workDir[0]) {
            FailureReason(report->workDirFailure, reason, sizeof reason);
            CliPathText(report->workRoot, folder, sizeof folder);
        } else {
            CliPathText(report->workDir, folder, sizeof folder);
        }
        Say(file, text, folder, reason);
        return;
    case JOB_WRITE_FAILED:
        if (IntoTempDat(*report)) {
            CliPathText(report->workDir, folder, sizeof folder);
            Say(file, text, folder, reason);
            return;
        }
        break;
    case JOB_WRITE_BACK_FAILED:
        Say(file, text, reason);
        Say(file, N_("the converted text is in %s"), where);
        return;
    case JOB_SOURCE_CHANGED:
        Say(file, N_("another program changed the file while it was being converted; it is left as it is"));
        Say(file, N_("the converted text is in %s"), where);
        return;
    default:
        break;
    }
    Say(file, text, reason);
}

// The job's reporter: keeps what happened, guards what an interruption must not leave
// behind, and prints the outcomes.
void Report(void *context, JobEvent event, const char *tempPath) {
    FileReport *report = static_cast<FileReport *>(context);
    const PlatformFailure failure = PlatformLastFailure();
    switch (event) {
    case JOB_TEMP_FILE:
        snprintf(report->tempPath, sizeof report->tempPath, "%s", tempPath);
        CliSetDisposable(report->workDir, tempPath);  // an interruption takes it away
        return;
    case JOB_WRITE_BACK:
        // From here an interruption waits, and nothing is removed: should the process end
        // meanwhile for good, the whole conversion stays where the next run finds it.
        if (IntoTempDat(*report)) CliMarkWorkDir(report->workDir, report->tempPath, RECOVERY_WHOLE);
        CliHoldInterruptions();  // released after the clean-up
        CliSetDisposable(nullptr, nullptr);
        return;
    case JOB_COMPLETED:
        report->completed = 1;
        return;
    case JOB_SOURCE_CHANGED:
        CliMarkWorkDir(report->workDir, report->tempPath, RECOVERY_WHOLE);
        CliSetDisposable(nullptr, nullptr);
        report->keepWorkDir = 1;
        break;
    case JOB_WRITE_BACK_FAILED:
        report->keepWorkDir = IntoTempDat(*report);
        break;
    default:
        break;
    }
    report->failed = 1;
    SayOutcome(report, event, failure);
}

// The folder the private folders go in, made once; null when it cannot be had (the
// failure and the folder tried are in *failure and root).
const char *WorkRoot(PlatformFailure *failure, const char **tried) {
    static char root[MAX_PATH + 1];
    static int made = -1;
    static PlatformFailure why;
    if (made < 0) {
        made = CliWorkRoot(root);
        why = PlatformLastFailure();
        if (made) RecoveryScan(root);
    }
    *failure = why;
    *tried = root;
    return made ? root : nullptr;
}

// The guard's messages: a file the guess takes for what it is not to convert from, and a
// file whose conversion would not come back to its bytes.
const char SKIPPED_GUESSED[] = N_("skipped, guessed %s");
const char SKIPPED_DAMAGE_ONE[] = N_("skipped, converting would damage 1 character (line %llu, byte offset %llu)");
const char SKIPPED_DAMAGE[] =
    N_("skipped, converting would damage %llu characters (the first on line %llu, byte offset %llu)");

void GuessBytes(const unsigned char *bytes, unsigned long count, void *context) {
    GuessFeed(static_cast<GuessState *>(context), bytes, count);
}

// Guesses the file at path (null: standard input), reading it in place where the system
// can. With a direction (not -1) the guess also counts what a conversion in that direction
// would damage. Returns 0 after reporting why when the file cannot be read; else the bytes
// read are in *read. Only a regular file is read by name: a device or a pipe may never end.
int GuessFile(const char *path, int direction, GuessResult *result, unsigned long long *read, FileReport *report) {
    static unsigned char block[64 * 1024];
    PlatformFile file;
    PlatformFileStamp regular;
    if (!path) {
        file = PlatformStandardInput();
    } else if (strlen(path) >= MAX_PATH || !PlatformStampPath(path, &regular) || !PlatformOpenSource(path, &file)) {
        if (strlen(path) >= MAX_PATH) PlatformSetLastFailure(PlatformFailure{PLATFORM_FAILURE_NAME_TOO_LONG, 0});
        SayOutcome(report, JOB_SOURCE_NOT_FOUND, PlatformLastFailure());
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
    const PlatformFailure failure = PlatformLastFailure();
    if (path) PlatformClose(file);
    if (!ok) {
        SayOutcome(report, JOB_READ_FAILED, failure);
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
    if (!GuessFile(path, ProgramState.direction, &guess, &read, report)) {
        report->failed = 1;
        return 1;
    }
    if (!guess.convertible[ProgramState.direction == SjisToEuc ? 0 : 1]) {
        Say(report->dest, SKIPPED_GUESSED, GuessedEncodingName(guess.encoding));
    } else if (guess.damaged == 1) {
        Say(report->dest, SKIPPED_DAMAGE_ONE, guess.firstDamageLine, guess.firstDamageOffset);
    } else if (guess.damaged > 1) {
        Say(report->dest, SKIPPED_DAMAGE, guess.damaged, guess.firstDamageLine, guess.firstDamageOffset);
    } else {
        ProgressRereading(read);  // the conversion reads the same bytes again
        return 0;
    }
    report->skipped = 1;
    return 1;
}

// What comes before converting the file: a word about a run cut short before on the file
// this one writes, the guess, whether the file may be written at all. Returns 0 when it
// is not to be converted, after saying why.
int ReadyToConvert(const char *source, const char *dest, int guard, FileReport *report) {
    char left[MAX_PATH + 1], where[PATH_TEXT_SIZE];
    if (RecoveryLeftFor(dest, left)) {
        CliPathText(left, where, sizeof where);
        Say(report->dest, N_("an earlier kavoconv run was cut short while it wrote this file; "
                             "the whole conversion is in %s"),
            where);
        Say(report->dest, N_("copy that over the file, or delete its folder, then run again"));
        report->failed = 1;
        return 0;
    }
    if (guard && SkipsFile(source, report)) return 0;
    if (report->inPlace && !CliMayWrite(dest)) {
        // Known before anything is converted: no Temp.dat to keep for a file that cannot
        // take the text back.
        Report(report, JOB_DEST_OPEN_FAILED, "");
        return 0;
    }
    return 1;
}

// Converts into a named DEST (or in place) by the job's careful route: a private folder
// for Temp.dat, one kavoconv at a time on a file in place, and nothing left behind by an
// interruption.
void ConvertCarefully(const char *source, const char *dest, int guard, FileReport *report) {
    long lock = -1;
    PlatformFailure rootFailure;
    const char *root = WorkRoot(&rootFailure, &report->workRoot);
    char workDir[MAX_PATH + 1] = "", record[MAX_PATH + 256];
    if (report->inPlace && !CliLockFile(source, &lock)) {
        SayOutcome(report, JOB_SOURCE_NOT_FOUND, PlatformLastFailure());
        report->failed = 1;
    } else if (ReadyToConvert(source, dest, guard, report)) {
        CliHoldInterruptions();
        // Without a private folder the job reports that it cannot create Temp.dat, after
        // its usual source check, should it need one; no other folder is used.
        if (root && RecoveryRecord(dest, record, sizeof record)) CliCreateWorkDir(root, record, workDir);
        report->workDirFailure = root ? PlatformLastFailure() : rootFailure;
        report->workDir = workDir;
        CliSetDisposable(workDir[0] ? workDir : nullptr, nullptr);
        CliReleaseInterruptions();

        RunConversion(IsStandardStream(source) ? nullptr : source, dest, workDir, JOB_ROUTE_WHOLE, Report, report);
    }
    CliHoldInterruptions();
    // After a failure a partial Temp.dat is of no use, and nobody could find it; the job
    // has removed a partial file beside DEST itself.
    if (!report->keepWorkDir) {
        if (IntoTempDat(*report)) PlatformDelete(report->tempPath);
        if (workDir[0]) CliRemoveWorkDir(workDir);
    }
    CliSetDisposable(nullptr, nullptr);
    CliReleaseInterruptions();  // an interruption held meanwhile ends the process here
    CliUnlockFile(lock);
}

int ConvertTwoNames(const char *source, const char *dest) {
    FileReport report;
    StartReport(&report, source, dest);
    const int toStream = IsStandardStream(dest);
    if (!toStream || !CliOutputIsTerminal()) ProgressStart(1);  // not amid the text on the screen
    report.inPlace = !toStream && !IsStandardStream(source) && PlatformSameName(source, dest);
    if (strlen(source) >= MAX_PATH || strlen(dest) >= MAX_PATH) {
        // A name the system cannot take: the source is checked first, as the job does.
        PlatformSetLastFailure(PlatformFailure{PLATFORM_FAILURE_NAME_TOO_LONG, 0});
        SayOutcome(&report, strlen(source) >= MAX_PATH ? JOB_SOURCE_NOT_FOUND : JOB_DEST_OPEN_FAILED,
                   PlatformLastFailure());
    } else if (toStream) {
        RunConversion(IsStandardStream(source) ? nullptr : source, nullptr, "", JOB_ROUTE_WHOLE, Report, &report);
    } else {
        ConvertCarefully(source, dest, 0, &report);
    }
    ProgressEnd();
    return Succeeded(report) ? EXIT_CONVERTED : EXIT_FAILED;
}

int ConvertEachInPlace(char **files, int count, int force) {
    int status = EXIT_CONVERTED;
    ProgressStart((unsigned long)count);
    for (int i = 0; i < count; i++) {
        FileReport report;
        StartReport(&report, files[i], files[i]);
        report.inPlace = 1;
        if (strlen(files[i]) >= MAX_PATH) {
            PlatformSetLastFailure(PlatformFailure{PLATFORM_FAILURE_NAME_TOO_LONG, 0});
            SayOutcome(&report, JOB_SOURCE_NOT_FOUND, PlatformLastFailure());
        } else {
            ConvertCarefully(files[i], files[i], !force, &report);
        }
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
        StartReport(&report, files[i], files[i]);
        GuessResult guess;
        unsigned long long read;
        if (GuessFile(IsStandardStream(files[i]) ? nullptr : files[i], -1, &guess, &read, &report)) {
            // Data, not a message: the same bytes in every language.
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

void UsageError(const char *problem, const char *argument = nullptr) {
    char shown[PATH_TEXT_SIZE];  // an argument is in the encoding of names
    if (argument) CliPathText(argument, shown, sizeof shown);
    Say(nullptr, problem, argument ? shown : nullptr);
    CliWriteErrorLine(CliText(N_("Try 'kavoconv --help' for more information.")));
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
                UsageError(N_("unknown option '%s'"), arg);
                return REQUEST_NONE;
            }
        } else {
            for (const char *letter = arg + 1; *letter; letter++) {  // -sl is -s -l
                if (!TakeOption(*letter, args)) {
                    char option[3] = {'-', *letter, '\0'};
                    UsageError(N_("unknown option '%s'"), option);
                    return REQUEST_NONE;
                }
            }
        }
    }
    if (args->guess) {
        if (args->inPlace || args->force || args->conversionOptions) {
            UsageError(N_("--guess takes no other option"));
            return REQUEST_NONE;
        }
        if (args->operandCount == 0) {
            UsageError(N_("missing FILE"));
            return REQUEST_NONE;
        }
        return REQUEST_GUESS;
    }
    if (args->inPlace) {
        if (args->operandCount == 0) {
            UsageError(N_("missing FILE"));
            return REQUEST_NONE;
        }
        for (int i = 0; i < args->operandCount; i++) {
            if (IsStandardStream(args->operands[i])) {
                UsageError(N_("'-' cannot be converted in place"));
                return REQUEST_NONE;
            }
        }
        return REQUEST_IN_PLACE;
    }
    if (args->force) {
        UsageError(N_("--force goes with --in-place"));
        return REQUEST_NONE;
    }
    if (args->operandCount != 2) {
        if (args->operandCount > 2)
            UsageError(N_("extra operand '%s'"), args->operands[2]);
        else
            UsageError(args->operandCount == 0 ? N_("missing SOURCE and DEST") : N_("missing DEST"));
        return REQUEST_NONE;
    }
    return REQUEST_CONVERT;
}

void ShowHelp() {
    static char help[8192];
    char limit[16];
    snprintf(limit, sizeof limit, "%d", MAX_PATH - 1);
    snprintf(help, sizeof help, CliText(HELP_TEXT), limit, CliText(CLI_WORK_ROOT_DESCRIPTION), CliText(EXAMPLES));
    CliWriteOutput(help);
}

}  // namespace

int main(int argc, char **argv) {
    CliInit();
    Arguments args;
    switch (ParseArguments(argc, argv, &args)) {
    case REQUEST_HELP:
        ShowHelp();
        return EXIT_CONVERTED;
    case REQUEST_VERSION:
        CliWriteOutput(VERSION_TEXT);
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
