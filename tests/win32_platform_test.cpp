// The conversion job on real files through the Win32 platform (run under Wine): the
// share modes, the write-back by copy, names equal but for case, and the refusals that
// other programs holding the files and file attributes cause.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "byte_compare.h"
#include "convert_file.h"
#include "platform.h"
#include "program_state.h"
#include "reference_transcoder.h"
#include "transcode.h"
#include "win32_tree.h"
#include "written_ahead.h"

namespace {

std::vector<std::string> messages;

void Capture(PlatformWindow, const char *text, const char *, PlatformIcon) { messages.push_back(text); }

std::vector<std::string> Just(const char *text) { return std::vector<std::string>{text}; }

std::string Read(const std::string &path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void Write(const std::string &path, const std::string &data) {
    std::ofstream(path.c_str(), std::ios::binary) << data;
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Another program (kavo_file_holder.exe, beside this one) holding a file open with the
// access and sharing given, until this object goes.
class OtherProgram {
public:
    OtherProgram(const std::string &path, const char *access, const char *share) {
        char exe[MAX_PATH + 1];
        DWORD length = GetModuleFileNameA(NULL, exe, MAX_PATH);
        std::string holder = std::string(exe, length);
        holder = holder.substr(0, holder.find_last_of('\\') + 1) + "kavo_file_holder.exe";
        std::string id = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count_);
        ready_ = CreateEventA(NULL, TRUE, FALSE, ("KavoHolderReady-" + id).c_str());
        quit_ = CreateEventA(NULL, TRUE, FALSE, ("KavoHolderQuit-" + id).c_str());
        std::string command = "\"" + holder + "\" \"" + path + "\" " + access + " " + share + " KavoHolderReady-" + id +
                              " KavoHolderQuit-" + id;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        started_ = CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process_) != 0;
        if (!started_) return;
        // Either the file is open, or the program has given up; neither takes long.
        HANDLE either[] = {ready_, process_.hProcess};
        holding_ = WaitForMultipleObjects(2, either, FALSE, 30000) == WAIT_OBJECT_0;
    }
    ~OtherProgram() {
        SetEvent(quit_);
        if (started_) {
            WaitForSingleObject(process_.hProcess, 30000);
            CloseHandle(process_.hThread);
            CloseHandle(process_.hProcess);
        }
        CloseHandle(ready_);
        CloseHandle(quit_);
    }
    bool Holding() const { return holding_; }

private:
    static int count_;
    HANDLE ready_, quit_;
    PROCESS_INFORMATION process_ = {};
    bool started_ = false, holding_ = false;
};
int OtherProgram::count_ = 0;

// Whether the system refuses to write a file marked read-only. Wine run by root does not:
// it keeps the attribute as Unix permissions, which do not bind root.
bool ReadOnlyIsEnforced(const std::string &dir) {
    std::string probe = dir + "\\probe";
    Write(probe, "x");
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(probe.c_str());
    return h == INVALID_HANDLE_VALUE;
}

class Win32JobTest : public testing::Test {
protected:
    std::string dir, source, dest, temp, text, converted;
    char savedCwd[MAX_PATH + 1];

    void SetUp() override {
        char base[MAX_PATH + 1], unique[MAX_PATH + 1];
        ASSERT_NE(GetTempPathA(sizeof base, base), 0u);
        ASSERT_NE(GetTempFileNameA(base, "kv", 0, unique), 0u);
        DeleteFileA(unique);
        dir = unique;
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), NULL));
        ASSERT_TRUE(CreateDirectoryA((dir + "\\prog").c_str(), NULL));
        source = dir + "\\text.txt";
        dest = dir + "\\out.txt";
        temp = dir + "\\prog\\Temp.dat";
        text = "\x82\xA0\x8A\xBF\r\n\x95\x5C\xB1\r\n";
        for (int i = 0; i < 18; i++) text += text;  // 2^18 copies: several blocks
        converted = ReferenceConvert(text, SjisToEuc, 1);
        Write(source, text);
        lstrcpyA(ProgramState.programDir, (dir + "\\prog\\").c_str());
        ProgramState.direction = SjisToEuc;
        ProgramState.convertNewlines = 1;
        GetCurrentDirectoryA(sizeof savedCwd, savedCwd);
        messages.clear();
        PlatformSetMessageHook(Capture);
    }

    void TearDown() override {
        PlatformSetMessageHook(NULL);
        SetCurrentDirectoryA(savedCwd);
        RemoveTree(dir);
    }
};

// CreateFileA with no sharing fails on the source, which is open with read sharing only,
// whatever the name it is reached by.
TEST_F(Win32JobTest, ShareModesRefuseTheOpenSource) {
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    std::string slashes = source;
    for (char &c : slashes)
        if (c == '\\') c = '/';
    std::vector<std::string> others = {"text.txt", ".\\text.txt", dir + "\\prog\\..\\text.txt", dir + "\\.\\text.txt",
                                       slashes};
    char shortName[MAX_PATH + 1];
    if (GetShortPathNameA(source.c_str(), shortName, sizeof shortName) && lstrcmpiA(shortName, source.c_str()) != 0)
        others.push_back(shortName);
    for (const std::string &other : others) {
        messages.clear();
        ConvertFile(NULL, source.c_str(), other.c_str());
        EXPECT_EQ(messages, Just(MessageTable[MSG_DEST_OPEN_FAILED])) << other;
        EXPECT_TRUE(SameBytes(text, Read(source))) << other;
    }
    messages.clear();
    ConvertFile(NULL, "text.txt", source.c_str());
    EXPECT_EQ(messages, Just(MessageTable[MSG_DEST_OPEN_FAILED]));
    EXPECT_TRUE(SameBytes(text, Read(source)));
}

TEST_F(Win32JobTest, ToAnotherFileAndInPlace) {
    Write(dest, "an older and longer destination, truncated by the conversion");
    ConvertFile(NULL, source.c_str(), dest.c_str());
    EXPECT_EQ(messages, Just(CONVERSION_COMPLETED));
    EXPECT_TRUE(SameBytes(converted, Read(dest)));
    EXPECT_TRUE(SameBytes(text, Read(source)));

    // In place: through prog\Temp.dat, copied back over the source, then deleted.
    messages.clear();
    ConvertFile(NULL, source.c_str(), source.c_str());
    EXPECT_EQ(messages, Just(CONVERSION_COMPLETED));
    EXPECT_TRUE(SameBytes(converted, Read(source)));
    EXPECT_FALSE(Exists(temp));
}

// Output to a disk file is written ahead, by a thread, while the next block converts: the
// bytes are the oracle's in every setting, and a write the system refuses is a failed
// write, with its reason. A pipe's output is written as before.
TEST_F(Win32JobTest, FileToFileWrittenAhead) {
    ExpectEverySettingWrittenAhead(source, dest, text, Read);

    HANDLE readOnly = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(readOnly, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(PlatformWritesAhead(readOnly));
    PlatformWriteStart(readOnly, (const unsigned char *)"x", 1);
    EXPECT_FALSE(PlatformWriteFinish(readOnly));
    EXPECT_EQ(PlatformLastFailure().code, (long)ERROR_ACCESS_DENIED);
    CloseHandle(readOnly);

    HANDLE reader, writer;
    ASSERT_TRUE(CreatePipe(&reader, &writer, NULL, 0));
    EXPECT_FALSE(PlatformWritesAhead(writer));
    CloseHandle(reader);
    CloseHandle(writer);
}

// lstrcmpiA takes the two names as one: in place, and no second file appears.
TEST_F(Win32JobTest, NamesThatDifferOnlyInCase) {
    std::string upper = dir + "\\TEXT.TXT";
    ConvertFile(NULL, source.c_str(), upper.c_str());
    EXPECT_EQ(messages, Just(CONVERSION_COMPLETED));
    EXPECT_TRUE(SameBytes(converted, Read(source)));
    EXPECT_FALSE(Exists(temp));
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*.txt").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    int files = 1;
    while (FindNextFileA(search, &found)) files++;
    FindClose(search);
    EXPECT_EQ(files, 1);
}

// Refusals that only the real system produces; each leaves the source as it was.
TEST_F(Win32JobTest, DestinationReadOnly) {
    if (!ReadOnlyIsEnforced(dir)) GTEST_SKIP() << "this system lets the read-only attribute be overridden";
    Write(dest, "read-only");
    ASSERT_TRUE(SetFileAttributesA(dest.c_str(), FILE_ATTRIBUTE_READONLY));
    ConvertFile(NULL, source.c_str(), dest.c_str());
    EXPECT_EQ(messages, Just(MessageTable[MSG_DEST_OPEN_FAILED]));
    EXPECT_TRUE(SameBytes("read-only", Read(dest)));
    EXPECT_TRUE(SameBytes(text, Read(source)));
}

TEST_F(Win32JobTest, DestinationHeldOpenWithoutSharing) {
    Write(dest, "held");
    {
        OtherProgram other(dest, "read", "-");
        ASSERT_TRUE(other.Holding());
        ConvertFile(NULL, source.c_str(), dest.c_str());
    }
    EXPECT_EQ(messages, Just(MessageTable[MSG_DEST_OPEN_FAILED]));
    EXPECT_TRUE(SameBytes("held", Read(dest)));
    EXPECT_TRUE(SameBytes(text, Read(source)));
}

TEST_F(Win32JobTest, SourceHeldOpenForWriting) {
    {
        OtherProgram writer(source, "write", "rw");
        ASSERT_TRUE(writer.Holding());
        ConvertFile(NULL, source.c_str(), dest.c_str());
        EXPECT_EQ(messages, Just(MessageTable[MSG_SOURCE_NOT_FOUND]));
        messages.clear();
        ConvertFile(NULL, source.c_str(), source.c_str());
        EXPECT_EQ(messages, Just(MessageTable[MSG_SOURCE_NOT_FOUND]));
    }
    EXPECT_FALSE(Exists(dest));
    EXPECT_FALSE(Exists(temp));
    EXPECT_TRUE(SameBytes(text, Read(source)));
}

TEST_F(Win32JobTest, TempDatHeldOpenWithoutSharing) {
    {
        OtherProgram other(temp, "read", "-");
        ASSERT_TRUE(other.Holding());
        ConvertFile(NULL, source.c_str(), source.c_str());
    }
    EXPECT_EQ(messages, Just(TEMP_CREATE_FAILED));
    EXPECT_TRUE(SameBytes(text, Read(source)));
    EXPECT_TRUE(SameBytes("", Read(temp)));
}

// Another program reads the source and lets nobody write it: the conversion reads it
// too, but the copy back over it fails, and Temp.dat keeps the converted text.
TEST_F(Win32JobTest, CopyBackOverASourceOthersKeepFromWriting) {
    {
        OtherProgram reader(source, "read", "r");
        ASSERT_TRUE(reader.Holding());
        ConvertFile(NULL, source.c_str(), source.c_str());
    }
    EXPECT_EQ(messages, (std::vector<std::string>{WRITE_BACK_FAILED, CONVERSION_COMPLETED}));
    EXPECT_TRUE(SameBytes(text, Read(source)));
    EXPECT_TRUE(SameBytes(converted, Read(temp)));
}

}  // namespace
