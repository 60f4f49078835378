// The vector paths' steps (64 bytes, or 32 in the 32-bit build), one set per instruction
// set. Each set is compiled for its instruction set alone (transcode_x86.cpp);
// transcode.cpp calls a set only on a processor that has that set.
#ifndef KAVO_TRANSCODE_STEPS_H
#define KAVO_TRANSCODE_STEPS_H

#include <stddef.h>

// Converts in[0, length) a step at a time and stops with no more than a step's bytes
// left, at a character boundary, for the one-at-a-time loop to finish. `newlines` is 1
// when the newline rule applies, else 0. Returns the bytes written to out (which has
// TranscodeOutputCapacity(length) bytes); *consumed receives the input bytes used.
typedef size_t (*TranscodeSteps)(const unsigned char *in, size_t length, int newlines, unsigned char *out,
                                 size_t *consumed);

// TRANSCODE_SPLAT.rows[v]: 64 bytes of value v, the vector paths' constants.
struct TranscodeSplat {
    alignas(64) unsigned char bytes[64];
};
struct TranscodeSplatTable {
    TranscodeSplat rows[256];
};
extern const TranscodeSplatTable TRANSCODE_SPLAT;

struct TranscodeStepSet {
    TranscodeSteps sjisToEuc;
    TranscodeSteps eucToSjis;
};

#if defined(__i386__) || defined(__x86_64__)
extern const TranscodeStepSet SSE2_STEPS;
extern const TranscodeStepSet SSSE3_STEPS;
extern const TranscodeStepSet AVX2_STEPS;
#endif

#endif
