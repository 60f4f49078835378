// The conversion job over the in-memory platform: its texts, the temporary path's length
// check, and a matrix in which each operation fails in turn on each route, checked for
// the calls made (literal traces), the messages, the handles and the files afterwards.
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

// Every text of the job, as the dialog shows it.
const char NOT_FOUND[] = "変換元ファイルが見つかりません。";
const char NO_DEST[] = "変換先ファイルをオープンできません。";
const char NO_TEMP[] = "Temp.datが作成できません。";
const char READ_FAILED[] = "ファイルの読みこみに失敗しました。";
const char WRITE_FAILED[] = "ファイルの書きこみに失敗しました。";
const char WRITE_BACK[] = "テンポラリファイルから書き戻せませんでした。\n変換された内容は、Temp.datに記録されています。";
const char CHANGED[] = "変換中に変換元ファイルが変更されました。\n変換された内容は、Temp.datに記録されています。";
const char DONE[] = "変換が完了しました。";
const char ERROR_CAPTION[] = "エラー";
const char DONE_CAPTION[] = "完了";

std::string Message(const char *text) { return std::string("message ") + text; }
std::string Op(const char *op, const char *name) { return std::string(op) + " " + name; }

// The text every case converts, made once: longer than two blocks, with the pieces that
// trouble a transcoder.
const std::string &Text() {
    static const std::string text = [] {
        std::mt19937 random(5);
        return HazardText(random, 2 * TRANSCODE_BLOCK_SIZE + 100);
    }();
    return text;
}

// Its conversion by the oracle, with the newline rule, once for each direction.
const std::string &Converted(unsigned char direction) {
    if (direction) {
        static const std::string toSjis = ReferenceConvert(Text(), EucToSjis, 1);
        return toSjis;
    }
    static const std::string toEuc = ReferenceConvert(Text(), SjisToEuc, 1);
    return toEuc;
}

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
        input = Text();
        converted = Converted(SjisToEuc);
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

// Each outcome's box: its text, caption and icon; the two steps have none.
TEST(JobEventTest, TextsCaptionsAndIcons) {
    const struct {
        JobEvent event;
        const char *text;  // null: no box
    } boxes[] = {
        {JOB_TEMP_FILE, nullptr},         {JOB_WRITE_BACK, nullptr},           {JOB_SOURCE_NOT_FOUND, NOT_FOUND},
        {JOB_DEST_OPEN_FAILED, NO_DEST},  {JOB_TEMP_CREATE_FAILED, NO_TEMP},   {JOB_READ_FAILED, READ_FAILED},
        {JOB_WRITE_FAILED, WRITE_FAILED}, {JOB_WRITE_BACK_FAILED, WRITE_BACK}, {JOB_SOURCE_CHANGED, CHANGED},
        {JOB_COMPLETED, DONE},
    };
    for (const auto &box : boxes) {
        SCOPED_TRACE(box.event);
        EXPECT_EQ(JobEventText(box.event) ? std::string(JobEventText(box.event)) : "(none)",
                  box.text ? box.text : "(none)");
        const bool done = box.event == JOB_COMPLETED;
        EXPECT_STREQ(JobEventCaption(box.event), done ? DONE_CAPTION : ERROR_CAPTION);
        EXPECT_EQ(JobEventIcon(box.event), done ? PLATFORM_ICON_INFORMATION : PLATFORM_ICON_ERROR);
    }
}

TEST_F(ConvertFileTest, ToAnotherFile) {
    ConvertFile(Owner(), SOURCE, DEST);
    ExpectTrace({Op("open", SOURCE), Op("create", DEST), Op("close", SOURCE), Op("close", DEST),
                 Message(DONE)});
    EXPECT_TRUE(SameBytes(converted, fake::File(DEST)));  // the old contents truncated away
    EXPECT_TRUE(SameBytes(input, fake::File(SOURCE)));
    EXPECT_FALSE(fake::HasFile(TEMP));
    ASSERT_EQ(fake::Messages().size(), 1u);
    EXPECT_EQ(fake::Messages()[0].caption, DONE_CAPTION);
    EXPECT_EQ(fake::Messages()[0].icon, PLATFORM_ICON_INFORMATION);
}

// Names equal but for letter case are one file: the text goes through Temp.dat, is
// copied over the source and Temp.dat is deleted (a stale one is simply overwritten).
TEST_F(ConvertFileTest, InPlaceByAnEqualName) {
    fake::SetFile(TEMP, "left by an earlier conversion");
    ConvertFile(Owner(), SOURCE, SOURCE_OTHER_CASE);
    ExpectTrace({Op("open", SOURCE), Op("create", TEMP), Op("close", SOURCE), Op("close", TEMP),
                 std::string("copy ") + TEMP + " " + SOURCE_OTHER_CASE, Op("delete", TEMP),
                 Message(DONE)});
    EXPECT_TRUE(SameBytes(converted, fake::File(SOURCE)));
    EXPECT_FALSE(fake::HasFile(TEMP));
}

// Names the system refuses: the source missing or empty, the destination empty.
TEST_F(ConvertFileTest, MissingAndEmptyNames) {
    for (const char *source : {"C:\\Data\\missing.txt", ""}) {
        Fresh();
        ConvertFile(Owner(), source, DEST);
        ExpectTrace({Op("open", source) + " FAILED", Message(NOT_FOUND)});
        EXPECT_EQ(fake::Messages()[0].caption, ERROR_CAPTION);
        EXPECT_EQ(fake::Messages()[0].icon, PLATFORM_ICON_ERROR);
    }
    Fresh();
    ConvertFile(Owner(), SOURCE, "");
    ExpectTrace({Op("open", SOURCE), "create  FAILED", Message(NO_DEST), Op("close", SOURCE)});
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
            EXPECT_EQ(fake::Trace().back(), Message(DONE));
            EXPECT_TRUE(SameBytes(converted, fake::File(SOURCE)));
        } else {
            ExpectTrace({Op("open", SOURCE), Message(NO_TEMP), Op("close", SOURCE)});
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
        EXPECT_EQ(std::string(buffer.path), fits ? dir + "Temp.dat" : "");
        EXPECT_EQ(std::string(buffer.guard, sizeof buffer.guard), std::string(sizeof buffer.guard, 0x7E));
    }
}

// The fault matrix: each operation of the job fails in turn, on each route and in both
// directions, reads and writes at offsets around the first block edge. The calls each
// case must make are literal traces, one per route and fault. Afterwards the source is
// unchanged unless an in-place conversion completed; on the dialog's route the output
// keeps exactly what was written before the failure; on kavoconv's route DEST is its old
// self or the whole conversion and nothing partial is left; no other file is touched.
enum Route { DIALOG_TO_OTHER, DIALOG_IN_PLACE, WHOLE_BY_RENAME, WHOLE_BY_COPY, WHOLE_IN_PLACE };
const char *const ROUTE_NAMES[] = {"DialogToOther", "DialogInPlace", "WholeByRename", "WholeByCopy", "WholeInPlace"};

enum FaultKind {
    NO_FAULT, OPEN_SOURCE, CREATE_OUTPUT, READ_AT, WRITE_AT, CLOSE_SOURCE, CLOSE_OUTPUT, RENAME, COPY_BACK,
    DELETE_TEMP, CHANGED_MEANWHILE
};
const char *const FAULT_NAMES[] = {"Nothing", "OpenSource", "CreateOutput", "ReadAt", "WriteAt", "CloseSource",
                                   "CloseOutput", "Rename", "CopyBack", "DeleteTemp", "ChangedMeanwhile"};

// What each route and fault must do, as "; "-separated calls. S is the source, D the
// destination as named, T the output; the messages are keys of MessageFor.
const struct {
    Route route;
    FaultKind fault;
    const char *calls;
} TRACES[] = {
    {DIALOG_TO_OTHER, NO_FAULT, "open S; create T; close S; close T; message DONE"},
    {DIALOG_TO_OTHER, OPEN_SOURCE, "open S FAILED; message NOT_FOUND"},
    {DIALOG_TO_OTHER, CREATE_OUTPUT, "open S; create T FAILED; message NO_DEST; close S"},
    {DIALOG_TO_OTHER, READ_AT, "open S; create T; message READ_FAILED; close S; close T"},
    {DIALOG_TO_OTHER, WRITE_AT, "open S; create T; message WRITE_FAILED; close S; close T"},
    {DIALOG_TO_OTHER, CLOSE_SOURCE, "open S; create T; close S FAILED; close T; message DONE"},
    {DIALOG_TO_OTHER, CLOSE_OUTPUT, "open S; create T; close S; close T FAILED; message WRITE_FAILED"},

    {DIALOG_IN_PLACE, NO_FAULT, "open S; create T; close S; close T; copy T D; delete T; message DONE"},
    {DIALOG_IN_PLACE, OPEN_SOURCE, "open S FAILED; message NOT_FOUND"},
    {DIALOG_IN_PLACE, CREATE_OUTPUT, "open S; create T FAILED; message NO_TEMP; close S"},
    {DIALOG_IN_PLACE, READ_AT, "open S; create T; message READ_FAILED; close S; close T"},
    {DIALOG_IN_PLACE, WRITE_AT, "open S; create T; message WRITE_FAILED; close S; close T"},
    {DIALOG_IN_PLACE, CLOSE_SOURCE, "open S; create T; close S FAILED; close T; copy T D; delete T; message DONE"},
    {DIALOG_IN_PLACE, CLOSE_OUTPUT, "open S; create T; close S; close T FAILED; message WRITE_FAILED"},
    {DIALOG_IN_PLACE, COPY_BACK, "open S; create T; close S; close T; copy T D FAILED; message WRITE_BACK; message DONE"},
    {DIALOG_IN_PLACE, DELETE_TEMP, "open S; create T; close S; close T; copy T D; delete T FAILED; message DONE"},

    {WHOLE_BY_RENAME, NO_FAULT, "open S; create-new T; close S; close T; rename T D; message DONE"},
    {WHOLE_BY_RENAME, OPEN_SOURCE, "open S FAILED; message NOT_FOUND"},
    {WHOLE_BY_RENAME, CREATE_OUTPUT, "open S; create-new T FAILED; message NO_DEST; close S"},
    {WHOLE_BY_RENAME, READ_AT, "open S; create-new T; message READ_FAILED; close S; close T; delete T"},
    {WHOLE_BY_RENAME, WRITE_AT, "open S; create-new T; message WRITE_FAILED; close S; close T; delete T"},
    {WHOLE_BY_RENAME, CLOSE_SOURCE, "open S; create-new T; close S FAILED; close T; rename T D; message DONE"},
    {WHOLE_BY_RENAME, CLOSE_OUTPUT, "open S; create-new T; close S; close T FAILED; delete T; message WRITE_FAILED"},
    {WHOLE_BY_RENAME, RENAME, "open S; create-new T; close S; close T; rename T D FAILED; copy T D; delete T; message DONE"},
    {WHOLE_BY_RENAME, COPY_BACK,
     "open S; create-new T; close S; close T; rename T D FAILED; copy T D FAILED; message WRITE_BACK; message DONE"},

    {WHOLE_BY_COPY, NO_FAULT, "open S; create T; close S; close T; copy T D; delete T; message DONE"},
    {WHOLE_BY_COPY, OPEN_SOURCE, "open S FAILED; message NOT_FOUND"},
    {WHOLE_BY_COPY, CREATE_OUTPUT, "open S; create T FAILED; message NO_TEMP; close S"},
    {WHOLE_BY_COPY, READ_AT, "open S; create T; message READ_FAILED; close S; close T; delete T"},
    {WHOLE_BY_COPY, WRITE_AT, "open S; create T; message WRITE_FAILED; close S; close T; delete T"},
    {WHOLE_BY_COPY, CLOSE_SOURCE, "open S; create T; close S FAILED; close T; copy T D; delete T; message DONE"},
    {WHOLE_BY_COPY, CLOSE_OUTPUT, "open S; create T; close S; close T FAILED; delete T; message WRITE_FAILED"},
    {WHOLE_BY_COPY, COPY_BACK, "open S; create T; close S; close T; copy T D FAILED; message WRITE_BACK; message DONE"},
    {WHOLE_BY_COPY, DELETE_TEMP, "open S; create T; close S; close T; copy T D; delete T FAILED; message DONE"},

    {WHOLE_IN_PLACE, NO_FAULT, "open S; create T; close S; close T; unchanged D; copy T D; delete T; message DONE"},
    {WHOLE_IN_PLACE, OPEN_SOURCE, "open S FAILED; message NOT_FOUND"},
    {WHOLE_IN_PLACE, CREATE_OUTPUT, "open S; create T FAILED; message NO_TEMP; close S"},
    {WHOLE_IN_PLACE, READ_AT, "open S; create T; message READ_FAILED; close S; close T; delete T"},
    {WHOLE_IN_PLACE, WRITE_AT, "open S; create T; message WRITE_FAILED; close S; close T; delete T"},
    {WHOLE_IN_PLACE, CLOSE_SOURCE,
     "open S; create T; close S FAILED; close T; unchanged D; copy T D; delete T; message DONE"},
    {WHOLE_IN_PLACE, CLOSE_OUTPUT, "open S; create T; close S; close T FAILED; delete T; message WRITE_FAILED"},
    {WHOLE_IN_PLACE, COPY_BACK,
     "open S; create T; close S; close T; unchanged D; copy T D FAILED; message WRITE_BACK; message DONE"},
    {WHOLE_IN_PLACE, DELETE_TEMP,
     "open S; create T; close S; close T; unchanged D; copy T D; delete T FAILED; message DONE"},
    {WHOLE_IN_PLACE, CHANGED_MEANWHILE, "open S; create T; close S; close T; unchanged D FAILED; message CHANGED"},
};

const char *MessageFor(const std::string &key) {
    const struct {
        const char *key, *text;
    } texts[] = {{"DONE", DONE},         {"NOT_FOUND", NOT_FOUND},       {"NO_DEST", NO_DEST},
                 {"NO_TEMP", NO_TEMP},   {"READ_FAILED", READ_FAILED},   {"WRITE_FAILED", WRITE_FAILED},
                 {"WRITE_BACK", WRITE_BACK}, {"CHANGED", CHANGED}};
    for (const auto &text : texts)
        if (key == text.key) return text.text;
    return "(no such message)";
}

// The literal trace of a route and fault, with the names put in.
std::vector<std::string> TraceOf(Route route, FaultKind fault, const std::string &dest, const std::string &output) {
    for (const auto &trace : TRACES) {
        if (trace.route != route || trace.fault != fault) continue;
        std::vector<std::string> calls;
        std::string all = trace.calls;
        for (size_t start = 0; start <= all.size();) {
            size_t end = all.find("; ", start);
            if (end == std::string::npos) end = all.size();
            std::string call = all.substr(start, end - start), named;
            for (size_t i = 0; i < call.size(); i++) {
                const bool alone = (i == 0 || call[i - 1] == ' ') && (i + 1 == call.size() || call[i + 1] == ' ');
                if (alone && call[i] == 'S') named += SOURCE;
                else if (alone && call[i] == 'D') named += dest;
                else if (alone && call[i] == 'T') named += output;
                else named += call[i];
            }
            if (named.compare(0, 8, "message ") == 0) named = Message(MessageFor(named.substr(8)));
            calls.push_back(named);
            start = end + 2;
        }
        return calls;
    }
    return {"(no trace for this case)"};
}

// Offsets, resolved against the input (reads) or the first write call (writes): the
// start, one byte in, inside, either side of the block edge, the last byte, the end.
enum Where { START, SECOND, INSIDE, BEFORE_EDGE, AT_EDGE, AFTER_EDGE, LAST, END };
const char *const WHERE_NAMES[] = {"Start", "Second", "Inside", "BeforeEdge", "AtEdge", "AfterEdge", "Last", "End"};

struct MatrixCase {
    Route route;
    unsigned char direction;
    FaultKind fault;
    Where where;
};

std::string CaseName(const testing::TestParamInfo<MatrixCase> &info) {
    const MatrixCase &c = info.param;
    std::string name = std::string(ROUTE_NAMES[c.route]) + (c.direction ? "EucToSjis" : "SjisToEuc") + FAULT_NAMES[c.fault];
    if (c.fault == READ_AT || c.fault == WRITE_AT) name += WHERE_NAMES[c.where];
    return name;
}

std::vector<MatrixCase> AllCases() {
    std::vector<MatrixCase> cases;
    for (const auto &trace : TRACES)
        for (unsigned char direction : {0, 1})
            for (int w = START; w <= END; w++)
                if (w == START || trace.fault == READ_AT || trace.fault == WRITE_AT)
                    cases.push_back(MatrixCase{trace.route, direction, trace.fault, (Where)w});
    return cases;
}

// Shows each outcome as the dialog would, so that every route leaves the same kind of trace.
void ShowOutcome(void *owner, JobEvent event, const char *) {
    if (JobEventText(event))
        PlatformShowMessage(*(PlatformWindow *)owner, JobEventText(event), JobEventCaption(event), JobEventIcon(event));
}

void RunRoute(Route route, const char *dest) {
    PlatformWindow owner = Owner();
    if (route == DIALOG_TO_OTHER || route == DIALOG_IN_PLACE)
        ConvertFile(owner, SOURCE, dest);
    else
        RunConversion(SOURCE, dest, PROGRAM_DIR, JOB_ROUTE_WHOLE, ShowOutcome, &owner);
}

class FaultMatrix : public ConvertFileTest, public testing::WithParamInterface<MatrixCase> {};

TEST_P(FaultMatrix, OutcomeAndFiles) {
    const MatrixCase c = GetParam();
    const bool inPlace = c.route == DIALOG_IN_PLACE || c.route == WHOLE_IN_PLACE;
    const bool whole = c.route >= WHOLE_BY_RENAME;
    const std::string dest = inPlace ? SOURCE_OTHER_CASE : DEST;
    const std::string output = c.route == WHOLE_BY_RENAME ? std::string(DEST) + "~new"
                               : c.route == DIALOG_TO_OTHER ? DEST : TEMP;
    // A run without faults shows where the first write call ends: the edge writes see.
    static size_t firstWrites[2];
    size_t &firstWrite = firstWrites[c.direction ? 1 : 0];
    if (!firstWrite) {
        ProgramState.direction = c.direction;
        ConvertFile(Owner(), SOURCE, DEST);
        firstWrite = fake::WriteCalls().at(0);
        Fresh();
    }
    ProgramState.direction = c.direction;
    converted = Converted(c.direction);
    const size_t inputEdge = TRANSCODE_BLOCK_SIZE;
    const size_t edge = c.fault == READ_AT ? inputEdge : firstWrite;
    const size_t length = c.fault == READ_AT ? input.size() : converted.size();
    const size_t offsets[] = {0, 1, edge / 2, edge - 1, edge, edge + 1, length - 1, length};
    const size_t k = offsets[c.where];

    fake::Faults &f = fake::GetFaults();
    f.replacement = c.route == WHOLE_BY_COPY ? PLATFORM_REPLACE_COPY : PLATFORM_REPLACE_RENAME;
    switch (c.fault) {
    case OPEN_SOURCE: f.openSource = SOURCE; break;
    case CREATE_OUTPUT: f.createOutput = output; break;
    case READ_AT: f.readAt = k; break;
    case WRITE_AT: f.writeAt = k; break;
    case CLOSE_SOURCE: f.close = SOURCE; break;
    case CLOSE_OUTPUT: f.close = output; break;
    case RENAME: f.rename = true; break;
    case COPY_BACK: f.rename = f.copy = true; break;
    case DELETE_TEMP: f.deleteFile = true; break;
    case CHANGED_MEANWHILE: f.changed = true; break;
    case NO_FAULT: break;
    }
    RunRoute(c.route, dest.c_str());

    // A write at the very end of the output fails nothing.
    const bool streamFails = c.fault == READ_AT || (c.fault == WRITE_AT && k < converted.size());
    const FaultKind happened = c.fault == WRITE_AT && !streamFails ? NO_FAULT : c.fault;
    const std::vector<std::string> trace = TraceOf(c.route, happened, dest, output);
    ExpectTrace(trace);
    const bool completed = trace.back() == Message(DONE);
    const bool placed = completed && happened != COPY_BACK;  // the whole conversion where it belongs

    // Error boxes come while the files they speak of are open; the others after closing.
    std::vector<int> openAtMessages, expectedOpen;
    int open = 0;
    for (const std::string &call : trace) {
        bool ok = call.find(" FAILED") == std::string::npos;
        if (ok && (call.compare(0, 5, "open ") == 0 || call.compare(0, 7, "create ") == 0 ||
                   call.compare(0, 11, "create-new ") == 0))
            open++;
        if (call.compare(0, 6, "close ") == 0) open--;  // a failed close still closes
        if (call.compare(0, 8, "message ") == 0) expectedOpen.push_back(open);
    }
    for (const fake::Message &m : fake::Messages()) openAtMessages.push_back(m.openHandles);
    EXPECT_EQ(openAtMessages, expectedOpen);

    std::string partial = converted;
    if (c.fault == READ_AT) ReferenceTranscode(input, c.direction, 1, &partial, k);
    if (c.fault == WRITE_AT) partial = converted.substr(0, k);
    const bool outputMade = happened != OPEN_SOURCE && happened != CREATE_OUTPUT;
    EXPECT_TRUE(SameBytes(inPlace && placed ? converted : input, fake::File(SOURCE))) << "the source";
    if (!inPlace) {
        // The dialog writes DEST as it goes; kavoconv's route never leaves it partial.
        const std::string expected = whole ? (placed ? converted : OLD_DEST) : (outputMade ? partial : OLD_DEST);
        EXPECT_TRUE(SameBytes(expected, fake::File(DEST))) << "the destination";
    } else {
        EXPECT_TRUE(SameBytes(OLD_DEST, fake::File(DEST))) << "a bystander";
    }
    // What stays of the output besides DEST: the dialog's Temp.dat as the failure left it;
    // on kavoconv's route only a whole conversion the messages point to.
    const bool kept = output != DEST && outputMade &&
                      (happened == COPY_BACK || happened == DELETE_TEMP || happened == CHANGED_MEANWHILE ||
                       (!whole && !completed) || (!whole && streamFails));
    if (output != DEST) {
        EXPECT_EQ(fake::HasFile(output), kept) << output;
    }
    if (kept) {
        EXPECT_TRUE(SameBytes(streamFails ? partial : converted, fake::File(output))) << output;
    }
    EXPECT_EQ(fake::FileNames().size(), 2u + (output != DEST && fake::HasFile(output)));
}

INSTANTIATE_TEST_SUITE_P(ConvertFile, FaultMatrix, testing::ValuesIn(AllCases()), CaseName);

}  // namespace
