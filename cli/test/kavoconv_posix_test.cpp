// kavoconv on POSIX: a full device, links to the source, the private folder for
// conversions through Temp.dat (also one too deep for it), messages in each locale; and
// what no failure may do: a DEST replaced only by a whole conversion and keeping what it
// was, the same file unseen through an overlay, file systems without fallocate, signals
// at random moments, non-regular files, another program changing the file, a run cut
// short by SIGKILL, a full file system, two runs at once, and the progress line.
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <locale.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
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
const std::string NOT_FOUND = "変換元ファイルが見つかりません。", CANNOT_OPEN = "変換先ファイルをオープンできません。";
const std::string WRITE_FAILED = "ファイルの書きこみに失敗しました。";

// Sets an environment variable for the runs that follow (children inherit it); null unsets.
void SetEnv(const char *name, const char *value) {
    if (value) setenv(name, value, 1);
    else unsetenv(name);
}

int ModeOf(const std::string &path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? (int)(info.st_mode & 07777) : -1;
}

// The system's words for an error number in Japanese, as kavoconv shows them.
std::string Ja(int code) {
    static locale_t japanese = newlocale(LC_ALL_MASK, "ja_JP.UTF-8", (locale_t)0);
    return japanese ? strerror_l(code, japanese) : strerror(code);
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

// Forty lines of "日本語のかな、カナ。ｶﾅ" and ASCII, in Shift_JIS with CR LF and as its
// conversion with -l, EUC-JP with LF.
std::string Lines(const std::string &text, const char *lineEnd) {
    std::string lines;
    for (int i = 0; i < 40; i++) lines += text + " line " + std::to_string(i) + lineEnd;
    return lines;
}

// Every signal whose default ends the process and that kavoconv takes in hand.
const int TERMINATING[] = {SIGHUP, SIGINT,  SIGQUIT,   SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE,
                           SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGXFSZ, SIGPOLL, SIGPWR};

struct Start {
    std::vector<std::string> args;
    std::string errPath = "/dev/null";
    int inputFd = -1;          // standard input; /dev/null when -1
    long fileSizeLimit = -1;   // RLIMIT_FSIZE in bytes, when not -1
    int ignored = 0;           // a signal ignored from the start, when not 0
};

// Starts kavoconv with every terminating signal at its default (a shell's background
// job would have SIGINT ignored), unless `ignored`.
pid_t StartKavoconv(const Start &start) {
    const std::string program = KavoconvProgram();
    std::vector<char *> argv = {const_cast<char *>(program.c_str())};
    for (const std::string &arg : start.args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child != 0) return child;
    for (int signal : TERMINATING) ::signal(signal, SIG_DFL);
    if (start.ignored) ::signal(start.ignored, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (start.fileSizeLimit >= 0) {
        struct rlimit limit = {(rlim_t)start.fileSizeLimit, (rlim_t)start.fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    int in = start.inputFd >= 0 ? start.inputFd : open("/dev/null", O_RDONLY);
    int err = open(start.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int out = open("/dev/null", O_WRONLY);
    if (in < 0 || err < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
}

pid_t StartKavoconv(const std::vector<std::string> &args, const std::string &errPath) {
    Start start;
    start.args = args;
    start.errPath = errPath;
    return StartKavoconv(start);
}

int WaitFor(pid_t child) {
    int status = 0;
    return waitpid(child, &status, 0) == child ? status : -1;
}

// Nonzero once the file's length or time of change is no longer that of `before`.
bool Changed(const std::string &path, const struct stat &before) {
    struct stat now;
    return stat(path.c_str(), &now) == 0 && (now.st_size != before.st_size ||
                                             now.st_mtim.tv_sec != before.st_mtim.tv_sec ||
                                             now.st_mtim.tv_nsec != before.st_mtim.tv_nsec);
}

// Waits up to ten seconds for `ready`; false when it never came.
bool WaitUntil(const std::function<bool()> &ready) {
    for (int i = 0; i < 50000; i++) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

// The Temp.dat of a private folder of a running kavoconv, or "" when none is there yet.
std::string TempDatUnder(const std::string &root) {
    std::error_code error;
    for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error))
        if (fs::exists(it->path() / "Temp.dat")) return (it->path() / "Temp.dat").string();
    return "";
}

// Mounts a file system of `type` at `dir` for one test, and unmounts it at the end.
struct Mount {
    std::string dir;
    bool mounted;
    Mount(const std::string &where, const char *type, const char *options) : dir(where) {
        fs::create_directories(dir);
        mounted = mount(type, dir.c_str(), type, 0, options) == 0;
    }
    ~Mount() {
        if (mounted) umount2(dir.c_str(), MNT_DETACH);
    }
};

TEST_F(KavoconvTest, FullDeviceFailsTheWrite) {
    WriteBytes(File("in.txt"), SJIS);
    CommandResult r = Convert({File("in.txt"), "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Said("/dev/full", WRITE_FAILED, Ja(ENOSPC)));

    Invocation toStdout;  // kavoconv in.txt - >/dev/full
    toStdout.args = {File("in.txt"), "-"};
    toStdout.outputPath = "/dev/full";
    r = RunKavoconv(toStdout);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Said("-", WRITE_FAILED, Ja(ENOSPC)));
}

TEST_F(KavoconvTest, LinkToTheSourceIsRefused) {
    WriteBytes(File("in.txt"), SJIS);
    ASSERT_EQ(symlink(File("in.txt").c_str(), File("symbolic").c_str()), 0);
    ASSERT_EQ(link(File("in.txt").c_str(), File("hard").c_str()), 0);
    fs::create_directories(File("sub"));
    for (const char *name : {"symbolic", "hard", "sub/../in.txt", "./in.txt"}) {
        SCOPED_TRACE(name);
        CommandResult r = Convert({File("in.txt"), File(name)});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, Said(File(name), CANNOT_OPEN, "変換元ファイルと同じファイルです"));
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

// A kavo folder that is a link elsewhere (say into /tmp), or another user's (left by a
// run as root), is not private: nothing is written, and the message names the folder.
TEST_F(KavoconvTest, UnsafeOrMissingPrivateFolderRefusesTheTemporaryFile) {
    WriteBytes(File("text.txt"), SJIS);
    fs::create_directories(File("shared"));
    fs::create_directories(File("linked"));
    fs::create_directories(File("others/kavo"));
    ASSERT_EQ(symlink(File("shared").c_str(), File("linked/kavo").c_str()), 0);
    const bool chowned = chown(File("others/kavo").c_str(), 4321, 4321) == 0;
    WriteBytes(File("not-a-folder"), "");
    const std::string cacheHome = getenv("XDG_CACHE_HOME");
    const struct {
        std::string cache, folder;
        int error;
    } cases[] = {
        {File("linked"), File("linked/kavo"), ENOTDIR},
        {File("not-a-folder"), File("not-a-folder/kavo"), ENOTDIR},
        {File("others"), File("others/kavo"), EACCES},
    };
    for (const auto &c : cases) {
        if (c.error == EACCES && (!chowned || geteuid() != 0)) continue;  // only root can hand it to another
        SCOPED_TRACE(c.cache);
        SetEnv("XDG_CACHE_HOME", c.cache.c_str());
        Invocation run;
        run.cwd = dir;
        run.args = {"text.txt", "text.txt"};
        CommandResult r = RunKavoconv(run);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "kavoconv: text.txt: Temp.datが作成できません。（" + c.folder + ": " + Ja(c.error) + "）\n");
    }
    SetEnv("XDG_CACHE_HOME", cacheHome.c_str());
    EXPECT_EQ(EntriesIn(File("shared")), 0u);
    EXPECT_FALSE(fs::exists(File("Temp.dat")));
    EXPECT_EQ(ReadBytes(File("text.txt")), SJIS);
}

// The temporary path is CACHE/kavo/XXXXXX/Temp.dat, 21 bytes longer than the cache folder.
// With a cache folder of PATH_MAX - 22 bytes it just fits; one byte more and the
// conversion in place is refused, the source unchanged. The private folder goes either
// way, also when there was no room for the separator after its name.
TEST_F(KavoconvTest, CacheFolderTooDeepForTempDat) {
    const std::string cacheHome = getenv("XDG_CACHE_HOME");
    const size_t fits = MAX_PATH - 1 - 21;
    // fits + 9: the private folder itself fits, but not with a separator after it.
    for (size_t length : {fits, fits + 1, fits + 9}) {
        SCOPED_TRACE(std::to_string(length) + "-byte cache folder");
        std::string deep = File(length == fits ? "f/" : "n/");
        while (deep.size() + 200 < length) deep += std::string(199, 'd') + "/";
        deep += std::string(length - deep.size(), 'c');
        fs::create_directories(deep);
        SetEnv("XDG_CACHE_HOME", deep.c_str());
        WriteBytes(File("text.txt"), SJIS);
        CommandResult r = Convert({File("text.txt"), File("text.txt")});
        EXPECT_EQ(r.status, length == fits ? 0 : 1);
        if (length != fits) {
            EXPECT_EQ(r.err.rfind("kavoconv: " + File("text.txt") + ": Temp.datが作成できません。（" + deep + "/kavo/", 0), 0u)
                << r.err;
        }
        EXPECT_EQ(ReadBytes(File("text.txt")), length == fits ? EUC : SJIS);
        EXPECT_EQ(EntriesIn(deep + "/kavo"), 0u);
    }
    SetEnv("XDG_CACHE_HOME", cacheHome.c_str());
}

// /proc/version reads, but a write to it fails even for root: the copy back fails, and
// the message names the Temp.dat that holds the text.
TEST_F(KavoconvTest, FailedCopyBackNamesTheFileThatHoldsTheText) {
    const std::string source = ReadBytes("/proc/version");
    if (source.empty()) GTEST_SKIP() << "no /proc/version";
    CommandResult r = Convert({"/proc/version", "/proc/version"});
    EXPECT_EQ(r.status, 1);
    const std::string first = "kavoconv: /proc/version: テンポラリファイルから書き戻せませんでした。（";
    const std::string second = "kavoconv: /proc/version: 変換された内容は、", end = "に記録されています。\n";
    ASSERT_EQ(r.err.rfind(first, 0), 0u) << r.err;
    const size_t at = r.err.find(second);
    ASSERT_NE(at, std::string::npos) << r.err;
    const std::string tempPath = r.err.substr(at + second.size(), r.err.size() - at - second.size() - end.size());
    EXPECT_EQ(tempPath.rfind(WorkRoot() + "/", 0), 0u) << tempPath;
    EXPECT_EQ(fs::path(tempPath).filename(), "Temp.dat");
    EXPECT_EQ(ReadBytes(tempPath), source);  // ASCII: the same after conversion
    EXPECT_EQ(ModeOf(fs::path(tempPath).parent_path().string()), 0700);
    fs::remove_all(fs::path(tempPath).parent_path());
}

// English by default, the dialog's texts in Japanese, in the locale's encoding. Each kind
// of failure has its own words in English, and the system's reason follows.
TEST_F(KavoconvTest, MessagesInEachLocale) {
    WriteBytes(File("in.txt"), SJIS);
    fs::create_directories(File("folder"));
    const std::string missing = File("missing.txt"), longName = File(std::string(300, 'n'));
    const struct {
        std::vector<std::string> args;
        std::string english;
    } cases[] = {
        {{missing, File("out.txt")}, missing + ": source not found: No such file or directory"},
        {{File("folder"), File("out.txt")}, File("folder") + ": the source is a folder: Is a directory"},
        {{longName, File("out.txt")}, longName + ": the source's name is too long: File name too long"},
        {{"-i", "/dev/null"}, "/dev/null: cannot open the source: not a regular file"},
        {{File("in.txt"), File("none/out.txt")},
         File("none/out.txt") + ": the destination's folder does not exist: No such file or directory"},
        {{File("in.txt"), File("folder")}, File("folder") + ": the destination is a folder: Is a directory"},
        {{File("in.txt"), File("in.txt/")}, File("in.txt/") + ": the destination's folder does not exist: Not a directory"},
        {{File("in.txt"), dir + "/./in.txt"},
         dir + "/./in.txt: cannot open the destination: it is the source under another name"},
        {{"-x"}, "unknown option '-x'\nTry 'kavoconv --help' for more information."},
    };
    SetEnv("LC_ALL", "C.UTF-8");
    for (const auto &c : cases) {
        CommandResult r = Convert(c.args);
        EXPECT_EQ(r.err, "kavoconv: " + c.english + "\n");
    }
    EXPECT_EQ(Convert({"--help"}).out.rfind("Usage: kavoconv ", 0), 0u);

    // In EUC-JP, the Japanese text as glibc's iconv writes it.
    locale_t euc = newlocale(LC_ALL_MASK, "ja_JP.eucJP", (locale_t)0);
    if (euc) {
        freelocale(euc);
        SetEnv("LC_ALL", "ja_JP.eucJP");
        CommandResult r = Convert({missing, File("out.txt")});
        std::string utf8 = Said(missing, NOT_FOUND, Ja(ENOENT)), inEuc(utf8.size() * 2, '\0');
        iconv_t cd = iconv_open("EUC-JP", "UTF-8");
        char *in = &utf8[0], *out = &inEuc[0];
        size_t inLeft = utf8.size(), outLeft = inEuc.size();
        ASSERT_NE(iconv(cd, &in, &inLeft, &out, &outLeft), (size_t)-1);
        iconv_close(cd);
        inEuc.resize(inEuc.size() - outLeft);
        EXPECT_EQ(r.err, inEuc);
    }
    SetEnv("LC_ALL", "ja_JP.UTF-8");
    if (!euc) GTEST_SKIP() << "locale ja_JP.eucJP is not installed: EUC-JP not tested";
}

// A DEST that exists keeps its bytes, and a new one is not made, whatever stops the
// conversion: a file size limit (SIGXFSZ ignored, or at its default), SIGTERM while the
// input pipe waits. Nothing is left in DEST's folder.
TEST_F(KavoconvTest, DestIsReplacedOnlyByAWholeConversion) {
    const std::string old = "older text, 31 bytes long....\n", big = Lines(TEXT_SJIS, "\r\n");
    WriteRepeated(File("in.txt"), big, 100);  // 131 KiB
    for (int ignoreXfsz : {1, 0}) {
        for (bool existing : {true, false}) {
            SCOPED_TRACE(std::string(existing ? "existing" : "new") + " DEST, SIGXFSZ " +
                         (ignoreXfsz ? "ignored" : "at its default"));
            fs::create_directories(File("out"));
            if (existing) WriteBytes(File("out/dest.txt"), old);
            Start start;
            start.args = {File("in.txt"), File("out/dest.txt")};
            start.errPath = File("err.txt");
            start.fileSizeLimit = 64 * 1024;
            start.ignored = ignoreXfsz ? SIGXFSZ : 0;
            const int status = WaitFor(StartKavoconv(start));
            // The writing thread blocks signals, so the limit shows as EFBIG either way.
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
            EXPECT_EQ(ReadBytes(File("err.txt")), Said(File("out/dest.txt"), WRITE_FAILED, Ja(EFBIG)));
            EXPECT_EQ(EntriesIn(File("out")), existing ? 1u : 0u);
            if (existing) {
                EXPECT_EQ(ReadBytes(File("out/dest.txt")), old);
            }
            fs::remove_all(File("out"));
        }
    }
    // SIGTERM while the pipe that feeds the input waits, the first blocks written.
    for (bool existing : {true, false}) {
        SCOPED_TRACE(existing ? "SIGTERM, existing DEST" : "SIGTERM, new DEST");
        fs::create_directories(File("out"));
        if (existing) WriteBytes(File("out/dest.txt"), old);
        int feed[2];
        ASSERT_EQ(pipe(feed), 0);
        Start start;
        start.args = {"-", File("out/dest.txt")};
        start.inputFd = feed[0];
        const pid_t child = StartKavoconv(start);
        close(feed[0]);
        for (int i = 0; i < 10; i++) ASSERT_EQ(write(feed[1], big.data(), big.size()), (ssize_t)big.size());
        ASSERT_TRUE(WaitUntil([&] {
            for (const auto &entry : fs::directory_iterator(File("out")))
                if (entry.path().filename() != "dest.txt" && entry.file_size() > 0) return true;
            return false;
        })) << "nothing was written beside DEST";
        kill(child, SIGTERM);
        const int status = WaitFor(child);
        close(feed[1]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        EXPECT_EQ(EntriesIn(File("out")), existing ? 1u : 0u);
        if (existing) {
            EXPECT_EQ(ReadBytes(File("out/dest.txt")), old);
        }
        fs::remove_all(File("out"));
    }
}

// The binary form of an access control list (the system.posix_acl_access attribute):
// the owner rw-, user 4321 r--, the group r--, the mask r--, others ---.
std::string AccessList() {
    std::string acl = {2, 0, 0, 0};
    auto entry = [&](unsigned short tag, unsigned short permissions, unsigned id) {
        const unsigned char bytes[8] = {(unsigned char)tag, (unsigned char)(tag >> 8), (unsigned char)permissions, 0,
                                        (unsigned char)id, (unsigned char)(id >> 8), (unsigned char)(id >> 16),
                                        (unsigned char)(id >> 24)};
        acl.append((const char *)bytes, sizeof bytes);
    };
    entry(0x01, 6, 0xFFFFFFFF);
    entry(0x02, 4, 4321);
    entry(0x04, 4, 0xFFFFFFFF);
    entry(0x10, 4, 0xFFFFFFFF);
    entry(0x20, 0, 0xFFFFFFFF);
    return acl;
}

std::string Attribute(const std::string &path, const char *name) {
    char value[256];
    ssize_t length = getxattr(path.c_str(), name, value, sizeof value);
    return length < 0 ? "(none)" : std::string(value, (size_t)length);
}

// An existing DEST keeps its owner, mode, extended attributes and access list; its other
// names show the conversion; a link to it stays a link and its target is converted. A
// new DEST gets the usual mode of a new file.
TEST_F(KavoconvTest, DestKeepsWhatItWas) {
    WriteBytes(File("in.txt"), SJIS);
    WriteBytes(File("plain.txt"), "old");
    chmod(File("plain.txt").c_str(), 0640);
    const bool root = geteuid() == 0 && chown(File("plain.txt").c_str(), 4321, 4322) == 0;
    const bool attributes = setxattr(File("plain.txt").c_str(), "user.kavo", "kept", 4, 0) == 0;
    const std::string acl = AccessList();
    const bool accessList =
        setxattr(File("plain.txt").c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
    struct stat before, after;
    ASSERT_EQ(stat(File("plain.txt").c_str(), &before), 0);
    ASSERT_EQ(Convert({File("in.txt"), File("plain.txt")}).status, 0);
    ASSERT_EQ(stat(File("plain.txt").c_str(), &after), 0);
    EXPECT_EQ(ReadBytes(File("plain.txt")), EUC);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    if (attributes) {
        EXPECT_EQ(Attribute(File("plain.txt"), "user.kavo"), "kept");
    }
    if (accessList) {
        EXPECT_EQ(Attribute(File("plain.txt"), "system.posix_acl_access"), acl);
    }
    if (!root || !attributes || !accessList) std::cout << "not tested here: owner, attributes or access list\n";

    WriteBytes(File("linked.txt"), "old");
    ASSERT_EQ(link(File("linked.txt").c_str(), File("other-name.txt").c_str()), 0);
    ASSERT_EQ(symlink("linked.txt", File("symbolic.txt").c_str()), 0);
    ASSERT_EQ(stat(File("linked.txt").c_str(), &before), 0);
    ASSERT_EQ(Convert({File("in.txt"), File("other-name.txt")}).status, 0);
    ASSERT_EQ(Convert({"-l", File("in.txt"), File("symbolic.txt")}).status, 0);
    ASSERT_EQ(stat(File("linked.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(ReadBytes(File("other-name.txt")), "A\xA4\xA2\xB4\xC1\n");
    EXPECT_TRUE(fs::is_symlink(File("symbolic.txt")));

    const mode_t mask = umask(0);
    umask(mask);
    ASSERT_EQ(Convert({File("in.txt"), File("new.txt")}).status, 0);
    EXPECT_EQ(ModeOf(File("new.txt")), (int)(0666 & ~mask));
    EXPECT_EQ(EntriesIn(dir), 6u);  // nothing else beside them
}

// An overlay's merged view and its upper folder show the same file under two identities,
// which no check of device and inode can see: the source is read whole before DEST is
// touched, so the worst case is a correct conversion in place.
TEST_F(KavoconvTest, TheSameFileUnseenThroughAnOverlay) {
    for (const char *folder : {"lower", "upper", "work", "merged"}) fs::create_directories(File(folder));
    const std::string options = "lowerdir=" + File("lower") + ",upperdir=" + File("upper") + ",workdir=" + File("work");
    const std::string big = Lines(TEXT_SJIS, "\r\n");
    WriteRepeated(File("upper/f.txt"), big, 100);
    if (mount("overlay", File("merged").c_str(), "overlay", 0, options.c_str()) != 0)
        GTEST_SKIP() << "cannot mount an overlay here (it needs root): not tested";
    CommandResult r = Convert({"-e", File("merged/f.txt"), File("upper/f.txt")});
    umount2(File("merged").c_str(), MNT_DETACH);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(HoldsRepeated(File("upper/f.txt"), ReferenceConvert(big, SjisToEuc, 0), 100));
}

// Without fallocate (ramfs has none), in place checks the free space and goes on.
TEST_F(KavoconvTest, InPlaceWithoutFallocate) {
    Mount ram(File("ram"), "ramfs", "");
    if (!ram.mounted) GTEST_SKIP() << "cannot mount a ramfs here (it needs root): not tested";
    const std::string text = Lines(TEXT_SJIS, "\r\n");
    WriteRepeated(ram.dir + "/text.txt", text, 200);
    CommandResult r = Convert({"-l", "-i", ram.dir + "/text.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(HoldsRepeated(ram.dir + "/text.txt", Lines(TEXT_EUC, "\n"), 200));
}

// With -i and -g, what is no regular file is refused at once, with its name and why,
// and the others go on: a FIFO (without a writer it would hang), a device that never
// ends, a block device. As SOURCE of the two-name form a FIFO is a stream.
TEST_F(KavoconvTest, NonRegularFilesAreRefusedInPlace) {
    ASSERT_EQ(mkfifo(File("fifo").c_str(), 0600), 0);
    WriteBytes(File("text.txt"), TEXT_SJIS + "\r\n" + TEXT_SJIS + "\r\n");
    std::string block;
    for (const auto &entry : fs::directory_iterator("/dev"))
        if (block.empty() && fs::is_block_file(entry.status())) block = entry.path().string();
    std::vector<std::string> files = {File("fifo"), "/dev/zero"};
    if (!block.empty()) files.push_back(block);
    std::string expected;
    for (const std::string &file : files) expected += Said(file, NOT_FOUND, "通常のファイルではありません");
    for (const char *option : {"-i", "-g"}) {
        SCOPED_TRACE(option);
        std::vector<std::string> args = {"-f", option};
        if (std::string(option) == "-g") args.erase(args.begin());
        args.insert(args.end(), files.begin(), files.end());
        args.push_back(File("text.txt"));
        CommandResult r = Convert(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, expected);
    }
    EXPECT_EQ(ReadBytes(File("text.txt")), TEXT_EUC + "\r\n" + TEXT_EUC + "\r\n");

    Invocation fromFifo;
    fromFifo.args = {File("fifo"), File("out.txt")};
    std::thread writer([&] { std::ofstream(File("fifo"), std::ios::binary) << SJIS; });
    CommandResult r = RunKavoconv(fromFifo);
    writer.join();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadBytes(File("out.txt")), EUC);
}

// Another program changes the file while kavoconv converts it in place: the change is
// made while kavoconv is stopped just after its Temp.dat appears. A file that grew is
// left as the other program left it, and Temp.dat keeps the conversion of what was read
// (the addition too, as it came before the end);
// a file cut short is a failed read, and nothing is kept.
TEST_F(KavoconvTest, AnotherProgramChangingTheFileIsNotOverwritten) {
    const std::string sjis = Lines(TEXT_SJIS, "\r\n"), euc = Lines(TEXT_EUC, "\n");
    const size_t count = 16 * 1024 * 1024 / sjis.size();
    const std::string path = File("text.txt"), errors = File("errors.txt");
    for (bool cutShort : {false, true}) {
        SCOPED_TRACE(cutShort ? "cut short" : "grown");
        WriteRepeated(path, sjis, count);
        const pid_t child = StartKavoconv({"-l", "-i", path}, errors);
        std::string temp;
        ASSERT_TRUE(WaitUntil([&] { return !(temp = TempDatUnder(WorkRoot())).empty(); }));
        kill(child, SIGSTOP);
        if (cutShort)
            ASSERT_EQ(truncate(path.c_str(), (off_t)(sjis.size() * count / 2)), 0);
        else
            std::ofstream(path, std::ios::binary | std::ios::app) << "appended\n";
        kill(child, SIGCONT);
        const int status = WaitFor(child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        const std::string err = ReadBytes(errors);
        if (cutShort) {
            EXPECT_EQ(err, Said(path, "ファイルの読みこみに失敗しました。", "読みこみ中にファイルが短くなりました"));
            EXPECT_TRUE(HoldsRepeated(path, sjis, count / 2));
            EXPECT_FALSE(fs::exists(temp));
        } else {
            EXPECT_EQ(err, "kavoconv: " + path + ": 変換中に他のプログラムがファイルを変更しました。ファイルはそのままです。\n" +
                               "kavoconv: " + path + ": 変換された内容は、" + temp + "に記録されています。\n");
            std::string grown;
            for (size_t i = 0; i < count; i++) grown += sjis;
            grown += "appended\n";
            EXPECT_TRUE(ReadBytes(path) == grown);
            // Read while it grew, the addition too.
            EXPECT_TRUE(ReadBytes(temp) == ReferenceConvert(grown, SjisToEuc, 1)) << "Temp.dat";
            fs::remove_all(fs::path(temp).parent_path());
        }
    }
}

// SIGKILL during the copy back leaves a mixed file and the whole conversion. The next
// run on that file says where the conversion is and leaves the file alone; once the
// conversion is copied over the file, the folder goes quietly. A folder whose run was
// killed before its Temp.dat was whole is removed by the next run.
TEST_F(KavoconvTest, RunCutShortBySigkillIsReportedAndCleanedUp) {
    const std::string sjis = Lines(TEXT_SJIS, "\r\n"), euc = Lines(TEXT_EUC, "\n");
    const size_t count = 32 * 1024 * 1024 / sjis.size();
    const std::string path = File("text.txt"), errors = File("errors.txt");
    const size_t leftBefore = EntriesIn(WorkRoot());

    // Killed before Temp.dat is whole: its folder is gone after the next run.
    WriteRepeated(path, sjis, count);
    pid_t child = StartKavoconv({"-l", "-i", path}, errors);
    std::string temp;
    ASSERT_TRUE(WaitUntil([&] { return !(temp = TempDatUnder(WorkRoot())).empty(); }));
    kill(child, SIGKILL);
    WaitFor(child);
    EXPECT_TRUE(HoldsRepeated(path, sjis, count));
    EXPECT_EQ(EntriesIn(WorkRoot()), leftBefore + 1);
    WriteBytes(File("small.txt"), SJIS);
    EXPECT_EQ(Convert({File("small.txt"), File("small.txt")}).status, 0);
    EXPECT_EQ(EntriesIn(WorkRoot()), leftBefore);

    // Killed during the copy back.
    struct stat original;
    ASSERT_EQ(stat(path.c_str(), &original), 0);
    child = StartKavoconv({"-l", "-i", path}, errors);
    ASSERT_TRUE(WaitUntil([&] { return Changed(path, original); }));
    kill(child, SIGKILL);
    WaitFor(child);
    temp = TempDatUnder(WorkRoot());
    ASSERT_FALSE(temp.empty());
    ASSERT_TRUE(HoldsRepeated(temp, euc, count));
    CommandResult r = Convert({"-l", "-i", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kavoconv: " + path + ": 以前のkavoconvがこのファイルへの書き戻しの途中で中断されました。" +
                         "変換された内容は、" + temp + "に記録されています。\n" + "kavoconv: " + path +
                         ": それをファイルにコピーするか、そのフォルダーを削除してから、もう一度実行してください。\n");
    fs::copy_file(temp, path, fs::copy_options::overwrite_existing);
    r = Convert({"-l", "-i", path});
    EXPECT_EQ(r.err, "kavoconv: " + path + ": 変換しませんでした（EUC-JPと推定）\n");
    EXPECT_EQ(EntriesIn(WorkRoot()), leftBefore);
}

// Signals at random moments of `-l -f -i` on a 32 MiB file (seconds under the
// sanitizers), each of the terminating signals in turn. An undisturbed run shows how long
// the whole takes and how long the copy back (from the first change of the file). Half of
// the moments fall anywhere in the run or a little after, each in its own stretch of that
// time; the other half during the copy back, a random part of its length after the file
// is seen to change. Each time the file is whole afterwards, the original or the complete
// conversion (only the conversion once the copy back has begun); the private folder is
// gone; and the process ended by the signal, or with 0 when it was over first.
// KAVO_TRIALS sets the number of moments (24), KAVO_SEED the random seed (printed); the
// "trials" lines give per signal: original and converted of the moments anywhere,
// converted of those in the copy back, mixed files, folders left
// (scripts/interrupt-trials.sh makes a table of them).
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

    const char *trials = getenv("KAVO_TRIALS"), *seedText = getenv("KAVO_SEED");
    const int moments = trials ? atoi(trials) : 24, half = moments / 2;
    const unsigned seed = seedText ? (unsigned)strtoul(seedText, nullptr, 10) : std::random_device{}();
    std::cout << "seed " << seed << " (KAVO_SEED repeats it)" << std::endl;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> fraction(0, 1);
    const int signalCount = (int)(sizeof TERMINATING / sizeof TERMINATING[0]);
    // Per signal: moments anywhere that left the original, the conversion (finished
    // first); moments in the copy back that left the conversion; mixed files; folders left.
    std::map<int, std::array<int, 5>> seen;
    for (int i = 0; i < moments; i++) {
        const bool duringCopyBack = i >= half;
        const int signal = TERMINATING[i % signalCount];
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
            std::this_thread::sleep_for(
                std::chrono::duration<double>(((i % half) + fraction(random)) * 1.1 * whole / half));
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
        const size_t left = EntriesIn(WorkRoot()) - leftBefore;
        EXPECT_EQ(left, 0u);
        std::array<int, 5> &counts = seen[signal];
        counts[duringCopyBack ? 2 : untouched ? 0 : 1] += untouched || converted;
        counts[3] += !untouched && !converted;
        counts[4] += (int)left;
        if (left) fs::remove_all(WorkRoot()), fs::create_directories(WorkRoot());
    }
    std::cout << "undisturbed run " << whole << " s, copy back from " << copyBack << " s; " << moments
              << " signals" << std::endl;
    for (const auto &per : seen)
        std::cout << "trials SIG" << sigabbrev_np(per.first) << " " << per.second[0] << " " << per.second[1] << " "
                  << per.second[2] << " " << per.second[3] << " " << per.second[4] << std::endl;
}

// A 1 MiB file system holding a 601,979-byte text of half-width katakana, which grows to
// 1,073,093 bytes as EUC-JP. With the private folder elsewhere, the copy back cannot make
// room: the source keeps its bytes and time, the message names the Temp.dat that holds
// the conversion. With the private folder on the full file system too, Temp.dat cannot
// be written. Made read-only, the file is refused before anything is converted.
TEST_F(KavoconvTest, FullFileSystemLeavesTheSourceAsItWas) {
    Mount small(File("small"), "tmpfs", "size=1m");
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
    const std::string lines = name + "テンポラリファイルから書き戻せませんでした。（" + Ja(ENOSPC) + "）\n" + name +
                              "変換された内容は、";
    ASSERT_EQ(r.err.substr(0, lines.size()), lines);
    const std::string end = "に記録されています。\n";
    const std::string temp = r.err.substr(lines.size(), r.err.size() - lines.size() - end.size());
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
    EXPECT_EQ(r.err.rfind(name + WRITE_FAILED + "（" + small.dir + "/cache/kavo/", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("/Temp.dat: " + Ja(ENOSPC) + "）\n"), std::string::npos) << r.err;
    EXPECT_TRUE(HoldsRepeated(path, sjis + "\r\n", count)) << "the source";
    EXPECT_EQ(EntriesIn(small.dir + "/cache/kavo"), 0u);

    ASSERT_EQ(mount(nullptr, small.dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
    r = Convert({"-l", "-i", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Said(path, CANNOT_OPEN, Ja(EROFS)));
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
            EXPECT_EQ(errors, "kavoconv: " + path + ": 変換しませんでした（EUC-JPと推定）\n");
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
