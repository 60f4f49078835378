// kavoconv.exe on Windows (run under Wine): names that differ only in letter case are one
// file and go through the private folder in %LOCALAPPDATA%\kavo, which is left empty; a
// failed copy back names the Temp.dat that holds the text.
#include <filesystem>

#include "kavoconv_test.h"

namespace fs = std::filesystem;

namespace {

TEST_F(KavoconvTest, NamesDifferingInCaseConvertInPlace) {
    const size_t before = EntriesIn(WorkRoot());
    WriteBytes(File("text.txt"), "A\x82\xA0\r\n");
    CommandResult r = Convert({"--newlines", File("text.txt"), File("TEXT.TXT")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadBytes(File("text.txt")), "A\xA4\xA2\n");
    EXPECT_EQ(EntriesIn(WorkRoot()), before);
}

// Under Wine, Z:\proc\version reads, but a write to it fails: the copy back fails.
TEST_F(KavoconvTest, FailedCopyBackNamesTheFileThatHoldsTheText) {
    const std::string source = ReadBytes("Z:\\proc\\version");
    if (source.empty()) GTEST_SKIP() << "no Z:\\proc\\version (not under Wine)";
    CommandResult r = Convert({"Z:\\proc\\version", "Z:\\proc\\version"});
    EXPECT_EQ(r.status, 1);
    const std::string expected =
        Message("テンポラリファイルから書き戻せませんでした。") + Message("変換された内容は、Temp.datに記録されています。");
    ASSERT_EQ(r.err.substr(0, expected.size()), expected);
    const std::string lastLine = r.err.substr(expected.size());
    ASSERT_EQ(lastLine.rfind("kavoconv: ", 0), 0u) << lastLine;
    const std::string tempPath = lastLine.substr(10, lastLine.size() - 11);
    EXPECT_EQ(tempPath.rfind(WorkRoot() + "\\", 0), 0u) << tempPath;
    EXPECT_EQ(fs::path(tempPath).filename(), "Temp.dat");
    EXPECT_EQ(ReadBytes(tempPath), source);  // ASCII: the same after conversion
    fs::remove_all(fs::path(tempPath).parent_path());
}

}  // namespace
