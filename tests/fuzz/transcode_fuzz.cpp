// libFuzzer target: the block-wise transcoder against the byte-at-a-time oracle over
// arbitrary bytes, on every path this processor can run. The first byte picks the
// settings, the next two seed the cuts; the rest is the text. Three ways through the fast
// code must each give the oracle's bytes: one whole chunk, chunks cut at random lengths
// with the unconsumed byte carried, and TranscodeStream over the in-memory platform with
// reads of random lengths, once cleanly and once with a read or a write failing at a
// random offset.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "program_state.h"
#include "reference_transcoder.h"
#include "transcode.h"

namespace {

void Fail(const char *what, const std::string &expected, const std::string &actual) {
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) at++;
    fprintf(stderr, "%s, %s path: first difference at offset %zu (expected %zu bytes, got %zu)\n  expected:", what,
            TranscodeCurrentPath(), at, expected.size(), actual.size());
    for (size_t i = at; i < expected.size() && i < at + 16; i++) fprintf(stderr, " %02X", (unsigned char)expected[i]);
    fprintf(stderr, "\n  actual:  ");
    for (size_t i = at; i < actual.size() && i < at + 16; i++) fprintf(stderr, " %02X", (unsigned char)actual[i]);
    fprintf(stderr, "\n");
    abort();
}

void Check(const char *what, const std::string &expected, const std::string &actual) {
    if (expected != actual) Fail(what, expected, actual);
}

std::string WholeChunk(const std::string &text, unsigned char direction, unsigned char newlines) {
    std::vector<unsigned char> out(TranscodeOutputCapacity(text.size()));
    size_t consumed = 0;
    size_t produced = TranscodeChunk((const unsigned char *)text.data(), text.size(), 1, direction, newlines,
                                     out.data(), &consumed);
    if (consumed != text.size()) abort();
    return std::string((const char *)out.data(), produced);
}

// As TranscodeStream carries a byte from block to block, with pieces of random length.
std::string CutChunks(const std::string &text, unsigned char direction, unsigned char newlines,
                      std::minstd_rand &random) {
    std::string output, pending;
    size_t next = 0;
    for (;;) {
        size_t piece = random() % 9 == 0 ? random() % 300 : random() % 20;
        if (piece > text.size() - next) piece = text.size() - next;
        pending.append(text, next, piece);
        next += piece;
        int atEnd = piece == 0 && next == text.size();
        std::vector<unsigned char> out(TranscodeOutputCapacity(pending.size()));
        size_t consumed = 0;
        size_t produced = TranscodeChunk((const unsigned char *)pending.data(), pending.size(), atEnd, direction,
                                         newlines, out.data(), &consumed);
        // Only an incomplete last unit may stay behind, and never at the end.
        if (consumed > pending.size() || pending.size() - consumed > (atEnd ? 0u : 1u)) abort();
        output.append((const char *)out.data(), produced);
        pending.erase(0, consumed);
        if (atEnd) return output;
    }
}

TranscodeResult Stream(const std::string &text, const fake::Faults &faults, std::string *output) {
    fake::Reset();
    fake::SetFile("in", text);
    fake::GetFaults() = faults;
    PlatformFile in, out;
    if (!PlatformOpenSource("in", &in) || !PlatformCreateOutput("out", &out)) abort();
    TranscodeResult result = TranscodeStream(in, out);
    PlatformClose(in);
    PlatformClose(out);
    if (!fake::HandleProblems().empty()) {
        fprintf(stderr, "%s\n", fake::HandleProblems().c_str());
        abort();
    }
    *output = fake::File("out");
    return result;
}

}  // namespace

// Names the paths every input goes through, for the log.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *paths[TRANSCODE_MAX_PATHS];
    const int pathCount = TranscodePaths(paths);
    fprintf(stderr, "transcode_fuzz: paths");
    for (int p = 0; p < pathCount; p++) fprintf(stderr, " %s", paths[p]);
    fprintf(stderr, "\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    // Direction 0-3 (anything but 0 is EUC-JP to Shift_JIS), newlines 0-3 (only 1 is on);
    // bit 4 picks reads in place or reads that copy.
    const unsigned char direction = data[0] & 3, newlines = (data[0] >> 2) & 3;
    std::mt19937 random((uint32_t)data[1] << 8 | data[2]);
    const std::string text((const char *)data + 3, size - 3);

    const std::string expected = ReferenceConvert(text, direction, newlines);
    // The same failing read or write on every path: the oracle says what must be written.
    const bool reading = random() & 1;
    const size_t k = random() % ((reading ? text.size() : expected.size()) + 1);
    std::string partial;
    const TranscodeResult want = ReferenceTranscode(text, direction, newlines, &partial, reading ? k : NO_FAULT,
                                                    reading ? NO_FAULT : k);
    const uint32_t cutSeed = (uint32_t)random();
    ProgramState.direction = direction;
    ProgramState.convertNewlines = newlines;

    const char *paths[TRANSCODE_MAX_PATHS];
    const int pathCount = TranscodePaths(paths);
    for (int p = 0; p < pathCount; p++) {
        if (!TranscodeSelectPath(paths[p])) abort();
        std::minstd_rand cuts(cutSeed);  // the same cuts on every path
        Check("whole chunk", expected, WholeChunk(text, direction, newlines));
        Check("cut chunks", expected, CutChunks(text, direction, newlines, cuts));

        // Reads in place and reads that copy (as from a pipe) take turns by the input.
        fake::Faults faults;
        for (int i = 0; i < 3; i++) faults.readSizes.push_back(1 + cuts() % 64);
        faults.inPlace = (data[0] & 0x10) != 0;
        std::string output;
        if (Stream(text, faults, &output) != Completed) abort();
        Check("stream", expected, output);

        (reading ? faults.readAt : faults.writeAt) = k;
        if (Stream(text, faults, &output) != want) abort();
        Check(reading ? "stream, failing read" : "stream, failing write", partial, output);
    }
    return 0;
}
