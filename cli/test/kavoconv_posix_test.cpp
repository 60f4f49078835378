// kavoconv on POSIX: a full device, links to the source, the private folder for in-place
// conversions (also one too deep for Temp.dat), and messages in the locale's encoding.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <locale.h>

#include "kavoconv_test.h"

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
// conversion is refused, the source unchanged. The private folder goes either way.
TEST_F(KavoconvTest, CacheFolderTooDeepForTempDat) {
    const std::string cacheHome = getenv("XDG_CACHE_HOME");
    const std::string prefix = File("");
    for (size_t length : {238, 239}) {
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

}  // namespace
