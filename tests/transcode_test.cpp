// The transcoder against the byte-at-a-time oracle and literal tables, on every path this
// build has and this processor can run: every pair alone and in rows through the vector
// steps (against a table the reference made on the build machine), characters cut by the
// end of a read and by the block edge, random inputs in every setting, and failing reads
// and writes.
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "byte_compare.h"
#include "fake_platform.h"
#include "pair_table.h"
#include "program_state.h"
#include "reference_transcoder.h"
#include "test_text.h"
#include "transcode.h"

namespace {

const size_t BLOCK = TRANSCODE_BLOCK_SIZE;

struct Setting {
    unsigned char direction;
    unsigned char newlines;
};
// Besides the four plain settings: any direction but 0 means EUC-JP to Shift_JIS, and
// only 1 turns the newline rule on.
const Setting SETTINGS[] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {0xFF, 1}, {0, 2}, {1, 0xFF}};

std::string Describe(Setting s) {
    return "direction " + std::to_string(s.direction) + ", newlines " + std::to_string(s.newlines);
}

std::vector<std::string> RunnablePaths() {
    const char *names[TRANSCODE_MAX_PATHS];
    int count = TranscodePaths(names);
    return std::vector<std::string>(names, names + count);
}

// Each test below runs once per path, with that path selected; the best one is back after.
class Transcoder : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override { ASSERT_TRUE(TranscodeSelectPath(GetParam().c_str())); }
    void TearDown() override { EXPECT_TRUE(TranscodeSelectPath(RunnablePaths().back().c_str())); }
};

INSTANTIATE_TEST_SUITE_P(Path, Transcoder, testing::ValuesIn(RunnablePaths()),
                         [](const testing::TestParamInfo<std::string> &path) { return path.param; });

// At start the most capable path runs; one can be chosen by name; every x86-64 processor
// has SSE2.
TEST(TranscoderPaths, BestAtStartAndChosenByName) {
    std::vector<std::string> paths = RunnablePaths();
    std::string list;
    for (const std::string &p : paths) list += " " + p;
    printf("paths on this processor:%s\n", list.c_str());
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths.front(), "plain");
    EXPECT_EQ(TranscodeCurrentPath(), paths.back());
#if defined(__x86_64__)
    EXPECT_NE(std::find(paths.begin(), paths.end(), "sse2"), paths.end());
#endif
    EXPECT_FALSE(TranscodeSelectPath("none"));
    EXPECT_FALSE(TranscodeSelectPath(""));
    EXPECT_EQ(TranscodeCurrentPath(), paths.back());
    EXPECT_TRUE(TranscodeSelectPath("plain"));
    EXPECT_STREQ(TranscodeCurrentPath(), "plain");
    EXPECT_TRUE(TranscodeSelectPath(paths.back().c_str()));
}

std::string FromHex(const char *hex) {
    std::string bytes;
    for (const char *p = hex; *p;) {
        if (*p == ' ') {
            p++;
            continue;
        }
        bytes += (char)std::stoi(std::string(p, 2), nullptr, 16);
        p += 2;
    }
    return bytes;
}

std::string Chunk(const std::string &input, Setting s) {
    std::vector<unsigned char> out(TranscodeOutputCapacity(input.size()));
    size_t consumed = 0;
    size_t produced = TranscodeChunk((const unsigned char *)input.data(), input.size(), 1, s.direction, s.newlines,
                                     out.data(), &consumed);
    EXPECT_EQ(consumed, input.size());
    return std::string((const char *)out.data(), produced);
}

// TranscodeStream from the in-memory file "in" to "out" with the faults given.
TranscodeResult Stream(const std::string &input, Setting s, std::string *output,
                       const fake::Faults &faults = fake::Faults()) {
    fake::Reset();
    fake::SetFile("in", input);
    fake::GetFaults() = faults;
    ProgramState.direction = s.direction;
    ProgramState.convertNewlines = s.newlines;
    PlatformFile in, out;
    EXPECT_TRUE(PlatformOpenSource("in", &in));
    EXPECT_TRUE(PlatformCreateOutput("out", &out));
    TranscodeResult result = TranscodeStream(in, out);
    PlatformClose(in);
    PlatformClose(out);
    EXPECT_EQ(fake::HandleProblems(), "");
    *output = fake::File("out");
    return result;
}

std::string StreamOk(const std::string &input, Setting s, const fake::Faults &faults = fake::Faults()) {
    std::string output;
    EXPECT_EQ(Stream(input, s, &output, faults), Completed) << Describe(s);
    return output;
}

struct Case {
    Setting setting;
    const char *input;
    const char *expected;
};

// The first and last byte of every class and one either side, the second-byte edges of
// the pair rule, its 8-bit wraps, and the two settled open points: a starting byte at
// the end of the input, a CR towards EUC-JP that is not followed by LF.
const Case BOUNDARIES[] = {
    {{0, 0}, "", ""},
    {{0, 0}, "00 41 7F 0D 0A", "00 41 7F 0D 0A"},
    {{0, 0}, "80 FD FE FF", ""},
    {{0, 0}, "81 40", "A1 A1"},
    {{0, 0}, "9F FC", "DE FE"},
    {{0, 0}, "A0 A1 DF", "8E A0 8E A1 8E DF"},
    {{0, 0}, "E0 40", "DF A1"},
    {{0, 0}, "EA A4", "F4 A6"},
    {{0, 0}, "81 7E 81 80 81 9E 81 9F", "A1 DF A1 E0 A1 FE A2 A1"},
    {{0, 0}, "82 A0 8A BF 95 5C", "A4 A2 B4 C1 C9 BD"},
    {{0, 0}, "F0 40 F0 9F FC FC", "FF A1 00 A1 18 FE"},
    {{0, 0}, "41 82", "41 82"},
    {{0, 0}, "FC", "FC"},
    {{0, 0}, "82 0D 0A", "A3 6E 0A"},
    {{0, 1}, "41 0D 0A 42", "41 0A 42"},
    {{0, 1}, "41 0D", "41 0D"},
    {{0, 1}, "0D 0D 0A", "0D 0A"},
    {{0, 1}, "0D 0D", "0D 0D"},
    {{0, 1}, "0D 82 A0 0D B1 0D 80 0A", "0D A4 A2 0D 8E B1 0D 0A"},
    {{0, 1}, "82 0D 0A", "A3 6E 0A"},
    {{1, 0}, "00 41 7F 0D 0A", "00 41 7F 0D 0A"},
    {{1, 0}, "A4 A2 B4 C1 A1 A1 C9 BD", "82 A0 8A BF 81 40 95 5C"},
    {{1, 0}, "8E B1 8E 41", "B1 41"},
    {{1, 0}, "8F A1 41", "38 40 41"},
    {{1, 0}, "80 80 8D FF FE FE FF FF", "30 7D 37 9F EF FC F0 9F"},
    {{1, 0}, "41 8E", "41 8E"},
    {{1, 0}, "A4", "A4"},
    {{1, 1}, "41 0A", "41 0D 0A"},
    {{1, 1}, "0D 0A", "0D 0D 0A"},
    {{1, 1}, "8E 0A A4 0A", "0A 82 07"},
    {{2, 1}, "0A 8E B1", "0D 0A B1"},
    {{0, 2}, "0D 0A", "0D 0A"},
};

TEST_P(Transcoder, BoundaryTable) {
    for (const Case &c : BOUNDARIES) {
        std::string input = FromHex(c.input), expected = FromHex(c.expected);
        SCOPED_TRACE(Describe(c.setting) + ", input " + c.input);
        EXPECT_TRUE(SameBytes(expected, ReferenceConvert(input, c.setting.direction, c.setting.newlines)));
        EXPECT_TRUE(SameBytes(expected, Chunk(input, c.setting)));
        // Reads of at most n bytes cut the input everywhere: the carried byte at work.
        for (unsigned long n = 1; n <= input.size(); n++) {
            fake::Faults small;
            small.readSizes = {n};
            EXPECT_TRUE(SameBytes(expected, StreamOk(input, c.setting, small))) << "reads of " << n << " bytes";
        }
    }
}

// Each case again with its bytes on both sides of the first block edge, after
// ASCII that every setting keeps as it is.
TEST_P(Transcoder, BoundaryTableAcrossTheBlockEdge) {
    for (const Case &c : BOUNDARIES) {
        std::string input = FromHex(c.input), expected = FromHex(c.expected);
        for (size_t before = 0; before <= input.size(); before++) {
            std::string padding(BLOCK - before, 'a');
            SCOPED_TRACE(Describe(c.setting) + ", input " + c.input + ", " + std::to_string(before) +
                         " bytes before the edge");
            std::string output = StreamOk(padding + input, c.setting);
            EXPECT_TRUE(SameBytes(padding + expected, output));
        }
    }
}

// Every first byte with every second byte, against the table the reference made on the
// build machine: each pair alone (the one-at-a-time loop), and the 256 pairs of each first
// byte in a row, from an even and from an odd offset (the vector steps, with pairs
// across every vector and step edge).
TEST_P(Transcoder, EveryPairAgainstTheBuildMachinesTable) {
    for (int direction = 0; direction < 2; direction++) {
        const PairTable &table = PAIR_TABLES[direction];
        Setting s = {(unsigned char)direction, 0};
        const unsigned char *alone = table.alone, *rows = table.rows;
        int failures = 0;
        for (int first = 0; first < 256 && failures < 10; first++) {
            std::string row;
            for (int second = 0; second < 256; second++) {
                std::string pair = {(char)first, (char)second};
                size_t length = table.aloneLengths[first * 256 + second];
                std::string expected((const char *)alone, length);
                alone += length;
                row += pair;
                testing::AssertionResult same = SameBytes(expected, Chunk(pair, s));
                failures += same ? 0 : 1;
                EXPECT_TRUE(same) << Describe(s) << ", pair " << Hex(pair) << " alone";
            }
            std::string expected((const char *)rows, table.rowLengths[first]);
            rows += table.rowLengths[first];
            testing::AssertionResult even = SameBytes(expected, Chunk(row, s));
            testing::AssertionResult odd = SameBytes("A" + expected, Chunk("A" + row, s));
            failures += (even ? 0 : 1) + (odd ? 0 : 1);
            EXPECT_TRUE(even) << Describe(s) << ", first byte " << Hex(row, 0, 1) << " with every second byte";
            EXPECT_TRUE(odd) << Describe(s) << ", first byte " << Hex(row, 0, 1) << " with every second byte, after A";
        }
    }
}

// The two rules undo each other over the whole two-byte code space of both encodings,
// assigned or not (first bytes 0xF0-0xFC wrap and are left out).
TEST_P(Transcoder, RoundTripsOfTheCodeSpace) {
    std::string sjis, euc;
    for (int s1 = 0x81; s1 <= 0xEF; s1++) {
        if (s1 > 0x9F && s1 < 0xE0) continue;
        for (int s2 = 0x40; s2 <= 0xFC; s2++)
            if (s2 != 0x7F) sjis += (char)s1, sjis += (char)s2;
    }
    for (int e1 = 0xA1; e1 <= 0xFE; e1++)
        for (int e2 = 0xA1; e2 <= 0xFE; e2++) euc += (char)e1, euc += (char)e2;
    ASSERT_EQ(sjis.size(), euc.size());  // 94 x 94 characters in each
    std::string toEuc = Chunk(sjis, {0, 0});
    EXPECT_TRUE(SameBytes(euc, toEuc));  // in code order, both sides
    EXPECT_TRUE(SameBytes(sjis, Chunk(toEuc, {1, 0})));
    EXPECT_TRUE(SameBytes(sjis, Chunk(euc, {1, 0})));
}

TEST_P(Transcoder, RandomInputsAgreeWithTheOracle) {
    std::mt19937 random(2718);
    for (int round = 0; round < 300; round++) {
        size_t length = round < 290 ? random() % 200 : 2 * BLOCK + random() % 1000;
        std::string input = HazardText(random, length);
        fake::Faults reads, copied;  // read in place, and copied as from a pipe
        for (int i = 0; i < 4; i++) reads.readSizes.push_back(1 + random() % (round < 290 ? 40 : 3 * BLOCK));
        reads.writesAhead = round % 2 == 1;
        copied = reads;
        copied.inPlace = false;
        for (Setting s : SETTINGS) {
            SCOPED_TRACE("round " + std::to_string(round) + ", " + Describe(s) + ", input " + Hex(input));
            std::string expected = ReferenceConvert(input, s.direction, s.newlines);
            ASSERT_TRUE(SameBytes(expected, Chunk(input, s)));
            ASSERT_TRUE(SameBytes(expected, StreamOk(input, s, reads)));
            ASSERT_TRUE(SameBytes(expected, StreamOk(input, s, copied)));
        }
    }
}

// A read that fails at offset k: everything converted from the bytes before it is in the
// output, except a character that k cuts in two. A write that fails at offset k: exactly
// the first k bytes of the output, and no write after it (HandleProblems). A write that
// fails before a read that fails: the write's failure. All of it with each block written
// before the next is read, and written ahead while the next converts.
TEST_P(Transcoder, FailuresAtChosenOffsets) {
    std::mt19937 random(31);
    std::string input = HazardText(random, 2 * BLOCK + 300);
    const size_t offsets[] = {0, 1, BLOCK - 2, BLOCK - 1, BLOCK, BLOCK + 1, 2 * BLOCK - 1, 2 * BLOCK, 2 * BLOCK + 1};
    for (Setting s : SETTINGS) {
        std::string full = ReferenceConvert(input, s.direction, s.newlines);
        std::vector<std::pair<size_t, size_t>> faults;  // (read, write) offsets
        for (size_t k : offsets) {
            faults.push_back({k, NO_FAULT});
            faults.push_back({NO_FAULT, k});
        }
        faults.insert(faults.end(), {{input.size() - 1, NO_FAULT}, {input.size(), NO_FAULT}, {NO_FAULT, full.size() - 1},
                                     {NO_FAULT, full.size()}, {BLOCK, 100}});
        for (auto [readAt, writeAt] : faults) {
            std::string expected;
            TranscodeResult result = ReferenceTranscode(input, s.direction, s.newlines, &expected, readAt, writeAt);
            if (writeAt == NO_FAULT) {
                ASSERT_EQ(result, ReadFailed);
            }
            if (readAt == NO_FAULT) {
                ASSERT_EQ(result, writeAt < full.size() ? WriteFailed : Completed);
                ASSERT_TRUE(SameBytes(full.substr(0, writeAt), expected));
            }
            for (bool ahead : {false, true}) {
                SCOPED_TRACE(Describe(s) + ", read fails at " + std::to_string(readAt) + ", write at " +
                             std::to_string(writeAt) + (ahead ? ", written ahead" : ""));
                fake::Faults fault;
                fault.readAt = readAt;
                fault.writeAt = writeAt;
                fault.writesAhead = ahead;
                std::string output;
                EXPECT_EQ(Stream(input, s, &output, fault), result);
                EXPECT_TRUE(SameBytes(expected, output));
            }
        }
    }
}

// Output short of a page is held back until the next read. When that read fails and the
// held-back bytes then cannot be written either, the read failure is what is reported,
// with exactly the bytes before the failing write in the output; also where the block
// before was written ahead.
TEST(TranscodeStream, ReadFailureStaysTheOutcomeWhenTheHeldBackWriteFails) {
    std::mt19937 random(77);
    const std::string input = HazardText(random, BLOCK + 1000);
    const Setting s = {0, 1};
    std::string converted;  // what the first block converts to
    ASSERT_EQ(ReferenceTranscode(input, s.direction, s.newlines, &converted, BLOCK), ReadFailed);
    const size_t heldBack = converted.size() % 4096;
    ASSERT_GT(heldBack, 1u) << "the first block's output must end inside a page";
    fake::Faults faults;
    faults.readAt = BLOCK;  // the first read brings a whole block, the second fails
    faults.writeAt = converted.size() - heldBack / 2;
    for (bool ahead : {false, true}) {
        faults.writesAhead = ahead;
        std::string output;
        EXPECT_EQ(Stream(input, s, &output, faults), ReadFailed) << (ahead ? "written ahead" : "");
        EXPECT_TRUE(SameBytes(converted.substr(0, faults.writeAt), output)) << (ahead ? "written ahead" : "");
    }
}

}  // namespace
