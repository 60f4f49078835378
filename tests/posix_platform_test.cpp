// The conversion job on real files through the POSIX platform: the destination that is
// the open source under another name is refused before anything is truncated; empty
// names and folders are refused without anything being written. And the transcoder on a
// real pipe whose writer pauses, and from file to file with its output written ahead.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>


#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "byte_compare.h"
#include "convert_file.h"
#include "platform.h"
#include "program_state.h"
#include "reference_transcoder.h"
#include "test_text.h"
#include "transcode.h"
#include "written_ahead.h"

// fallocate as a file system without it answers (ramfs, ext3, NFSv3), while a test says
// so: this definition stands in for the C library's in this program.
bool fallocateMissing;

extern "C" int fallocate(int fd, int mode, off_t offset, off_t length) {
    if (fallocateMissing) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return (int)syscall(SYS_fallocate, fd, mode, offset, length);
}

namespace {

std::vector<std::string> messages;

void Capture(PlatformWindow, const char *text, const char *, PlatformIcon) { messages.push_back(text); }

std::string Read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void Write(const std::string &path, const std::string &data) {
    std::ofstream(path, std::ios::binary) << data;
}

bool Exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

class PosixJobTest : public testing::Test {
protected:
    std::string dir, source, text;
    char savedCwd[4096];

    void SetUp() override {
        char pattern[] = "/tmp/kavo-job-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
        source = dir + "/text.txt";
        text = "\x82\xA0\x8A\xBF\r\n\x95\x5C\xB1\r\n";
        for (int i = 0; i < 18; i++) text += text;  // 2^18 copies: several blocks
        Write(source, text);
        ASSERT_NE(getcwd(savedCwd, sizeof savedCwd), nullptr);
        snprintf(ProgramState.programDir, sizeof ProgramState.programDir, "%s/", dir.c_str());
        ProgramState.direction = SjisToEuc;
        ProgramState.convertNewlines = 1;
        messages.clear();
        PlatformSetMessageHook(Capture);
    }

    void TearDown() override {
        PlatformSetMessageHook(nullptr);
        EXPECT_EQ(chdir(savedCwd), 0);
        std::string command = "rm -rf '" + dir + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
};

TEST_F(PosixJobTest, DestinationThatIsTheOpenSourceIsRefused) {
    ASSERT_EQ(symlink(source.c_str(), (dir + "/link.txt").c_str()), 0);
    ASSERT_EQ(link(source.c_str(), (dir + "/hard.txt").c_str()), 0);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    const std::string others[] = {"text.txt", "./text.txt", dir + "/sub/../text.txt", dir + "//text.txt",
                                  dir + "/link.txt", dir + "/hard.txt", "sub/../link.txt"};
    for (const std::string &dest : others) {
        messages.clear();
        ConvertFile(nullptr, source.c_str(), dest.c_str());
        EXPECT_EQ(messages, std::vector<std::string>{MessageTable[MSG_DEST_OPEN_FAILED]}) << dest;
        EXPECT_TRUE(SameBytes(text, Read(source))) << dest;
    }
    // A relative source, and the destination given in full.
    messages.clear();
    ConvertFile(nullptr, "text.txt", source.c_str());
    EXPECT_EQ(messages, std::vector<std::string>{MessageTable[MSG_DEST_OPEN_FAILED]});
    EXPECT_TRUE(SameBytes(text, Read(source)));
    // The source's descriptor was released each time: the file can be converted now.
    messages.clear();
    ConvertFile(nullptr, source.c_str(), (dir + "/out.txt").c_str());
    EXPECT_EQ(messages, std::vector<std::string>{CONVERSION_COMPLETED});
    EXPECT_TRUE(SameBytes(ReferenceConvert(text, SjisToEuc, 1), Read(dir + "/out.txt")));
}

TEST_F(PosixJobTest, InPlaceThroughTempDat) {
    ConvertFile(nullptr, source.c_str(), source.c_str());
    EXPECT_EQ(messages, std::vector<std::string>{CONVERSION_COMPLETED});
    EXPECT_TRUE(SameBytes(ReferenceConvert(text, SjisToEuc, 1), Read(source)));
    EXPECT_FALSE(Exists(dir + "/Temp.dat"));
}

// Real files and names the system refuses: a missing source, an empty name, a folder as
// source, destination or both (also with a final separator), a destination in a missing
// folder, a folder where Temp.dat would go, Temp.dat itself in place. Nothing is created
// and the source stays.
TEST_F(PosixJobTest, RefusedFiles) {
    ASSERT_EQ(mkdir((dir + "/prog").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/prog/Temp.dat").c_str(), 0755), 0);
    snprintf(ProgramState.programDir, sizeof ProgramState.programDir, "%s/prog/", dir.c_str());
    const std::string sub = dir + "/sub";
    struct {
        std::string source, dest;
        const char *message;
    } cases[] = {
        {dir + "/missing.txt", dir + "/out.txt", MessageTable[MSG_SOURCE_NOT_FOUND]},
        {"", dir + "/out.txt", MessageTable[MSG_SOURCE_NOT_FOUND]},
        {source, "", MessageTable[MSG_DEST_OPEN_FAILED]},
        {"", "", MessageTable[MSG_SOURCE_NOT_FOUND]},
        {sub, dir + "/out.txt", MessageTable[MSG_SOURCE_NOT_FOUND]},
        {sub + "/", dir + "/out.txt", MessageTable[MSG_SOURCE_NOT_FOUND]},
        {sub, sub, MessageTable[MSG_SOURCE_NOT_FOUND]},
        {source, sub, MessageTable[MSG_DEST_OPEN_FAILED]},
        {source, sub + "/", MessageTable[MSG_DEST_OPEN_FAILED]},
        {source, dir + "/none/out.txt", MessageTable[MSG_DEST_OPEN_FAILED]},
        {source, source, TEMP_CREATE_FAILED},
    };
    for (const auto &c : cases) {
        messages.clear();
        ConvertFile(nullptr, c.source.c_str(), c.dest.c_str());
        EXPECT_EQ(messages, std::vector<std::string>{c.message}) << "'" << c.source << "' -> '" << c.dest << "'";
        EXPECT_FALSE(Exists(dir + "/out.txt"));
        EXPECT_TRUE(SameBytes(text, Read(source)));
    }
    EXPECT_EQ(rmdir(sub.c_str()), 0) << "the folder is not empty";
    EXPECT_EQ(rmdir((dir + "/prog/Temp.dat").c_str()), 0) << "the folder is not empty";

    // Temp.dat itself in place: open as the source, it is not also truncated as the output.
    const std::string temp = dir + "/prog/Temp.dat";
    Write(temp, text);
    messages.clear();
    ConvertFile(nullptr, temp.c_str(), temp.c_str());
    EXPECT_EQ(messages, std::vector<std::string>{TEMP_CREATE_FAILED});
    EXPECT_TRUE(SameBytes(text, Read(temp)));
}

// Standard input is shared as a source is: once it is in use, no output created under
// its name, or under a name it was renamed to meanwhile, truncates the file it reads.
TEST_F(PosixJobTest, StandardInputIsNeverTruncatedAsAnOutput) {
    const int saved = dup(STDIN_FILENO);
    const int file = open(source.c_str(), O_RDONLY);
    ASSERT_GE(file, 0);
    ASSERT_EQ(dup2(file, STDIN_FILENO), STDIN_FILENO);
    close(file);
    const PlatformFile input = PlatformStandardInput();
    PlatformFile output;
    EXPECT_EQ(PlatformCreateOutput(source.c_str(), &output), 0);
    const std::string renamed = dir + "/renamed.txt";
    ASSERT_EQ(rename(source.c_str(), renamed.c_str()), 0);
    EXPECT_EQ(PlatformCreateOutput(renamed.c_str(), &output), 0);
    EXPECT_TRUE(SameBytes(text, Read(renamed)));
    PlatformClose(input);
    EXPECT_EQ(dup2(saved, STDIN_FILENO), STDIN_FILENO);
    close(saved);
}

// `tail -f log | kavoconv - -`: a line that comes down a pipe whose writer then waits is
// converted and written at once, not held back until a page's worth has come.
TEST(PosixStreamTest, PipeThatPausesGetsItsOutputAtOnce) {
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    ProgramState.direction = SjisToEuc;
    ProgramState.convertNewlines = 1;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(in[1]);
        close(out[0]);
        _exit(TranscodeStream(in[0], out[1]));
    }
    close(in[0]);
    close(out[1]);
    const std::string line = "\x82\xA0 line\r\n";
    ASSERT_EQ(write(in[1], line.data(), line.size()), (ssize_t)line.size());
    struct pollfd ready = {out[0], POLLIN, 0};
    std::string output;
    if (poll(&ready, 1, 10000) == 1) {
        char buffer[256];
        ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got > 0) output.assign(buffer, (size_t)got);
    }
    EXPECT_TRUE(SameBytes(ReferenceConvert(line, SjisToEuc, 1), output)) << "within 10 s of the line";
    close(in[1]);  // the end of the input: nothing more comes, and the transcoder completes
    char rest[256];
    EXPECT_EQ(read(out[0], rest, sizeof rest), 0);
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == Completed);
}

// Output to a regular file is written ahead, by a thread, while the next block converts:
// the bytes are the oracle's in every setting, and a write the system refuses is a failed
// write, with its reason. A pipe's output is written as before.
TEST(PosixStreamTest, FileToFileWrittenAhead) {
    char pattern[] = "/tmp/kavo-ahead-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern, source = dir + "/in.txt", dest = dir + "/out.txt";
    std::mt19937 random(5);
    const std::string input = HazardText(random, 3 * TRANSCODE_BLOCK_SIZE + 12345);
    Write(source, input);
    ExpectEverySettingWrittenAhead(source, dest, input, Read);

    int readOnly = open(source.c_str(), O_RDONLY);
    ASSERT_GE(readOnly, 0);
    ASSERT_TRUE(PlatformWritesAhead(readOnly));
    PlatformWriteStart(readOnly, (const unsigned char *)"x", 1);
    EXPECT_FALSE(PlatformWriteFinish(readOnly));
    EXPECT_EQ(PlatformLastFailure().code, EBADF);
    close(readOnly);

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    EXPECT_FALSE(PlatformWritesAhead(ends[1]));
    close(ends[0]);
    close(ends[1]);
    unlink(source.c_str());
    unlink(dest.c_str());
    rmdir(pattern);
}

// Reading in place hands over the file's bytes and moves on past them; a file cut short by
// another program while its bytes are in use is reported as bytes not had (not a crash),
// the position unmoved, and a pipe is declined.
struct InPlaceUse {
    std::string seen;
    const char *cutPath;  // cut this file to nothing, then touch the last byte
};

void UseInPlace(const unsigned char *bytes, unsigned long count, void *context) {
    InPlaceUse *use = (InPlaceUse *)context;
    if (use->cutPath) {
        EXPECT_EQ(truncate(use->cutPath, 0), 0);
        use->seen += (char)bytes[count - 1];  // no longer in the file: SIGBUS
        ADD_FAILURE() << "the byte was still there";
    }
    use->seen.assign((const char *)bytes, count);
}

TEST(PosixReadInPlaceTest, BytesHandedOverOrDeclined) {
    char pattern[] = "/tmp/kavo-inplace-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    std::string text(3 * 4096 + 100, 'x');
    for (size_t k = 0; k < text.size(); k++) text[k] = (char)('a' + k % 26);
    ASSERT_EQ(write(fd, text.data(), text.size()), (ssize_t)text.size());
    ASSERT_EQ(lseek(fd, 5000, SEEK_SET), 5000);  // a view then begins inside a page
    InPlaceUse use = {"", nullptr};
    unsigned long count = 0;
    ASSERT_TRUE(PlatformReadInPlace(fd, 4096, &count, UseInPlace, &use));
    EXPECT_EQ(count, 4096u);
    EXPECT_TRUE(SameBytes(text.substr(5000, 4096), use.seen));
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5000 + 4096);

    use.cutPath = pattern;
    EXPECT_FALSE(PlatformReadInPlace(fd, 1 << 20, &count, UseInPlace, &use));
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5000 + 4096);
    unsigned char byte;
    EXPECT_TRUE(PlatformRead(fd, &byte, 1, &count));
    EXPECT_EQ(count, 0u);  // what PlatformRead then meets: the end
    close(fd);
    unlink(pattern);

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "abc", 3), 3);
    use.cutPath = nullptr;
    EXPECT_FALSE(PlatformReadInPlace(ends[0], 4096, &count, UseInPlace, &use));
    close(ends[0]);
    close(ends[1]);
}

// Where the file system cannot reserve space, the copy over a file checks the free space:
// with room it copies; without, it fails for lack of space before the file changes.
TEST(PosixCopyOverTest, WithoutFallocateTheFreeSpaceIsChecked) {
    char pattern[] = "/tmp/kavo-copy-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern, from = dir + "/from", to = dir + "/to", small = dir + "/small";
    const std::string text(2 * 1024 * 1024, 'k'), old = "what the file held before";
    Write(from, text);
    Write(to, old);
    fallocateMissing = true;
    EXPECT_TRUE(PlatformCopyOver(from.c_str(), to.c_str()));
    EXPECT_TRUE(SameBytes(text, Read(to)));

    ASSERT_EQ(mkdir(small.c_str(), 0700), 0);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") == 0) {
        Write(small + "/to", old);
        EXPECT_FALSE(PlatformCopyOver(from.c_str(), (small + "/to").c_str()));
        EXPECT_EQ(PlatformLastFailure().kind, PLATFORM_FAILURE_NO_SPACE);
        EXPECT_TRUE(SameBytes(old, Read(small + "/to")));
        umount2(small.c_str(), MNT_DETACH);
    } else {
        std::cout << "cannot mount a tmpfs here (it needs root): a full file system not tested\n";
    }
    fallocateMissing = false;
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

}  // namespace
