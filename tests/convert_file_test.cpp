// The conversion job over the in-memory platform: both routes, each row of the failure
// table with the files afterwards, the order of messages and closes, and the temporary
// path's length check.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "byte_compare.h"
#include "convert_file.h"
#include "fake_platform.h"
#include "program_state.h"
#include "reference_transcoder.h"
#include "test_text.h"

namespace {

const char SOURCE[] = "C:\\Data\\text.txt";
const char DEST[] = "C:\\Data\\out.txt";
const char SOURCE_OTHER_CASE[] = "c:\\DATA\\Text.TXT";
const char PROGRAM_DIR[] = "C:\\Kavo\\";
const char TEMP[] = "C:\\Kavo\\Temp.dat";
const char OLD_DEST[] = "what the destination held before";

PlatformWindow Owner() { return (PlatformWindow)(intptr_t)0x4D2; }

std::string Message(const char *text) { return std::string("message ") + text; }
std::string Op(const char *op, const char *name) { return std::string(op) + " " + name; }

class ConvertFileTest : public testing::Test {
protected:
    std::string input, converted;

    void SetUp() override {
        fake::Reset();
        Fresh();
    }

    void TearDown() override { CheckHandles(); }

    // Checks what the last conversion did with its handles and messages, then sets up the
    // files for the next one.
    void Fresh() {
        CheckHandles();
        fake::Reset();
        strcpy(ProgramState.programDir, PROGRAM_DIR);
        ProgramState.direction = SjisToEuc;
        ProgramState.convertNewlines = 1;
        std::mt19937 random(5);
        input = HazardText(random, 2 * TRANSCODE_BLOCK_SIZE + 100);
        converted = ReferenceConvert(input, SjisToEuc, 1);
        fake::SetFile(SOURCE, input);
        fake::SetFile(DEST, OLD_DEST);
    }

    void CheckHandles() {
        EXPECT_EQ(fake::HandleProblems(), "");
        EXPECT_EQ(fake::OpenHandles(), 0);
        for (const fake::Message &m : fake::Messages()) EXPECT_EQ(m.owner, Owner());
    }

    void ExpectTrace(const std::vector<std::string> &expected) {
        EXPECT_EQ(fake::Trace(), expected);
    }
};

TEST_F(ConvertFileTest, ToAnotherFile) {
    ConvertFile(Owner(), SOURCE, DEST);
    ExpectTrace({Op("open", SOURCE), Op("create", DEST), Op("close", SOURCE), Op("close", DEST),
                 Message(CONVERSION_COMPLETED)});
    EXPECT_TRUE(SameBytes(converted, fake::File(DEST)));  // the old contents truncated away
    EXPECT_TRUE(SameBytes(input, fake::File(SOURCE)));
    EXPECT_FALSE(fake::HasFile(TEMP));
    ASSERT_EQ(fake::Messages().size(), 1u);
    EXPECT_EQ(fake::Messages()[0].caption, COMPLETED_CAPTION);
    EXPECT_EQ(fake::Messages()[0].icon, PLATFORM_ICON_INFORMATION);
}

// Names equal but for letter case are one file: the text goes through Temp.dat, is
// copied over the source and Temp.dat is deleted (a stale one is simply overwritten).
TEST_F(ConvertFileTest, InPlaceByAnEqualName) {
    fake::SetFile(TEMP, "left by an earlier conversion");
    ConvertFile(Owner(), SOURCE, SOURCE_OTHER_CASE);
    ExpectTrace({Op("open", SOURCE), Op("create", TEMP), Op("close", SOURCE), Op("close", TEMP),
                 std::string("copy ") + TEMP + " " + SOURCE_OTHER_CASE, Op("delete", TEMP),
                 Message(CONVERSION_COMPLETED)});
    EXPECT_TRUE(SameBytes(converted, fake::File(SOURCE)));
    EXPECT_FALSE(fake::HasFile(TEMP));
}

// Error boxes come while the files they speak of are still open; the completion box
// after both are closed.
TEST_F(ConvertFileTest, FailureTable) {
    const std::string error = MessageTable[MSG_ERROR_CAPTION];

    // The source cannot be opened: missing, refused, or no name at all.
    for (const char *source : {"C:\\Data\\missing.txt", "", SOURCE}) {
        Fresh();
        if (*source && strcmp(source, SOURCE) == 0) fake::GetFaults().openSource = SOURCE;
        ConvertFile(Owner(), source, DEST);
        ExpectTrace({Op("open", source) + " FAILED", Message(MessageTable[MSG_SOURCE_NOT_FOUND])});
        EXPECT_EQ(fake::File(DEST), OLD_DEST);
        EXPECT_EQ(fake::Messages()[0].caption, error);
        EXPECT_EQ(fake::Messages()[0].icon, PLATFORM_ICON_ERROR);
        EXPECT_EQ(fake::Messages()[0].openHandles, 0);
    }

    // The destination cannot be created (refused, or an empty name).
    for (const char *dest : {DEST, ""}) {
        Fresh();
        fake::GetFaults().createOutput = DEST;
        ConvertFile(Owner(), SOURCE, dest);
        ExpectTrace({Op("open", SOURCE), Op("create", dest) + " FAILED", Message(MessageTable[MSG_DEST_OPEN_FAILED]),
                     Op("close", SOURCE)});
        EXPECT_EQ(fake::File(DEST), OLD_DEST);
        EXPECT_EQ(fake::Messages()[0].openHandles, 1);
    }

    // Temp.dat cannot be created.
    Fresh();
    fake::GetFaults().createOutput = TEMP;
    ConvertFile(Owner(), SOURCE, SOURCE);
    ExpectTrace({Op("open", SOURCE), Op("create", TEMP) + " FAILED", Message(TEMP_CREATE_FAILED), Op("close", SOURCE)});
    EXPECT_TRUE(SameBytes(input, fake::File(SOURCE)));
    EXPECT_FALSE(fake::HasFile(TEMP));

    // A read or a write fails in the middle: the box while both are open, then the source
    // is closed, then the output; the output keeps exactly what was written before.
    for (bool inPlace : {false, true}) {
        const char *dest = inPlace ? SOURCE : DEST;
        const char *output = inPlace ? TEMP : DEST;
        for (bool reading : {true, false}) {
            Fresh();
            size_t k = TRANSCODE_BLOCK_SIZE + 7;
            std::string partial;
            ReferenceTranscode(input, SjisToEuc, 1, &partial, reading ? k : NO_FAULT, reading ? NO_FAULT : k);
            (reading ? fake::GetFaults().readAt : fake::GetFaults().writeAt) = k;
            ConvertFile(Owner(), SOURCE, dest);
            SCOPED_TRACE(std::string(inPlace ? "in place, " : "to another file, ") + (reading ? "read" : "write"));
            ExpectTrace({Op("open", SOURCE), Op("create", output),
                         Message(MessageTable[reading ? MSG_READ_FAILED : MSG_WRITE_FAILED]), Op("close", SOURCE),
                         Op("close", output)});
            EXPECT_EQ(fake::Messages()[0].openHandles, 2);
            EXPECT_TRUE(SameBytes(partial, fake::File(output)));
            EXPECT_TRUE(SameBytes(input, fake::File(SOURCE)));
        }
    }

    // The copy back fails: two boxes in order, and Temp.dat holds the converted text.
    Fresh();
    fake::GetFaults().copy = true;
    ConvertFile(Owner(), SOURCE, SOURCE);
    ExpectTrace({Op("open", SOURCE), Op("create", TEMP), Op("close", SOURCE), Op("close", TEMP),
                 std::string("copy ") + TEMP + " " + SOURCE + " FAILED", Message(WRITE_BACK_FAILED),
                 Message(CONVERSION_COMPLETED)});
    EXPECT_TRUE(SameBytes(converted, fake::File(TEMP)));
    EXPECT_TRUE(SameBytes(input, fake::File(SOURCE)));
    EXPECT_EQ(fake::Messages()[0].caption, error);
    EXPECT_EQ(fake::Messages()[1].caption, COMPLETED_CAPTION);
}

// Closing the output is where a late write error shows: it is reported as a failed write
// and nothing is copied back or called complete.
TEST_F(ConvertFileTest, FailedCloseOfTheOutput) {
    for (bool inPlace : {false, true}) {
        Fresh();
        const char *output = inPlace ? TEMP : DEST;
        fake::GetFaults().close = output;
        ConvertFile(Owner(), SOURCE, inPlace ? SOURCE : DEST);
        ExpectTrace({Op("open", SOURCE), Op("create", output), Op("close", SOURCE), Op("close", output) + " FAILED",
                     Message(MessageTable[MSG_WRITE_FAILED])});
        EXPECT_TRUE(SameBytes(input, fake::File(SOURCE)));
    }
}

// programDir + "Temp.dat" must fit in MAX_PATH bytes with its terminator; one byte more
// and the job reports that Temp.dat cannot be made, without trying to create anything.
TEST_F(ConvertFileTest, TemporaryPathLengthCheck) {
    for (size_t dirLength : {(size_t)MAX_PATH - 9, (size_t)MAX_PATH - 8, (size_t)MAX_PATH}) {
        Fresh();
        std::string dir = "C:\\" + std::string(dirLength - 4, 'd') + "\\";
        strcpy(ProgramState.programDir, dir.c_str());
        ConvertFile(Owner(), SOURCE, SOURCE);
        SCOPED_TRACE("programDir of " + std::to_string(dirLength) + " bytes");
        if (dirLength + 9 <= (size_t)MAX_PATH) {
            EXPECT_EQ(fake::Trace().back(), Message(CONVERSION_COMPLETED));
            EXPECT_TRUE(SameBytes(converted, fake::File(SOURCE)));
        } else {
            ExpectTrace({Op("open", SOURCE), Message(TEMP_CREATE_FAILED), Op("close", SOURCE)});
            EXPECT_TRUE(SameBytes(input, fake::File(SOURCE)));
        }
        EXPECT_EQ(fake::FileNames().size(), 2u);  // the source and the untouched destination
    }
    char path[MAX_PATH + 1 + 8];
    memset(path, 0x7E, sizeof path);
    EXPECT_EQ(BuildTempPath(path), 0);
    EXPECT_EQ(path[0], '\0');
    EXPECT_EQ(path[1], 0x7E);  // left empty, not half written
}

}  // namespace
