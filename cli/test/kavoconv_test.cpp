// kavoconv as a user meets it, on every platform: options, standard streams, failures
// with their messages and exit statuses, in place, usage errors.
#include "kavoconv_test.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "program_state.h"
#include "reference_transcoder.h"

namespace fs = std::filesystem;

void WriteBytes(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Message(const char *text) { return std::string("kavoconv: ") + text + "\n"; }

std::string Said(const std::string &file, const std::string &text, const std::string &reason) {
    return "kavoconv: " + file + ": " + text + "（" + reason + "）\n";
}

size_t EntriesIn(const std::string &dir) {
    std::error_code error;
    size_t count = 0;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) count++;
    return count;
}

void KavoconvTest::SetUp() { dir = MakeScratchDir(); }

std::string KavoconvTest::File(const std::string &name) const { return (fs::path(dir) / name).string(); }

CommandResult KavoconvTest::Convert(std::vector<std::string> args) const {
    Invocation invocation;
    invocation.args = std::move(args);
    invocation.cwd = dir;
    return RunKavoconv(invocation);
}

namespace {

// "A あ 漢 CR LF ｱ" in both encodings, with and without the newline rule applied.
const std::string SJIS_CRLF = "A\x82\xA0\x8A\xBF\r\n\xB1";
const std::string EUC_CRLF = "A\xA4\xA2\xB4\xC1\r\n\x8E\xB1";
const std::string EUC_LF = "A\xA4\xA2\xB4\xC1\n\x8E\xB1";
const std::string SJIS_LF = "A\x82\xA0\x8A\xBF\n\xB1";

// A text longer than the engine's blocks, so that characters and line ends straddle them.
std::string LongSjis() {
    std::string text;
    for (int i = 0; text.size() < 200000; i++) text += i % 7 ? SJIS_CRLF : "\x95\x5C\r";
    return text;
}

TEST_F(KavoconvTest, OptionsChooseDirectionAndNewlines) {
    struct Case {
        std::vector<std::string> options;
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {{}, SJIS_CRLF, EUC_CRLF},  // Shift_JIS to EUC-JP is the default
        {{"-e"}, SJIS_CRLF, EUC_CRLF},
        {{"--to-euc"}, SJIS_CRLF, EUC_CRLF},
        {{"-l"}, SJIS_CRLF, EUC_LF},
        {{"--newlines"}, SJIS_CRLF, EUC_LF},
        {{"-s"}, EUC_LF, SJIS_LF},
        {{"--to-sjis"}, EUC_LF, SJIS_LF},
        {{"-s", "-l"}, EUC_LF, SJIS_CRLF},
        {{"-sl"}, EUC_LF, SJIS_CRLF},
        {{"--newlines", "--to-sjis"}, EUC_LF, SJIS_CRLF},
        {{"-s", "-e"}, SJIS_CRLF, EUC_CRLF},  // the last direction given wins
        {{"--to-euc", "-s"}, EUC_LF, SJIS_LF},
        {{"-es"}, EUC_LF, SJIS_LF},
    };
    for (const Case &c : cases) {
        std::string shown;
        for (const std::string &option : c.options) shown += option + " ";
        SCOPED_TRACE("options: " + shown);
        WriteBytes(File("in.txt"), c.input);
        std::vector<std::string> args = c.options;
        args.push_back(File("in.txt"));
        args.push_back(File("out.txt"));
        CommandResult r = Convert(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(ReadBytes(File("out.txt")), c.expected);
    }
}

TEST_F(KavoconvTest, DashReadsStandardInputAndWritesStandardOutput) {
    const std::string input = LongSjis();
    WriteBytes(File("in.txt"), input);
    ASSERT_EQ(Convert({"-l", File("in.txt"), File("expected.txt")}).status, 0);
    const std::string expected = ReadBytes(File("expected.txt"));

    Invocation fromStdin;
    fromStdin.args = {"-l", "-", File("out.txt")};
    fromStdin.input = input;
    CommandResult r = RunKavoconv(fromStdin);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(ReadBytes(File("out.txt")) == expected);

    for (bool pipe : {false, true}) {
        SCOPED_TRACE(pipe ? "standard output on a pipe" : "standard output on a file");
        Invocation toStdout;
        toStdout.args = {"-l", File("in.txt"), "-"};
        toStdout.outputToPipe = pipe;
        r = RunKavoconv(toStdout);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(r.out == expected) << "got " << r.out.size() << " bytes, expected " << expected.size();

        Invocation both = toStdout;
        both.args = {"--newlines", "-", "-"};
        both.input = input;
        r = RunKavoconv(both);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.out == expected) << "got " << r.out.size() << " bytes, expected " << expected.size();
    }
}

// Each message names the file it is about, SOURCE or DEST, and gives the system's reason.
TEST_F(KavoconvTest, FailuresNameTheFileAndTheReason) {
    const std::string notFound = "変換元ファイルが見つかりません。", cannotOpen = "変換先ファイルをオープンできません。";
    const std::string missing = File("missing.txt"), nowhere = File("no-such-folder/out.txt");
    WriteBytes(File("in.txt"), SJIS_CRLF);
    const struct {
        std::string source, dest, message;
    } cases[] = {
        {missing, File("out.txt"), Said(missing, notFound, SystemReason(NO_SUCH_FILE))},
        {missing, "-", Said(missing, notFound, SystemReason(NO_SUCH_FILE))},
        {File("in.txt"), nowhere, Said(nowhere, cannotOpen, SystemReason(NO_SUCH_FOLDER))},
        {"-", nowhere, Said(nowhere, cannotOpen, SystemReason(NO_SUCH_FOLDER))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source + " -> " + c.dest);
        CommandResult r = Convert({c.source, c.dest});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(fs::exists(File("out.txt")));
}

// The same file reached by another name must be refused before anything is truncated.
TEST_F(KavoconvTest, DestinationThatIsTheSourceIsRefused) {
    const std::string cannotOpen = "変換先ファイルをオープンできません。", same = "変換元ファイルと同じファイルです";
    WriteBytes(File("in.txt"), SJIS_CRLF);

    Invocation relative;
    relative.cwd = dir;
    relative.args = {File("in.txt"), "in.txt"};
    CommandResult r = RunKavoconv(relative);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Said("in.txt", cannotOpen, same));

    Invocation stdinIsDest;  // kavoconv - in.txt < in.txt
    stdinIsDest.args = {"-", File("in.txt")};
    stdinIsDest.inputPath = File("in.txt");
    r = RunKavoconv(stdinIsDest);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Said(File("in.txt"), cannotOpen, same));

    Invocation stdoutIsSource;  // kavoconv in.txt - >> in.txt
    stdoutIsSource.args = {File("in.txt"), "-"};
    stdoutIsSource.outputPath = File("in.txt");
    r = RunKavoconv(stdoutIsSource);
    EXPECT_EQ(r.status, 1);
    // POSIX refuses the output; Windows already the source, which a writer holds open.
    const std::string openedSource = "kavoconv: " + File("in.txt") + ": 変換元ファイルが見つかりません。（";
    EXPECT_TRUE(r.err == Said("-", cannotOpen, same) || r.err.rfind(openedSource, 0) == 0) << r.err;

    Invocation bothStreams = stdoutIsSource;  // kavoconv - - < in.txt >> in.txt
    bothStreams.args = {"-", "-"};
    bothStreams.inputPath = File("in.txt");
    r = RunKavoconv(bothStreams);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Said("-", cannotOpen, same));

    EXPECT_EQ(ReadBytes(File("in.txt")), SJIS_CRLF);
}

TEST_F(KavoconvTest, InPlaceConvertsAndLeavesNothingBehind) {
    const size_t before = EntriesIn(WorkRoot());
    WriteBytes(File("text.txt"), SJIS_CRLF);
    CommandResult r = Convert({"-l", File("text.txt"), File("text.txt")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadBytes(File("text.txt")), EUC_LF);
    EXPECT_EQ(EntriesIn(dir), 1u);
    EXPECT_EQ(EntriesIn(WorkRoot()), before);

    r = Convert({File("missing.txt"), File("missing.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Said(File("missing.txt"), "変換元ファイルが見つかりません。", SystemReason(NO_SUCH_FILE)));
    EXPECT_EQ(EntriesIn(WorkRoot()), before);
}

// A path of exactly `length` bytes that starts with prefix, its last name made of
// `letter`s; the folders on the way are made, each name at most 200 bytes.
std::string PathOfLength(const std::string &prefix, size_t length, char letter) {
    const char separator = static_cast<char>(fs::path::preferred_separator);
    std::string path = prefix;
    while (length > path.size() + 240) {
        path += std::string(199, letter) + separator;
        std::error_code beyondTheLimit;
        fs::create_directories(path, beyondTheLimit);
    }
    return path + std::string(length - path.size(), letter);
}

// MAX_PATH - 1 bytes is the longest path kavoconv takes: 259 on Windows, as its calls
// take, and PATH_MAX - 1 on POSIX. A longer one is refused, the source first, even when
// the file exists; nothing is written, also in place.
TEST_F(KavoconvTest, PathsLongerThanTheSystemTakesAreRefused) {
    const size_t longest = MAX_PATH - 1;
    const std::string notFound = "変換元ファイルが見つかりません。", cannotOpen = "変換先ファイルをオープンできません。";
    const std::string tooLong = "ファイル名が長すぎます";
    WriteBytes(File("in.txt"), SJIS_CRLF);
    for (size_t length : {longest, longest + 1, longest + 2, longest + 1000}) {
        SCOPED_TRACE(std::to_string(length) + "-byte paths");
        const std::string source = PathOfLength(File("s"), length, 's');
        const std::string dest = PathOfLength(File("d"), length, 'd');
        const bool fits = length <= longest;
        WriteBytes(source, SJIS_CRLF);  // where the system takes such a name
        CommandResult r = Convert({source, dest});
        EXPECT_EQ(r.status, fits ? 0 : 1);
        EXPECT_EQ(r.err, fits ? "" : Said(source, notFound, tooLong));
        r = Convert({File("in.txt"), dest});
        EXPECT_EQ(r.status, fits ? 0 : 1);
        EXPECT_EQ(r.err, fits ? "" : Said(dest, cannotOpen, tooLong));
        if (fits) {
            EXPECT_EQ(ReadBytes(dest), EUC_CRLF);
        }
        r = Convert({source, source});
        EXPECT_EQ(r.status, fits ? 0 : 1);
        EXPECT_EQ(r.err, fits ? "" : Said(source, notFound, tooLong));
        if (fits) {
            EXPECT_EQ(ReadBytes(source), EUC_CRLF);
        }
        // With a standard stream on the other side.
        EXPECT_EQ(Convert({source, "-"}).err, fits ? "" : Said(source, notFound, tooLong));
        EXPECT_EQ(Convert({"-", dest}).err, fits ? "" : Said(dest, cannotOpen, tooLong));
        EXPECT_EQ(Convert({"-f", "-i", source}).err, fits ? "" : Said(source, notFound, tooLong));
    }
    EXPECT_EQ(ReadBytes(File("in.txt")), SJIS_CRLF);
}

// An empty name, and names of a folder (also with a final separator): the source is not
// found, the destination cannot be opened; nothing is written anywhere.
TEST_F(KavoconvTest, EmptyNamesAndFolders) {
    const size_t before = EntriesIn(WorkRoot());
    const std::string notFound = "変換元ファイルが見つかりません。", cannotOpen = "変換先ファイルをオープンできません。";
    const std::string in = File("in.txt"), out = File("out.txt"), folder = File("folder");
    const std::string withSeparator = File("folder") + static_cast<char>(fs::path::preferred_separator);
    // No name is no path (Windows says so; ENOENT either way on POSIX).
    const std::string noPath = SystemReason(NO_SUCH_FOLDER), isFolder = SystemReason(IS_FOLDER);
    WriteBytes(in, SJIS_CRLF);
    fs::create_directories(folder);
    const struct {
        std::string source, dest, message;
    } cases[] = {
        {"", out, Said("", notFound, noPath)},
        {in, "", Said("", cannotOpen, noPath)},
        {"", "", Said("", notFound, noPath)},
        {folder, out, Said(folder, notFound, isFolder)},
        {withSeparator, out, Said(withSeparator, notFound, isFolder)},
        {in, folder, Said(folder, cannotOpen, isFolder)},
        {in, withSeparator, Said(withSeparator, cannotOpen, isFolder)},
        {folder, folder, Said(folder, notFound, isFolder)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("'" + c.source + "' -> '" + c.dest + "'");
        CommandResult r = Convert({c.source, c.dest});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(EntriesIn(dir), 2u);
    EXPECT_EQ(EntriesIn(folder), 0u);
    EXPECT_EQ(EntriesIn(WorkRoot()), before);
    EXPECT_EQ(ReadBytes(in), SJIS_CRLF);
}

// -l -i over a folder of mixed files, then over the same files again with --force: the
// bytes of every file afterwards, the messages in order and the exit status. Only the
// Shift_JIS and ASCII files whose characters all come back are converted unguarded;
// --force converts them all, as the byte-at-a-time oracle does. A folder and a missing name fail and the others go on.
TEST_F(KavoconvTest, InPlaceBatchConvertsWhatTheGuessAllows) {
    const std::string sjis = TEXT_SJIS + "\r\n" + TEXT_SJIS + "\r\n", euc = TEXT_EUC + "\n" + TEXT_EUC + "\n";
    const std::string notFound = "変換元ファイルが見つかりません。";
    const struct {
        const char *name;
        std::string before, guarded;
        const char *message;  // of the run without --force; null: none
    } cases[] = {
        {"sjis.txt", sjis, euc, nullptr},
        {"euc.txt", euc, euc, "変換しませんでした（EUC-JPと推定）"},
        {"ascii.txt", "plain\r\ntext\r\n", "plain\ntext\n", nullptr},
        {"utf8.txt", TEXT_UTF8 + "\n", TEXT_UTF8 + "\n", "変換しませんでした（UTF-8と推定）"},
        {"binary.dat", std::string("\x7F" "ELF\x01\x01\x00\x82\xA0", 9), std::string("\x7F" "ELF\x01\x01\x00\x82\xA0", 9),
         "変換しませんでした（unknownと推定）"},
        {"empty.txt", "", "", nullptr},
        {"readonly.txt", sjis, euc, nullptr},
        // An IBM extension, which the conversion turns into a control code and a first byte.
        {"ibm.txt", sjis + "\xFA\x40\r\n", sjis + "\xFA\x40\r\n",
         "変換しませんでした（変換で1文字が壊れます。3行目、オフセット48）"},
    };
    std::vector<std::string> args = {"-l", "-i"};
    for (const auto &c : cases) args.push_back(c.name);
    args.insert(args.end(), {"folder", "missing"});
    fs::create_directories(File("folder"));
    for (bool force : {false, true}) {
        SCOPED_TRACE(force ? "with --force" : "guarded");
        if (fs::exists(File("readonly.txt")))
            fs::permissions(File("readonly.txt"), fs::perms::owner_write, fs::perm_options::add);
        for (const auto &c : cases) WriteBytes(File(c.name), c.before);
        fs::permissions(File("readonly.txt"), fs::perms::owner_write, fs::perm_options::remove);
        // Root (and Wine run by root) may write it all the same.
        const bool writable = std::ofstream(File("readonly.txt"), std::ios::app).is_open();
        std::vector<std::string> run = args;
        if (force) run.insert(run.begin(), "--force");
        CommandResult r = Convert(run);
        std::string expectedErr;
        for (const auto &c : cases) {
            SCOPED_TRACE(c.name);
            const bool refused = std::string(c.name) == "readonly.txt" && !writable;
            const std::string after = force ? ReferenceConvert(c.before, SjisToEuc, 1) : c.guarded;
            EXPECT_TRUE(ReadBytes(File(c.name)) == (refused ? c.before : after));
            if (refused) expectedErr += Said(c.name, "変換先ファイルをオープンできません。", SystemReason(PERMISSION));
            if (c.message && !force) expectedErr += Message((std::string(c.name) + ": " + c.message).c_str());
        }
        expectedErr += Said("folder", notFound, SystemReason(IS_FOLDER)) +
                       Said("missing", notFound, SystemReason(NO_SUCH_FILE));
        EXPECT_EQ(r.err, expectedErr);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
    }
    fs::permissions(File("readonly.txt"), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(EntriesIn(File("folder")), 0u);
}

// The guess line of each file, from fixed inputs; standard input as '-'. A file that
// cannot be read is reported and makes the exit status 1.
TEST_F(KavoconvTest, GuessLines) {
    const struct {
        const char *name;
        std::string bytes;
        const char *line;
    } cases[] = {
        {"sjis.txt", TEXT_SJIS + "\r\n" + TEXT_SJIS + "\r\n", "Shift_JIS (CRLF)"},
        {"euc.txt", TEXT_EUC + "\n", "EUC-JP (LF)"},
        {"utf8.txt", TEXT_UTF8 + "\r", "UTF-8 (CR)"},
        {"ascii.txt", "a\r\nb\n", "ASCII (mixed)"},
        {"empty.txt", "", "ASCII (none)"},
        {"binary.dat", std::string("\x00\x01\x02\x03", 4), "unknown (none)"},
        // ① (NEC row 13) and 髙 (IBM's, as NEC chose it): outside JIS X 0208.
        {"extended.txt", TEXT_SJIS + "\x87\x40\xEE\xE0\r\n", "Shift_JIS (CRLF), 2 characters outside JIS X 0208"},
        // 名前は何 in EUC-JP: its bytes also read as half-width katakana in Shift_JIS.
        {"short.txt", "\xCC\xBE\xC1\xB0\xA4\xCF\xB2\xBF\n", "Shift_JIS or EUC-JP (LF)"},
        // A JIS X 0212 character (0x8F, then two bytes) in EUC-JP text.
        {"euc-0212.txt", TEXT_EUC + "\x8F\xB0\xA1\n", "EUC-JP (LF), 1 character outside JIS X 0208"},
    };
    std::vector<std::string> args = {"--guess"};
    std::string expected;
    for (const auto &c : cases) {
        WriteBytes(File(c.name), c.bytes);
        args.push_back(c.name);
        expected += std::string(c.name) + ": " + c.line + "\n";
    }
    args.insert(args.end(), {"-", "missing"});
    expected += "-: EUC-JP (LF)\n";
    Invocation guess;
    guess.args = args;
    guess.cwd = dir;
    guess.input = TEXT_EUC + "\n";
    CommandResult r = RunKavoconv(guess);
    r.out.erase(std::remove(r.out.begin(), r.out.end(), '\r'), r.out.end());  // Windows' text mode
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, Said("missing", "変換元ファイルが見つかりません。", SystemReason(NO_SUCH_FILE)));
    EXPECT_EQ(r.status, 1);
}

TEST_F(KavoconvTest, UsageErrorsExitTwoWithAHint) {
    const std::vector<std::string> mistakes[] = {
        {}, {"in.txt"}, {"a", "b", "c"}, {"-x", "a", "b"}, {"-sx", "a", "b"}, {"--to-utf8", "a", "b"}, {"-s"},
        {"-i"}, {"-g"}, {"-f", "a", "b"}, {"-gl", "a"}, {"-i", "-g", "a"}, {"-i", "a", "-"}, {"--force"},
    };
    for (const std::vector<std::string> &args : mistakes) {
        std::string shown;
        for (const std::string &arg : args) shown += arg + " ";
        SCOPED_TRACE("arguments: " + shown);
        CommandResult r = Convert(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        ASSERT_NE(r.err.find('\n'), std::string::npos);
        const std::string hint = r.err.substr(r.err.find('\n') + 1);
        EXPECT_EQ(r.err.rfind("kavoconv: ", 0), 0u) << r.err;
        EXPECT_EQ(hint, "詳しくは「kavoconv --help」を実行してください。\n");
    }
    EXPECT_FALSE(fs::exists(File("b")));
}

TEST_F(KavoconvTest, HelpAndVersion) {
    CommandResult r = Convert({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find_first_of("\r\n")), "kavoconv 1.01");
    r = Convert({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("使い方: kavoconv ", 0), 0u);
    EXPECT_EQ(r.err, "");
}

}  // namespace
