// The path helpers: examples, edges, Shift_JIS names and buffer limits.
#include <string.h>

#include <string>

#include "gtest/gtest.h"
#include "path_utils.h"
#include "platform.h"

namespace {

const unsigned char GUARD = 0xA5;

// Output buffer of MAX_PATH bytes followed by guard bytes that must survive every call.
struct GuardedBuffer {
    char bytes[MAX_PATH + 16];
    GuardedBuffer() { memset(bytes, GUARD, sizeof bytes); }
    int GuardsIntact() const {
        for (size_t i = MAX_PATH; i < sizeof bytes; ++i)
            if (static_cast<unsigned char>(bytes[i]) != GUARD) return 0;
        return 1;
    }
};

std::string DirPart(const std::string &path, int *result = nullptr) {
    GuardedBuffer out;
    int got = GetDirPart(path.c_str(), out.bytes);
    if (result) *result = got;
    EXPECT_TRUE(out.GuardsIntact()) << "for " << path.size() << "-byte path";
    return std::string(out.bytes);
}

TEST(GetDirPartTest, KeepsEverythingUpToTheLastBackslash) {
    EXPECT_EQ("C:\\tools\\", DirPart("C:\\tools\\conv.exe"));
    EXPECT_EQ("C:\\", DirPart("C:\\conv.exe"));
    EXPECT_EQ("", DirPart("conv.exe"));
    EXPECT_EQ("C:\\tools\\", DirPart("C:\\tools\\"));
    EXPECT_EQ("\\\\server\\share\\", DirPart("\\\\server\\share\\a.txt"));
    EXPECT_EQ("", DirPart(""));
    EXPECT_EQ("", DirPart("a"));
    EXPECT_EQ("\\", DirPart("\\"));
}

TEST(GetDirPartTest, LeavesTheBytesAfterTheTerminatorAlone) {
    char out[MAX_PATH + 16];
    memset(out, GUARD, sizeof out);
    ASSERT_EQ(1, GetDirPart("C:\\a\\b.txt", out));
    EXPECT_STREQ("C:\\a\\", out);
    for (size_t i = 6; i < sizeof out; ++i)
        ASSERT_EQ(GUARD, static_cast<unsigned char>(out[i])) << "offset " << i;
}

TEST(GetDirPartTest, WorksInPlace) {
    char buffer[MAX_PATH] = "C:\\dir\\file.txt";
    EXPECT_EQ(1, GetDirPart(buffer, buffer));
    EXPECT_STREQ("C:\\dir\\", buffer);
}

// A path and its terminator must fit in MAX_PATH bytes: 259 characters do, 260 do not,
// and a refused append leaves the path as it was and the bytes after the buffer alone.
TEST(AppendPathTest, AppendsOnlyWhatFits) {
    GuardedBuffer out;
    std::string base(MAX_PATH - 9, 'd');
    strcpy(out.bytes, base.c_str());
    EXPECT_EQ(0, AppendPath(out.bytes, "Temp.data"));
    EXPECT_EQ(base, out.bytes);
    EXPECT_EQ(1, AppendPath(out.bytes, "Temp.dat"));
    EXPECT_EQ(base + "Temp.dat", out.bytes);
    EXPECT_EQ(0, AppendPath(out.bytes, "x"));
    EXPECT_EQ(1, AppendPath(out.bytes, ""));
    EXPECT_EQ(MAX_PATH - 1, (int)strlen(out.bytes));
    EXPECT_TRUE(out.GuardsIntact());
}

// 表 = 95 5C, ソ = 83 5C, 能 = 94 5C in Shift_JIS. Where the system code page is a
// double-byte one, their 0x5C is part of the character; elsewhere it is a backslash.
TEST(GetDirPartTest, ShiftJisSecondByteIsNotASeparator) {
    const std::string hyou = "\x95\x5C", so = "\x83\x5C", nou = "\x94\x5C";
    if (PlatformIsLeadByte(0x95)) {
        EXPECT_EQ("C:\\tools\\", DirPart("C:\\tools\\" + hyou + ".exe"));
        EXPECT_EQ("C:\\" + so + "\\", DirPart("C:\\" + so + "\\" + nou + hyou + so));
        EXPECT_EQ("", DirPart(hyou + so + ".txt"));
        // A real backslash right after the character still counts.
        EXPECT_EQ(hyou + "\\", DirPart(hyou + "\\x.txt"));
        // A lead byte cut off by the end of the string ends the scan at the terminator.
        EXPECT_EQ("C:\\a\\", DirPart("C:\\a\\\x95"));
        // Half-width katakana (0xA1-0xDF) are single bytes: the backslash after one counts.
        EXPECT_EQ("C:\\\xB1\\", DirPart("C:\\\xB1\\x"));
    } else {
        EXPECT_EQ("C:\\tools\\" + hyou, DirPart("C:\\tools\\" + hyou + ".exe"));
        EXPECT_EQ("", DirPart("\xE8\xA1\xA8.txt"));  // 表 in UTF-8: no 0x5C anywhere
    }
}

TEST(GetDirPartTest, DirectoryPartMustFitInMaxPath) {
    int result = 0;
    // 258 bytes, a backslash, then a name: the 259-byte part and its terminator fit.
    std::string fits(MAX_PATH - 2, 'd');
    EXPECT_EQ(fits + "\\", DirPart(fits + "\\name.txt", &result));
    EXPECT_EQ(1, result);
    // One byte more and it does not: empty, not cut.
    std::string tooLong(MAX_PATH - 1, 'd');
    EXPECT_EQ("", DirPart(tooLong + "\\name.txt", &result));
    EXPECT_EQ(0, result);
    // A long name after a short directory is no problem.
    EXPECT_EQ("C:\\", DirPart("C:\\" + std::string(600, 'n'), &result));
    EXPECT_EQ(1, result);
}

#ifdef _WIN32
TEST(GetModuleDirTest, GivesTheExecutablesDirectoryOrNothing) {
    char exe[MAX_PATH];
    ASSERT_NE(0, PlatformGetExecutablePath(exe, sizeof exe));
    GuardedBuffer out;
    EXPECT_EQ(1, GetModuleDir(out.bytes));
    EXPECT_TRUE(out.GuardsIntact());
    size_t length = strlen(out.bytes);
    EXPECT_EQ(0, strncmp(exe, out.bytes, length)) << out.bytes << " is not a prefix of " << exe;
    if (length > 0) {
        EXPECT_EQ('\\', out.bytes[length - 1]);
    }
    EXPECT_EQ(nullptr, strchr(exe + length, '\\')) << "cut before the last separator of " << exe;
    EXPECT_NE(0u, length) << "no folder at all in " << exe;
}
#endif

}  // namespace
