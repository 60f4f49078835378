// The conversion job over the in-memory platform: both routes, the temporary path's
// length check, and a matrix in which each operation fails in turn, checked for the calls
// made, the messages, the handles and the files afterwards.
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

// Names the system refuses: the source missing or empty, the destination empty.
TEST_F(ConvertFileTest, MissingAndEmptyNames) {
    for (const char *source : {"C:\\Data\\missing.txt", ""}) {
        Fresh();
        ConvertFile(Owner(), source, DEST);
        ExpectTrace({Op("open", source) + " FAILED", Message(MessageTable[MSG_SOURCE_NOT_FOUND])});
        EXPECT_EQ(fake::Messages()[0].caption, MessageTable[MSG_ERROR_CAPTION]);
        EXPECT_EQ(fake::Messages()[0].icon, PLATFORM_ICON_ERROR);
    }
    Fresh();
    ConvertFile(Owner(), SOURCE, "");
    ExpectTrace({Op("open", SOURCE), "create  FAILED", Message(MessageTable[MSG_DEST_OPEN_FAILED]), Op("close", SOURCE)});
    EXPECT_TRUE(SameBytes(OLD_DEST, fake::File(DEST)));
}

// Standard input to standard output, both closed at the end like named files: a close
// of standard output that fails is a write failure, not a completion.
TEST_F(ConvertFileTest, StandardStreams) {
    for (bool closeFails : {false, true}) {
        Fresh();
        fake::SetFile("<stdin>", input);
        if (closeFails) fake::GetFaults().close = "<stdout>";
        std::vector<JobEvent> events;
        RunConversion(
            nullptr, nullptr, PROGRAM_DIR, JOB_ROUTE_DIRECT,
            [](void *seen, JobEvent event, const char *) { static_cast<std::vector<JobEvent> *>(seen)->push_back(event); },
            &events);
        EXPECT_EQ(events, std::vector<JobEvent>{closeFails ? JOB_WRITE_FAILED : JOB_COMPLETED});
        EXPECT_TRUE(SameBytes(converted, fake::File("<stdout>")));
        ExpectTrace({"close <stdin>", std::string("close <stdout>") + (closeFails ? " FAILED" : "")});
    }
}

// programDir + "Temp.dat" must fit in MAX_PATH bytes with its terminator; one byte more,
// or no programDir at all (a bare name would land in the current folder), and the job
// reports that Temp.dat cannot be made, without trying to create anything.
TEST_F(ConvertFileTest, TemporaryPathLengthCheck) {
    for (size_t dirLength : {(size_t)0, (size_t)MAX_PATH - 9, (size_t)MAX_PATH - 8, (size_t)MAX_PATH}) {
        Fresh();
        std::string dir = dirLength ? "C:\\" + std::string(dirLength - 4, 'd') + "\\" : "";
        strcpy(ProgramState.programDir, dir.c_str());
        ConvertFile(Owner(), SOURCE, SOURCE);
        SCOPED_TRACE("programDir of " + std::to_string(dirLength) + " bytes");
        if (dirLength > 0 && dirLength + 9 <= (size_t)MAX_PATH) {
            EXPECT_EQ(fake::Trace().back(), Message(CONVERSION_COMPLETED));
            EXPECT_TRUE(SameBytes(converted, fake::File(SOURCE)));
        } else {
            ExpectTrace({Op("open", SOURCE), Message(TEMP_CREATE_FAILED), Op("close", SOURCE)});
            EXPECT_TRUE(SameBytes(input, fake::File(SOURCE)));
        }
        EXPECT_EQ(fake::FileNames().size(), 2u);  // the source and the untouched destination
    }
    // Built in a buffer of MAX_PATH + 1 bytes followed by guard bytes: an exact fit ends
    // at the last byte, one more leaves it empty; the guard stays untouched either way.
    struct {
        char path[MAX_PATH + 1];
        char guard[8];
    } buffer;
    for (size_t dirLength : {(size_t)MAX_PATH - 9, (size_t)MAX_PATH - 8}) {
        memset(&buffer, 0x7E, sizeof buffer);
        std::string dir(dirLength, 'd');
        bool fits = dirLength == (size_t)MAX_PATH - 9;
        EXPECT_EQ(BuildTempPath(dir.c_str(), buffer.path), fits ? 1 : 0);
        EXPECT_EQ(std::string(buffer.path), fits ? dir + TEMP_FILE_NAME : "");
        EXPECT_EQ(std::string(buffer.guard, sizeof buffer.guard), std::string(sizeof buffer.guard, 0x7E));
    }
}

// The fault matrix: each operation of the job fails in turn, on both routes and in both
// directions, reads and writes at offsets around the first block edge. The expected
// calls follow from the order of operations. Afterwards the source is unchanged unless
// an in-place conversion completed, the output keeps exactly what was written before
// the failure, and no other file is touched.
enum FaultKind {
    NO_FAULT_KIND, OPEN_SOURCE, CREATE_OUTPUT, READ_AT, WRITE_AT, CLOSE_SOURCE, CLOSE_OUTPUT, COPY_BACK, DELETE_TEMP
};
const char *const FAULT_NAMES[] = {"Nothing", "OpenSource", "CreateOutput", "ReadAt", "WriteAt",
                                   "CloseSource", "CloseOutput", "CopyBack", "DeleteTemp"};

// Offsets, resolved against the input (reads) or the first write call (writes): the
// start, one byte in, inside, either side of the block edge, the last byte, the end.
enum Where { START, SECOND, INSIDE, BEFORE_EDGE, AT_EDGE, AFTER_EDGE, LAST, END };
const char *const WHERE_NAMES[] = {"Start", "Second", "Inside", "BeforeEdge", "AtEdge", "AfterEdge", "Last", "End"};

struct MatrixCase {
    bool inPlace;
    unsigned char direction;
    FaultKind fault;
    Where where;
};

std::string CaseName(const testing::TestParamInfo<MatrixCase> &info) {
    const MatrixCase &c = info.param;
    std::string name = std::string(c.inPlace ? "InPlace" : "ToOther") + (c.direction ? "EucToSjis" : "SjisToEuc") +
                       FAULT_NAMES[c.fault];
    if (c.fault == READ_AT || c.fault == WRITE_AT) name += WHERE_NAMES[c.where];
    return name;
}

std::vector<MatrixCase> AllCases() {
    std::vector<MatrixCase> cases;
    for (bool inPlace : {false, true})
        for (unsigned char direction : {0, 1})
            for (int f = NO_FAULT_KIND; f <= DELETE_TEMP; f++)
                for (int w = START; w <= END; w++)
                    if (w == START || f == READ_AT || f == WRITE_AT)
                        cases.push_back(MatrixCase{inPlace, direction, (FaultKind)f, (Where)w});
    return cases;
}

// The platform calls and messages the job must make, in order, when `c.fault` happens.
std::vector<std::string> ExpectedCalls(const MatrixCase &c, bool streamFails, const std::string &output,
                                       const std::string &dest) {
    auto failed = [](bool fails) { return std::string(fails ? " FAILED" : ""); };
    std::vector<std::string> calls = {Op("open", SOURCE) + failed(c.fault == OPEN_SOURCE)};
    if (c.fault == OPEN_SOURCE) {
        calls.push_back(Message(MessageTable[MSG_SOURCE_NOT_FOUND]));
        return calls;
    }
    calls.push_back(Op("create", output.c_str()) + failed(c.fault == CREATE_OUTPUT));
    if (c.fault == CREATE_OUTPUT) {
        calls.push_back(Message(c.inPlace ? TEMP_CREATE_FAILED : MessageTable[MSG_DEST_OPEN_FAILED]));
        calls.push_back(Op("close", SOURCE));
        return calls;
    }
    if (streamFails) {
        calls.push_back(Message(MessageTable[c.fault == READ_AT ? MSG_READ_FAILED : MSG_WRITE_FAILED]));
        calls.push_back(Op("close", SOURCE));
        calls.push_back(Op("close", output.c_str()));
        return calls;
    }
    calls.push_back(Op("close", SOURCE) + failed(c.fault == CLOSE_SOURCE));
    calls.push_back(Op("close", output.c_str()) + failed(c.fault == CLOSE_OUTPUT));
    if (c.fault == CLOSE_OUTPUT) {
        calls.push_back(Message(MessageTable[MSG_WRITE_FAILED]));
        return calls;
    }
    if (c.inPlace) {
        calls.push_back("copy " + output + " " + dest + failed(c.fault == COPY_BACK));
        if (c.fault == COPY_BACK)
            calls.push_back(Message(WRITE_BACK_FAILED));
        else
            calls.push_back(Op("delete", TEMP) + failed(c.fault == DELETE_TEMP));
    }
    calls.push_back(Message(CONVERSION_COMPLETED));
    return calls;
}

class FaultMatrix : public ConvertFileTest, public testing::WithParamInterface<MatrixCase> {};

TEST_P(FaultMatrix, OutcomeAndFiles) {
    const MatrixCase c = GetParam();
    const std::string dest = c.inPlace ? SOURCE_OTHER_CASE : DEST;
    const std::string output = c.inPlace ? TEMP : DEST;
    // A run without faults shows where the first write call ends: the edge writes see.
    ProgramState.direction = c.direction;
    ConvertFile(Owner(), SOURCE, DEST);
    const size_t firstWrite = fake::WriteCalls().at(0);
    Fresh();
    ProgramState.direction = c.direction;
    converted = ReferenceConvert(input, c.direction, 1);
    const size_t inputEdge = TRANSCODE_BLOCK_SIZE;
    const size_t edge = c.fault == READ_AT ? inputEdge : firstWrite;
    const size_t length = c.fault == READ_AT ? input.size() : converted.size();
    const size_t offsets[] = {0, 1, edge / 2, edge - 1, edge, edge + 1, length - 1, length};
    const size_t k = offsets[c.where];

    fake::Faults &f = fake::GetFaults();
    switch (c.fault) {
    case OPEN_SOURCE: f.openSource = SOURCE; break;
    case CREATE_OUTPUT: f.createOutput = output; break;
    case READ_AT: f.readAt = k; break;
    case WRITE_AT: f.writeAt = k; break;
    case CLOSE_SOURCE: f.close = SOURCE; break;
    case CLOSE_OUTPUT: f.close = output; break;
    case COPY_BACK: f.copy = true; break;
    case DELETE_TEMP: f.deleteFile = true; break;
    case NO_FAULT_KIND: break;
    }
    ConvertFile(Owner(), SOURCE, dest.c_str());

    bool streamFails = c.fault == READ_AT || (c.fault == WRITE_AT && k < converted.size());
    bool convertedInPlace = c.inPlace && !streamFails &&
                            (c.fault == NO_FAULT_KIND || c.fault == WRITE_AT || c.fault == CLOSE_SOURCE ||
                             c.fault == DELETE_TEMP);
    std::vector<std::string> trace = ExpectedCalls(c, streamFails, output, dest);
    ExpectTrace(trace);
    std::string expectedOutput = converted;
    if (c.fault == READ_AT) ReferenceTranscode(input, c.direction, 1, &expectedOutput, k);
    if (c.fault == WRITE_AT) expectedOutput = converted.substr(0, k);

    // Error boxes come while the files they speak of are open; the others after closing.
    std::vector<int> openAtMessages, expectedOpen;
    int open = 0;
    for (const std::string &call : trace) {
        bool ok = call.find(" FAILED") == std::string::npos;
        if (ok && (call.compare(0, 5, "open ") == 0 || call.compare(0, 7, "create ") == 0)) open++;
        if (call.compare(0, 6, "close ") == 0) open--;  // a failed close still closes
        if (call.compare(0, 8, "message ") == 0) expectedOpen.push_back(open);
    }
    for (const fake::Message &m : fake::Messages()) openAtMessages.push_back(m.openHandles);
    EXPECT_EQ(openAtMessages, expectedOpen);

    bool outputMade = c.fault != OPEN_SOURCE && c.fault != CREATE_OUTPUT;
    EXPECT_TRUE(SameBytes(convertedInPlace ? converted : input, fake::File(SOURCE))) << "the source";
    if (c.inPlace) {
        EXPECT_TRUE(SameBytes(OLD_DEST, fake::File(DEST))) << "a bystander";
        bool tempStays = outputMade && !(convertedInPlace && c.fault != DELETE_TEMP);
        EXPECT_EQ(fake::HasFile(TEMP), tempStays);
        if (tempStays) {
            EXPECT_TRUE(SameBytes(expectedOutput, fake::File(TEMP))) << "Temp.dat";
        }
    } else {
        EXPECT_FALSE(fake::HasFile(TEMP));
        EXPECT_TRUE(SameBytes(outputMade ? expectedOutput : OLD_DEST, fake::File(DEST))) << "the destination";
    }
    EXPECT_EQ(fake::FileNames().size(), 2u + fake::HasFile(TEMP));
}

INSTANTIATE_TEST_SUITE_P(ConvertFile, FaultMatrix, testing::ValuesIn(AllCases()), CaseName);

}  // namespace
