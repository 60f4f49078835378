// kavoconv.exe on Windows (run under Wine): names that differ only in letter case are one
// file and go through the private folder in %LOCALAPPDATA%\kavo, which is left empty; a
// failed copy back names the Temp.dat that holds the text.
#include <windows.h>

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

// The names in a folder, through the ANSI calls (std::filesystem does not take a
// narrow name as the ANSI code page).
std::string Listing(const std::string &folder) {
    std::string names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..") names += (names.empty() ? "" : " ") + name;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

// Names whose Shift_JIS second bytes are 0x5C (表 95 5C, ソ 83 5C, 能 94 5C), in folder
// and file names and at the very end of an argument, just before its closing quote.
TEST_F(KavoconvTest, NamesWithBackslashSecondBytes) {
    const std::string folder = dir + "\\表ソ能", other = dir + "\\ソ";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA(other.c_str(), NULL));
    const std::string source = folder + "\\一覧表", dest = other + "\\予定表";
    WriteBytes(source, "A\x95\x5C\r\n");
    CommandResult r = Convert({"-l", source, dest});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadBytes(dest), "A\xC9\xBD\n");
    r = Convert({"-s", dest, dest});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadBytes(dest), "A\x95\x5C\n");
    r = Convert({source, other});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Message("変換先ファイルをオープンできません。"));
    EXPECT_EQ(Listing(folder), "一覧表");
    EXPECT_EQ(Listing(other), "予定表");
    EXPECT_EQ(ReadBytes(source), "A\x95\x5C\r\n");
}

}  // namespace
