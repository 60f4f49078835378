// The transcoder's loops, one character at a time by the rules in transcode_rules.h; the
// choice of path (where the processor has vector instructions, the steps of
// transcode_x86.cpp take 32 or 64 bytes at a time and these loops finish the rest); and
// the stream, which reads blocks in place where the platform can.
#include "transcode.h"

#include <stdint.h>
#include <string.h>

#include "cpu_features.h"
#include "path_table.h"
#include "program_state.h"
#include "transcode_rules.h"
#include "transcode_steps.h"

namespace {

constexpr TranscodeSplatTable MakeSplatTable() {
    TranscodeSplatTable table = {};
    for (int v = 0; v < 256; v++)
        for (unsigned char &b : table.rows[v].bytes) b = (unsigned char)v;
    return table;
}

// One character at a time. Returns the bytes written; *consumed as for TranscodeChunk.
size_t SjisToEucTail(const unsigned char *in, size_t length, int atEnd, int newlines, unsigned char *out,
                     size_t *consumed) {
    size_t i = 0;
    unsigned char *o = out;
    while (i < length) {
        unsigned char c = in[i];
        if (c < 0x80) {
            if (c == BYTE_CR && newlines) {
                if (i + 1 == length && !atEnd) break;  // an LF may follow in the next block
                if (i + 1 < length && in[i + 1] == BYTE_LF) {
                    *o++ = BYTE_LF;
                    i += 2;
                    continue;
                }
                // Any other byte after a CR keeps the CR and is classified afresh.
            }
            *o++ = c;
            i++;
        } else if (IsSjisKanaByte(c)) {
            o[0] = EUC_KANA_PREFIX;
            o[1] = c;
            o += 2;
            i++;
        } else if (IsSjisDroppedByte(c)) {
            i++;
        } else if (i + 1 < length) {
            SjisPairToEuc(c, in[i + 1], o);
            o += 2;
            i += 2;
        } else {
            if (!atEnd) break;
            *o++ = c;  // a first byte with no second byte is kept as it is
            i++;
        }
    }
    *consumed = i;
    return (size_t)(o - out);
}

size_t EucToSjisTail(const unsigned char *in, size_t length, int atEnd, int newlines, unsigned char *out,
                     size_t *consumed) {
    size_t i = 0;
    unsigned char *o = out;
    while (i < length) {
        unsigned char c = in[i];
        if (c < 0x80) {
            if (c == BYTE_LF && newlines) *o++ = BYTE_CR;
            *o++ = c;
            i++;
        } else if (i + 1 == length) {
            if (!atEnd) break;
            *o++ = c;  // a first byte or katakana prefix with nothing after it is kept
            i++;
        } else if (c == EUC_KANA_PREFIX) {
            *o++ = in[i + 1];  // written alone: an LF here gets no CR
            i += 2;
        } else {
            EucPairToSjis(c, in[i + 1], o);
            o += 2;
            i += 2;
        }
    }
    *consumed = i;
    return (size_t)(o - out);
}

// The paths, plainest first; `steps` is null for the plain loops. A path is offered only
// where the processor has its instructions (and the system saves their registers).
struct Path {
    const char *name;
    const TranscodeStepSet *steps;
    int (*supported)(void);
};

int Always(void) { return 1; }

const Path PATHS[] = {
    {"plain", nullptr, Always},
#if defined(__i386__) || defined(__x86_64__)
    {"sse2", &SSE2_STEPS, CpuHasSse2},
    {"ssse3", &SSSE3_STEPS, CpuHasSsse3},
    {"avx2", &AVX2_STEPS, CpuHasAvx2},
#endif
};
const int PATH_COUNT = (int)(sizeof PATHS / sizeof PATHS[0]);
static_assert(PATH_COUNT <= (int)TRANSCODE_MAX_PATHS, "TRANSCODE_MAX_PATHS is too small");

// Chosen once, before main runs.
const Path *currentPath = BestPath(PATHS);

}  // namespace

int TranscodePaths(const char *names[TRANSCODE_MAX_PATHS]) { return PathNames(PATHS, names); }

int TranscodeSelectPath(const char *name) {
    const Path *path = RunnablePath(PATHS, name);
    if (path) currentPath = path;
    return path != nullptr;
}

const char *TranscodeCurrentPath(void) { return currentPath->name; }

extern const TranscodeSplatTable TRANSCODE_SPLAT = MakeSplatTable();

size_t TranscodeChunk(const unsigned char *in, size_t length, int atEnd, unsigned char direction,
                      unsigned char convertNewlines, unsigned char *out, size_t *consumed) {
    int newlines = convertNewlines == 1;
    size_t stepped = 0, produced = 0, rest = 0;
    if (currentPath->steps) {
        TranscodeSteps steps = direction == SjisToEuc ? currentPath->steps->sjisToEuc : currentPath->steps->eucToSjis;
        produced = steps(in, length, newlines, out, &stepped);
    }
    if (direction == SjisToEuc)
        produced += SjisToEucTail(in + stepped, length - stepped, atEnd, newlines, out + produced, &rest);
    else
        produced += EucToSjisTail(in + stepped, length - stepped, atEnd, newlines, out + produced, &rest);
    *consumed = stepped + rest;
    return produced;
}

namespace {

// What converting bytes read in place needs and leaves: the settings, where the output
// goes, and the byte a block may leave for the next (a character, or CR LF, cut by the
// block's end). ConvertInPlace fills in a copy, which counts only when the read does.
struct InPlace {
    unsigned char direction;
    unsigned char convertNewlines;
    unsigned char *out;
    size_t produced;
    size_t carried;  // 0 or 1
    unsigned char carriedByte;
};

void ConvertInPlace(const unsigned char *bytes, unsigned long count, void *context) {
    InPlace *c = (InPlace *)context;
    size_t start = 0, consumed = 0;
    c->produced = 0;
    if (c->carried) {
        // The carried byte with the first one here: it takes that one too, or leaves it.
        unsigned char first[2] = {c->carriedByte, bytes[0]};
        c->produced = TranscodeChunk(first, 2, 0, c->direction, c->convertNewlines, c->out, &consumed);
        start = consumed - 1;
    }
    c->produced += TranscodeChunk(bytes + start, count - start, 0, c->direction, c->convertNewlines,
                                  c->out + c->produced, &consumed);
    c->carried = count - start - consumed;
    if (c->carried) c->carriedByte = bytes[count - 1];
}

}  // namespace

TranscodeResult TranscodeStream(PlatformFile input, PlatformFile output) {
    // Blocks are read in place where the platform can, which spares copying them; else,
    // and from the first time it cannot, into inBlock. Output goes out in whole pages: a
    // write that ends inside a page makes the next one start there, which costs the system
    // more than the conversion saves. Less than a page is held back, but never while the
    // input waits: after a read that brought less than asked (a pipe that pauses, the end
    // of a file) everything converted is written. It is also written before a read failure
    // is reported, so nothing converted is lost; the read failure is what is reported even
    // when that write fails too. One spare input byte carries a character cut by the end
    // of a block.
    //
    // Where the platform writes ahead, a block's output is handed over and the next block
    // converts into the other output block meanwhile; that write is waited for before the
    // next one starts and before any outcome, so that a failed write is still the outcome
    // and nothing is written after it, and a read failure is reported only once what came
    // before it is written.
    enum { PAGE = 4096 };
    static unsigned char inBlock[TRANSCODE_BLOCK_SIZE + 1];
    static unsigned char outBlocks[2][PAGE + TranscodeOutputCapacity(TRANSCODE_BLOCK_SIZE + 1)];
    const int ahead = PlatformWritesAhead(output);
    unsigned char *outBlock = outBlocks[0];
    int writing = 0;  // the other output block is being written
    InPlace state = {ProgramState.direction, ProgramState.convertNewlines, outBlock, 0, 0, 0};
    int inPlace = 1;
    size_t held = 0;

    for (;;) {
        unsigned long got = 0;
        InPlace next = state;
        next.out = outBlock + held;
        if (inPlace && PlatformReadInPlace(input, TRANSCODE_BLOCK_SIZE, &got, ConvertInPlace, &next)) {
            state = next;
            held += state.produced;
        } else {
            inPlace = 0;
            inBlock[0] = state.carriedByte;
            if (!PlatformRead(input, inBlock + state.carried, TRANSCODE_BLOCK_SIZE, &got)) {
                const PlatformFailure readFailure = PlatformLastFailure();
                if (writing && !PlatformWriteFinish(output)) return WriteFailed;
                if (held > 0) PlatformWrite(output, outBlock, (unsigned long)held);
                PlatformSetLastFailure(readFailure);  // the reason reported is the read's
                return ReadFailed;
            }
            size_t available = state.carried + got;
            size_t consumed = 0;
            held += TranscodeChunk(inBlock, available, got == 0, state.direction, state.convertNewlines,
                                   outBlock + held, &consumed);
            state.carried = available - consumed;
            if (state.carried) state.carriedByte = inBlock[consumed];
        }
        size_t ready = got < TRANSCODE_BLOCK_SIZE ? held : held - held % PAGE;
        if (writing) {
            writing = 0;
            if (!PlatformWriteFinish(output)) return WriteFailed;
        }
        if (ready > 0 && ahead) {
            PlatformWriteStart(output, outBlock, (unsigned long)ready);
            writing = 1;
        } else if (ready > 0 && !PlatformWrite(output, outBlock, (unsigned long)ready)) {
            return WriteFailed;
        }
        if (got == 0) return writing && !PlatformWriteFinish(output) ? WriteFailed : Completed;
        held -= ready;
        unsigned char *nextBlock = writing ? outBlocks[outBlock == outBlocks[0]] : outBlock;
        if (held > 0) memmove(nextBlock, outBlock + ready, held);
        outBlock = nextBlock;
    }
}
