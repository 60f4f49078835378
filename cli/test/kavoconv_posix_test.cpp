// kavoconv on POSIX: a full device, links to the source, the private folder for in-place
// conversions (also one too deep for Temp.dat), messages in the locale's encoding; and
// in place, what no failure may do: signals at random moments, a full file system, two
// runs at once, and the progress line on a terminal.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <locale.h>
#include <map>
#include <random>
#include <thread>

#include "kavoconv_test.h"
#include "program_state.h"
#include "reference_transcoder.h"

namespace fs = std::filesystem;

namespace {

const std::string SJIS = "A\x82\xA0\x8A\xBF\r\n";
const std::string EUC = "A\xA4\xA2\xB4\xC1\r\n";

// Sets an environment variable for the runs that follow (children inherit it); null unsets.
void SetEnv(const char *name, const char *value) {
    if (value) setenv(name, value, 1);
    else unsetenv(name);
}

int ModeOf(const std::string &path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? (int)(info.st_mode & 07777) : -1;
}

TEST_F(KavoconvTest, FullDeviceFailsTheWrite) {
    WriteBytes(File("in.txt"), SJIS);
    CommandResult r = Convert({File("in.txt"), "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Message("ファイルの書きこみに失敗しました。"));

    Invocation toStdout;  // kavoconv in.txt - >/dev/full
    toStdout.args = {File("in.txt"), "-"};
    toStdout.outputPath = "/dev/full";
    r = RunKavoconv(toStdout);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Message("ファイルの書きこみに失敗しました。"));
}

TEST_F(KavoconvTest, LinkToTheSourceIsRefused) {
    WriteBytes(File("in.txt"), SJIS);
    ASSERT_EQ(symlink(File("in.txt").c_str(), File("symbolic").c_str()), 0);
    ASSERT_EQ(link(File("in.txt").c_str(), File("hard").c_str()), 0);
    for (const char *name : {"symbolic", "hard", "sub/../in.txt", "./in.txt"}) {
        SCOPED_TRACE(name);
        fs::create_directories(File("sub"));
        CommandResult r = Convert({File("in.txt"), File(name)});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, Message("変換先ファイルをオープンできません。"));
        EXPECT_EQ(ReadBytes(File("in.txt")), SJIS);
    }
}

TEST_F(KavoconvTest, PrivateFolderIsMadeWithMode0700) {
    const std::string cacheHome = getenv("XDG_CACHE_HOME");
    fs::create_directories(File("home"));
    fs::create_directories(File("loose/kavo"));
    chmod(File("loose/kavo").c_str(), 0777);
    WriteBytes(File("text.txt"), SJIS);
    const struct {
        std::string cacheHome;  // XDG_CACHE_HOME
        std::string folder;     // where the private folder must be
    } cases[] = {
        {File("xdg"), File("xdg/kavo")},
        {"relative/is/ignored", File("home/.cache/kavo")},
        {File("loose"), File("loose/kavo")},  // made private again
    };
    SetEnv("HOME", File("home").c_str());  // stays: nothing later reads it past XDG_CACHE_HOME
    for (const auto &c : cases) {
        SCOPED_TRACE(c.folder);
        SetEnv("XDG_CACHE_HOME", c.cacheHome.c_str());
        EXPECT_EQ(Convert({File("text.txt"), File("text.txt")}).status, 0);
        EXPECT_EQ(ModeOf(c.folder), 0700);
        EXPECT_EQ(EntriesIn(c.folder), 0u);
        EXPECT_EQ(Convert({"-s", File("text.txt"), File("text.txt")}).status, 0);
    }
    SetEnv("XDG_CACHE_HOME", cacheHome.c_str());
    EXPECT_FALSE(fs::exists(File("relative")));
    EXPECT_EQ(ReadBytes(File("text.txt")), SJIS);
}

// A kavo folder that is a link elsewhere (say into /tmp) is not private: nothing is written.
TEST_F(KavoconvTest, UnsafeOrMissingPrivateFolderRefusesTheTemporaryFile) {
    WriteBytes(File("text.txt"), SJIS);
    fs::create_directories(File("shared"));
    fs::create_directories(File("linked"));
    ASSERT_EQ(symlink(File("shared").c_str(), File("linked/kavo").c_str()), 0);
    WriteBytes(File("not-a-folder"), "");
    const std::string cacheHome = getenv("XDG_CACHE_HOME");
    for (const std::string &unusable : {File("linked"), File("not-a-folder")}) {
        SCOPED_TRACE(unusable);
        SetEnv("XDG_CACHE_HOME", unusable.c_str());
        Invocation run;
        run.cwd = dir;
        run.args = {"text.txt", "text.txt"};
        CommandResult r = RunKavoconv(run);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, Message("Temp.datが作成できません。"));
    }
    SetEnv("XDG_CACHE_HOME", cacheHome.c_str());
    EXPECT_EQ(EntriesIn(File("shared")), 0u);
    EXPECT_FALSE(fs::exists(File("Temp.dat")));
    EXPECT_EQ(ReadBytes(File("text.txt")), SJIS);
}

// The temporary path is CACHE/kavo/XXXXXX/Temp.dat, 21 bytes longer than the cache folder.
// With a cache folder of 238 bytes it just fits in 259; one byte more and the in-place
// conversion is refused, the source unchanged. The private folder goes either way, also
// when there was no room for the separator after its name.
TEST_F(KavoconvTest, CacheFolderTooDeepForTempDat) {
    const std::string cacheHome = getenv("XDG_CACHE_HOME");
    const std::string prefix = File("");
    // 247: the private folder itself fits, but not with a separator after it.
    for (size_t length : {238, 239, 247}) {
        SCOPED_TRACE(std::to_string(length) + "-byte cache folder");
        const std::string deep = prefix + std::string(length - prefix.size(), length == 238 ? 'f' : 'n');
        fs::create_directories(deep);
        SetEnv("XDG_CACHE_HOME", deep.c_str());
        WriteBytes(File("text.txt"), SJIS);
        CommandResult r = Convert({File("text.txt"), File("text.txt")});
        const bool fits = length == 238;
        EXPECT_EQ(r.status, fits ? 0 : 1);
        EXPECT_EQ(r.err, fits ? "" : Message("Temp.datが作成できません。"));
        EXPECT_EQ(ReadBytes(File("text.txt")), fits ? EUC : SJIS);
        EXPECT_EQ(EntriesIn(deep + "/kavo"), 0u);
    }
    SetEnv("XDG_CACHE_HOME", cacheHome.c_str());
}

// /proc/version reads, but a write to it fails even for root: the copy back fails.
TEST_F(KavoconvTest, FailedCopyBackNamesTheFileThatHoldsTheText) {
    const std::string source = ReadBytes("/proc/version");
    if (source.empty()) GTEST_SKIP() << "no /proc/version";
    CommandResult r = Convert({"/proc/version", "/proc/version"});
    EXPECT_EQ(r.status, 1);
    const std::string expected = Message("テンポラリファイルから書き戻せませんでした。") +
                                 Message("変換された内容は、Temp.datに記録されています。") + Message("");
    ASSERT_EQ(r.err.substr(0, expected.size() - 1), expected.substr(0, expected.size() - 1));
    const std::string tempPath = r.err.substr(expected.size() - 1, r.err.size() - expected.size());
    EXPECT_EQ(tempPath.rfind(WorkRoot() + "/", 0), 0u) << tempPath;
    EXPECT_EQ(fs::path(tempPath).filename(), "Temp.dat");
    EXPECT_EQ(ReadBytes(tempPath), source);  // ASCII: the same after conversion
    EXPECT_EQ(ModeOf(fs::path(tempPath).parent_path().string()), 0700);
    fs::remove_all(fs::path(tempPath).parent_path());
}

TEST_F(KavoconvTest, MessagesFollowTheLocale) {
    locale_t euc = newlocale(LC_ALL_MASK, "ja_JP.eucJP", (locale_t)0);
    if (!euc) GTEST_SKIP() << "locale ja_JP.eucJP is not installed";
    freelocale(euc);
    SetEnv("LC_ALL", "ja_JP.eucJP");
    CommandResult r = Convert({File("missing.txt"), File("out.txt")});
    SetEnv("LC_ALL", "C.UTF-8");
    EXPECT_EQ(r.status, 1);
    // 変換元ファイルが見つかりません。 in EUC-JP
    EXPECT_EQ(r.err, "kavoconv: \xCA\xD1\xB4\xB9\xB8\xB5\xA5\xD5\xA5\xA1\xA5\xA4\xA5\xEB\xA4\xAC\xB8\xAB\xA4\xC4"
                     "\xA4\xAB\xA4\xEA\xA4\xDE\xA4\xBB\xA4\xF3\xA1\xA3\n");
}

// A text of `count` copies of `unit`, written in pieces.
void WriteRepeated(const std::string &path, const std::string &unit, size_t count) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (size_t i = 0; i < count; i++) out << unit;
}

// Nonzero when the file holds exactly `count` copies of `unit`.
bool HoldsRepeated(const std::string &path, const std::string &unit, size_t count) {
    std::ifstream in(path, std::ios::binary);
    std::string piece(unit.size(), '\0');
    for (size_t i = 0; i < count; i++)
        if (!in.read(&piece[0], (std::streamsize)piece.size()) || piece != unit) return false;
    return in.peek() == std::char_traits<char>::eof();
}

// Starts kavoconv with standard error into errPath and the three interruptions at their
// defaults (a shell's background job would have SIGINT ignored).
pid_t StartKavoconv(const std::vector<std::string> &args, const std::string &errPath) {
    const std::string program = KavoconvProgram();
    std::vector<char *> argv = {const_cast<char *>(program.c_str())};
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t child = -1;
    if (posix_spawn(&child, program.c_str(), &files, &attributes, argv.data(), environ) != 0) child = -1;
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    return child;
}

int WaitFor(pid_t child) {
    int status = 0;
    return waitpid(child, &status, 0) == child ? status : -1;
}

// Forty lines of "日本語のかな、カナ。ｶﾅ" and ASCII, in Shift_JIS with CR LF and as its
// conversion with -l, EUC-JP with LF.
std::string Lines(const std::string &text, const char *lineEnd) {
    std::string lines;
    for (int i = 0; i < 40; i++) lines += text + " line " + std::to_string(i) + lineEnd;
    return lines;
}

// Nonzero once the file's length or time of change is no longer that of `before`.
bool Changed(const std::string &path, const struct stat &before) {
    struct stat now;
    return stat(path.c_str(), &now) == 0 && (now.st_size != before.st_size ||
                                             now.st_mtim.tv_sec != before.st_mtim.tv_sec ||
                                             now.st_mtim.tv_nsec != before.st_mtim.tv_nsec);
}

// SIGINT, SIGTERM and SIGHUP at random moments of `-l -f -i` on a 32 MiB file (seconds
// under the sanitizers). An undisturbed run shows how long the whole takes and how long
// the copy back (from the first change of the file). Half of the moments fall anywhere
// in the run or a little after, each in its own stretch of that time; the other half
// during the copy back, a random part of its length after the file is seen to change.
// Each time the file is whole afterwards, the original or the complete conversion (only
// the conversion once the copy back has begun); the private folder is gone; and the
// process ended by the signal, or with 0 when it was over first.
TEST_F(KavoconvTest, InterruptedInPlaceLeavesTheOriginalOrTheConversion) {
    const std::string sjis = Lines(TEXT_SJIS, "\r\n"), euc = Lines(TEXT_EUC, "\n");
    const size_t count = 32 * 1024 * 1024 / sjis.size();
    const std::string path = File("large.txt"), errors = File("errors.txt");
    const std::vector<std::string> args = {"-l", "-f", "-i", path};
    const size_t leftBefore = EntriesIn(WorkRoot());
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); };

    struct stat original;
    WriteRepeated(path, sjis, count);
    ASSERT_EQ(stat(path.c_str(), &original), 0);
    const Clock::time_point start = Clock::now();
    const pid_t run = StartKavoconv(args, errors);
    double copyBack = -1;
    int status = 0;
    while (waitpid(run, &status, WNOHANG) == 0) {
        if (copyBack < 0 && Changed(path, original)) copyBack = seconds(start);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double whole = seconds(start);
    ASSERT_EQ(status, 0) << ReadBytes(errors);
    ASSERT_TRUE(HoldsRepeated(path, euc, count));
    ASSERT_GE(copyBack, 0) << "the copy back was not seen";

    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    const int moments = 24, half = moments / 2;
    std::mt19937 random(std::random_device{}());
    std::uniform_real_distribution<double> fraction(0, 1);
    std::map<std::string, int> seen;
    for (int i = 0; i < moments; i++) {
        const bool duringCopyBack = i >= half;
        const int signal = signals[i % 3];
        WriteRepeated(path, sjis, count);
        ASSERT_EQ(stat(path.c_str(), &original), 0);
        const Clock::time_point started = Clock::now();
        const pid_t child = StartKavoconv(args, errors);
        ASSERT_GT(child, 0);
        if (duringCopyBack) {
            while (!Changed(path, original) && waitpid(child, &status, WNOHANG) == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            std::this_thread::sleep_for(std::chrono::duration<double>(fraction(random) * (whole - copyBack)));
        } else {
            std::this_thread::sleep_for(std::chrono::duration<double>((i + fraction(random)) * 1.1 * whole / half));
        }
        const double at = seconds(started);
        kill(child, signal);
        status = WaitFor(child);
        SCOPED_TRACE("signal " + std::to_string(signal) + " after " + std::to_string(at) + " s");
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == signal;
        EXPECT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << "status " << status;
        const bool untouched = HoldsRepeated(path, sjis, count), converted = HoldsRepeated(path, euc, count);
        EXPECT_TRUE((untouched && !duringCopyBack) || converted)
            << (duringCopyBack ? "not the conversion" : "neither the original nor the conversion");
        EXPECT_EQ(EntriesIn(WorkRoot()), leftBefore);
        seen[std::string(duringCopyBack ? "in the copy back: " : "anywhere: ") + (killed ? "ended by it" : "finished") +
             ", file " + (untouched ? "original" : converted ? "converted" : "mixed")]++;
    }
    std::cout << "undisturbed run " << whole << " s, copy back from " << copyBack << " s; " << moments << " signals:";
    for (const auto &outcome : seen) std::cout << " " << outcome.second << " " << outcome.first << ";";
    std::cout << std::endl;
}

// Mounts a small tmpfs at `dir` for one test, and unmounts it at the end.
struct SmallFileSystem {
    std::string dir;
    bool mounted;
    SmallFileSystem(const std::string &where, const char *size) : dir(where) {
        std::filesystem::create_directories(dir);
        mounted = mount("tmpfs", dir.c_str(), "tmpfs", 0, size) == 0;
    }
    ~SmallFileSystem() {
        if (mounted) umount2(dir.c_str(), MNT_DETACH);
    }
};

// A 1 MiB file system holding a 601,979-byte text of half-width katakana, which grows to
// 1,073,093 bytes as EUC-JP. With the private folder elsewhere, the copy back cannot make
// room: the source keeps its bytes and time, the message names the Temp.dat that holds
// the conversion. With the private folder on the full file system too, Temp.dat cannot
// be written. Made read-only, the file is refused before anything is converted.
TEST_F(KavoconvTest, FullFileSystemLeavesTheSourceAsItWas) {
    SmallFileSystem small(File("small"), "size=1m");
    if (!small.mounted) GTEST_SKIP() << "cannot mount a tmpfs here (it needs root): not tested";
    // "ｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿのﾃｷｽﾄ" CR LF: EUC-JP writes 0x8E before each half-width katakana.
    std::string sjis, euc;
    for (unsigned char kana : {0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE,
                               0xBF, 0x00, 0xC3, 0xB7, 0xBD, 0xC4}) {
        sjis += kana ? std::string(1, (char)kana) : "\x82\xCC";
        euc += kana ? "\x8E" + std::string(1, (char)kana) : "\xA4\xCE";
    }
    const size_t count = 602000 / (sjis.size() + 2);
    const std::string path = small.dir + "/text.txt", name = "kavoconv: " + path + ": ";
    WriteRepeated(path, sjis + "\r\n", count);
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);

    CommandResult r = Convert({"-l", "-i", path});
    EXPECT_EQ(r.status, 1);
    const std::string lines = name + "テンポラリファイルから書き戻せませんでした。\n" + name +
                              "変換された内容は、Temp.datに記録されています。\n" + name;
    ASSERT_EQ(r.err.substr(0, lines.size()), lines);
    const std::string temp = r.err.substr(lines.size(), r.err.size() - lines.size() - 1);
    EXPECT_EQ(temp.rfind(WorkRoot() + "/", 0), 0u) << temp;
    EXPECT_TRUE(HoldsRepeated(temp, euc + "\n", count)) << "Temp.dat";
    EXPECT_TRUE(HoldsRepeated(path, sjis + "\r\n", count)) << "the source";
    struct stat after;
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    fs::remove_all(fs::path(temp).parent_path());

    const std::string cacheHome = getenv("XDG_CACHE_HOME");
    SetEnv("XDG_CACHE_HOME", (small.dir + "/cache").c_str());
    r = Convert({"-l", "-i", path});
    SetEnv("XDG_CACHE_HOME", cacheHome.c_str());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, name + "ファイルの書きこみに失敗しました。\n");
    EXPECT_TRUE(HoldsRepeated(path, sjis + "\r\n", count)) << "the source";
    EXPECT_EQ(EntriesIn(small.dir + "/cache/kavo"), 0u);

    ASSERT_EQ(mount(nullptr, small.dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
    r = Convert({"-l", "-i", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, name + "変換先ファイルをオープンできません。\n");
    EXPECT_TRUE(HoldsRepeated(path, sjis + "\r\n", count)) << "the source";
}

// Two runs in place on one file at once take turns. Guarded, one converts and the other
// then finds EUC-JP and skips the file; with --force the file is converted twice over,
// the second time as if it were Shift_JIS, as the oracle does it: never a mix.
TEST_F(KavoconvTest, TwoRunsInPlaceTakeTurns) {
    const std::string sjis = Lines(TEXT_SJIS, "\r\n"), euc = Lines(TEXT_EUC, "\n");
    const size_t count = 8 * 1024 * 1024 / sjis.size();
    const std::string path = File("shared.txt");
    for (bool force : {false, true}) {
        SCOPED_TRACE(force ? "with --force" : "guarded");
        WriteRepeated(path, sjis, count);
        std::vector<std::string> args = {"-l", "-i", path};
        if (force) args.insert(args.begin(), "-f");
        const pid_t first = StartKavoconv(args, File("first.txt"));
        const pid_t second = StartKavoconv(args, File("second.txt"));
        EXPECT_EQ(WaitFor(first), 0);
        EXPECT_EQ(WaitFor(second), 0);
        const std::string errors = ReadBytes(File("first.txt")) + ReadBytes(File("second.txt"));
        if (force) {
            EXPECT_TRUE(HoldsRepeated(path, ReferenceConvert(euc, SjisToEuc, 1), count));
            EXPECT_EQ(errors, "");
        } else {
            EXPECT_TRUE(HoldsRepeated(path, euc, count));
            EXPECT_EQ(errors, "kavoconv: " + path + ": skipped, guessed EUC-JP\n");
        }
    }
}

// On a terminal, work that has run for more than a second shows a progress line there,
// cleared at the end. The input comes through a pipe over a second and a half.
TEST_F(KavoconvTest, ProgressLineOnATerminal) {
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    const std::string program = KavoconvProgram(), out = File("out.txt");
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) {  // standard error stays on the terminal
        dup2(input[0], 0);
        close(input[0]);
        close(input[1]);
        execl(program.c_str(), program.c_str(), "-l", "-", out.c_str(), (char *)nullptr);
        _exit(127);
    }
    ASSERT_GT(child, 0);
    close(input[0]);
    const std::string piece = Lines(TEXT_SJIS, "\r\n");
    for (int i = 0; i < 6; i++) {
        ASSERT_EQ(write(input[1], piece.data(), piece.size()), (ssize_t)piece.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    close(input[1]);
    std::string shown;
    char block[4096];
    ssize_t got;
    while ((got = read(terminal, block, sizeof block)) > 0) shown.append(block, (size_t)got);  // EIO once it has gone
    close(terminal);
    EXPECT_EQ(WaitFor(child), 0);
    std::string expected;
    for (int i = 0; i < 6; i++) expected += Lines(TEXT_EUC, "\n");
    EXPECT_TRUE(ReadBytes(out) == expected);
    EXPECT_EQ(shown.rfind("\rkavoconv: 0/1 files, ", 0), 0u) << shown;
    const size_t lastLine = shown.rfind("\rkavoconv: ");
    ASSERT_NE(lastLine, std::string::npos);
    const size_t length = shown.find('\r', lastLine + 1) - lastLine - 1;
    EXPECT_EQ(shown.substr(lastLine + 1 + length), "\r" + std::string(length, ' ') + "\r") << "not cleared";
}

}  // namespace
