// kavoconv as a user meets it, on every platform: options, standard streams, failures
// with their messages and exit statuses, in place, usage errors.
#include "kavoconv_test.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

void WriteBytes(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Message(const char *text) { return std::string("kavoconv: ") + text + "\n"; }

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

TEST_F(KavoconvTest, FailuresShowTheJobsMessageAndExitOne) {
    const std::string notFound = Message("変換元ファイルが見つかりません。");
    const std::string cannotOpen = Message("変換先ファイルをオープンできません。");
    WriteBytes(File("in.txt"), SJIS_CRLF);
    const struct {
        std::string source, dest, message;
    } cases[] = {
        {File("missing.txt"), File("out.txt"), notFound},
        {File("missing.txt"), "-", notFound},
        {File("in.txt"), File("no-such-folder/out.txt"), cannotOpen},
        {"-", File("no-such-folder/out.txt"), cannotOpen},
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
    WriteBytes(File("in.txt"), SJIS_CRLF);

    Invocation relative;
    relative.cwd = dir;
    relative.args = {File("in.txt"), "in.txt"};
    CommandResult r = RunKavoconv(relative);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Message("変換先ファイルをオープンできません。"));

    Invocation stdinIsDest;  // kavoconv - in.txt < in.txt
    stdinIsDest.args = {"-", File("in.txt")};
    stdinIsDest.inputPath = File("in.txt");
    r = RunKavoconv(stdinIsDest);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Message("変換先ファイルをオープンできません。"));

    Invocation stdoutIsSource;  // kavoconv in.txt - >> in.txt
    stdoutIsSource.args = {File("in.txt"), "-"};
    stdoutIsSource.outputPath = File("in.txt");
    r = RunKavoconv(stdoutIsSource);
    EXPECT_EQ(r.status, 1);
    // POSIX refuses the output; Windows already the source, which a writer holds open.
    EXPECT_TRUE(r.err == Message("変換先ファイルをオープンできません。") ||
                r.err == Message("変換元ファイルが見つかりません。"))
        << r.err;

    Invocation bothStreams = stdoutIsSource;  // kavoconv - - < in.txt >> in.txt
    bothStreams.args = {"-", "-"};
    bothStreams.inputPath = File("in.txt");
    r = RunKavoconv(bothStreams);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Message("変換先ファイルをオープンできません。"));

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
    EXPECT_EQ(r.err, Message("変換元ファイルが見つかりません。"));
    EXPECT_EQ(EntriesIn(WorkRoot()), before);
}

// MAX_PATH - 1 (259) bytes is the longest path the engine takes. A longer one is refused
// as the Windows calls refuse it, the source first, even when the file exists; nothing
// is written, also in place.
TEST_F(KavoconvTest, PathsLongerThan259BytesAreRefused) {
    const size_t longest = 259;
    const std::string prefix = File("");
    WriteBytes(File("in.txt"), SJIS_CRLF);
    for (size_t length : {longest, longest + 1, longest + 2, (size_t)1000, (size_t)5000}) {
        SCOPED_TRACE(std::to_string(length) + "-byte paths");
        const std::string source = prefix + std::string(length - prefix.size(), 's');
        const std::string dest = prefix + std::string(length - prefix.size(), 'd');
        const bool fits = length <= longest;
        WriteBytes(source, SJIS_CRLF);  // where the system takes such a name
        CommandResult r = Convert({source, dest});
        EXPECT_EQ(r.status, fits ? 0 : 1);
        EXPECT_EQ(r.err, fits ? "" : Message("変換元ファイルが見つかりません。"));
        r = Convert({File("in.txt"), dest});
        EXPECT_EQ(r.status, fits ? 0 : 1);
        EXPECT_EQ(r.err, fits ? "" : Message("変換先ファイルをオープンできません。"));
        if (fits) {
            EXPECT_EQ(ReadBytes(dest), EUC_CRLF);
        }
        r = Convert({source, source});
        EXPECT_EQ(r.status, fits ? 0 : 1);
        EXPECT_EQ(r.err, fits ? "" : Message("変換元ファイルが見つかりません。"));
        if (fits) {
            EXPECT_EQ(ReadBytes(source), EUC_CRLF);
        }
        // With a standard stream on the other side.
        EXPECT_EQ(Convert({source, "-"}).err, fits ? "" : Message("変換元ファイルが見つかりません。"));
        EXPECT_EQ(Convert({"-", dest}).err, fits ? "" : Message("変換先ファイルをオープンできません。"));
    }
    std::error_code error;
    size_t written = 0;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
        written += it->path().filename().string()[0] == 'd';
    EXPECT_EQ(written, 1u);  // the 259-byte destination
    EXPECT_EQ(ReadBytes(File("in.txt")), SJIS_CRLF);
}

// An empty name, and names of a folder (also with a final separator): the source is not
// found, the destination cannot be opened; nothing is written anywhere.
TEST_F(KavoconvTest, EmptyNamesAndFolders) {
    const size_t before = EntriesIn(WorkRoot());
    const std::string notFound = Message("変換元ファイルが見つかりません。");
    const std::string cannotOpen = Message("変換先ファイルをオープンできません。");
    const std::string in = File("in.txt"), out = File("out.txt"), folder = File("folder");
    const std::string withSeparator = File("folder") + static_cast<char>(fs::path::preferred_separator);
    WriteBytes(in, SJIS_CRLF);
    fs::create_directories(folder);
    const struct {
        std::string source, dest, message;
    } cases[] = {
        {"", out, notFound},         {in, "", cannotOpen},         {"", "", notFound},
        {folder, out, notFound},     {withSeparator, out, notFound}, {in, folder, cannotOpen},
        {in, withSeparator, cannotOpen}, {folder, folder, notFound},
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

TEST_F(KavoconvTest, UsageErrorsExitTwoWithAHint) {
    const std::vector<std::string> mistakes[] = {
        {}, {"in.txt"}, {"a", "b", "c"}, {"-x", "a", "b"}, {"-sx", "a", "b"}, {"--to-utf8", "a", "b"}, {"-s"},
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
        EXPECT_EQ(hint, "Try 'kavoconv --help' for more information.\n");
    }
    EXPECT_FALSE(fs::exists(File("b")));
}

TEST_F(KavoconvTest, HelpAndVersion) {
    CommandResult r = Convert({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find_first_of("\r\n")), "kavoconv 1.01");
    r = Convert({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: kavoconv ", 0), 0u);
    EXPECT_EQ(r.err, "");
}

}  // namespace
