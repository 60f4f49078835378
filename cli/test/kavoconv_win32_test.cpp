// kavoconv.exe on Windows (run under Wine): names that differ only in letter case are one
// file and go through the private folder in %LOCALAPPDATA%\kavo, which is left empty; a
// failed copy back names the Temp.dat that holds the text; wildcards in arguments are
// expanded; the version block.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

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

// The lines of a text, sorted: the order in which a folder lists its names is the
// file system's.
std::vector<std::string> SortedLines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());  // Windows' text mode
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// cmd.exe hands *.txt to the program as typed (the runner writes such arguments without
// quotes too): kavoconv.exe expands it itself, also to a Japanese name and in another
// folder; a pattern that matches nothing stays as typed and is reported.
TEST_F(KavoconvTest, WildcardsInFileArgumentsAreExpanded) {
    const std::string sjis = TEXT_SJIS + "\r\n" + TEXT_SJIS + "\r\n", euc = TEXT_EUC + "\n";
    auto here = [this](const char *name) { return dir + "\\" + name; };  // names in code page 932
    ASSERT_TRUE(CreateDirectoryA(here("ソ").c_str(), NULL));  // 83 5C: a backslash as its second byte
    WriteBytes(here("a.txt"), sjis);
    WriteBytes(here("日本語.txt"), sjis);
    WriteBytes(here("b.txt"), euc);
    WriteBytes(here("c.dat"), sjis);
    WriteBytes(here("ソ\\d.txt"), sjis);
    CommandResult r = Convert({"-g", "*.txt", "ソ\\?.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(SortedLines(r.out), SortedLines("a.txt: Shift_JIS (CRLF)\n"
                                              "b.txt: EUC-JP (LF)\n"
                                              "日本語.txt: Shift_JIS (CRLF)\n"
                                              "ソ\\d.txt: Shift_JIS (CRLF)\n"));

    r = Convert({"-l", "-i", "*.txt", "*.none"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("*.none"), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(here("a.txt")), euc + euc);
    EXPECT_EQ(ReadBytes(here("日本語.txt")), euc + euc);
    EXPECT_EQ(ReadBytes(here("b.txt")), euc);  // guessed EUC-JP already: skipped
    EXPECT_EQ(ReadBytes(here("c.dat")), sjis);
    EXPECT_EQ(ReadBytes(here("ソ\\d.txt")), sjis);
}

std::wstring VersionValue(const std::vector<BYTE> &block, const std::wstring &name) {
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), (L"\\StringFileInfo\\041104b0\\" + name).c_str(), &value, &length) || !value)
        return L"<missing>";
    return static_cast<const wchar_t *>(value);
}

// The version block, read the way Explorer's properties page reads it.
TEST(KavoconvVersion, BlockNamesTheCommandLineConverter) {
    const std::string exe = KavoconvProgram();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &handle);
    ASSERT_NE(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, block.data()));
    void *value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO));
    const VS_FIXEDFILEINFO *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) && length == 4);
    EXPECT_EQ(static_cast<const WORD *>(value)[0], 0x0411);  // Japanese
    EXPECT_EQ(static_cast<const WORD *>(value)[1], 0x04B0);  // code page 1200 (UTF-16)
    const struct {
        const wchar_t *name, *text;
    } values[] = {
        {L"ProductName", L"かぼ"},
        {L"FileDescription", L"かぼ コマンドライン文字コード変換プログラム"},
        {L"FileVersion", L"1.01"},
        {L"ProductVersion", L"1.01"},
        {L"InternalName", L"kavoconv"},
        {L"OriginalFilename", L"kavoconv.exe"},
        {L"LegalCopyright", L"Copyright (c) 2026 The Kavo developers"},
    };
    for (const auto &v : values) EXPECT_TRUE(VersionValue(block, v.name) == v.text) << v.name;
}

}  // namespace
