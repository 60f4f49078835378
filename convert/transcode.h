// The byte-stream transcoder: Shift_JIS <-> EUC-JP with an optional newline rule, as
// ProgramState selects. Strictly in order, in fixed-size blocks, with memory that does
// not depend on the size of the input.
#ifndef KAVO_TRANSCODE_H
#define KAVO_TRANSCODE_H

#include <stddef.h>

#include "platform.h"

enum TranscodeResult { Completed, ReadFailed, WriteFailed };

// Large enough that the system's per-call and per-page work stays small beside the
// conversion; measured file to file, 64 KiB blocks were 10-25 % slower.
enum { TRANSCODE_BLOCK_SIZE = 1024 * 1024 };

// Bytes `out` must hold for an input of `length` bytes: two for every input byte (a
// half-width katakana byte or an LF under the newline rule doubles) plus room for the
// whole-vector stores of the fast paths.
constexpr size_t TranscodeOutputCapacity(size_t length) { return 2 * length + 64; }

// The ways of converting that a build can have, plainest first: "plain" (one character at a
// time, in every build), "sse2" (x86, 64 bytes a step, 32 in the 32-bit build, in 16-byte vectors), "ssse3"
// (x86, the same, with line ends and the other bytes that change the length written by byte
// shuffles) and "avx2" (x86, as "ssse3" in 32-byte vectors). Every path writes the same
// bytes. At start the last one that this build has and this processor can run is taken.
enum { TRANSCODE_MAX_PATHS = 4 };

// Puts into names the paths this build has and this processor can run, plainest first,
// and returns how many there are (at least 1: "plain").
int TranscodePaths(const char *names[TRANSCODE_MAX_PATHS]);

// Makes every later conversion take the named path. Returns 0, changing nothing, when it
// is not among TranscodePaths.
int TranscodeSelectPath(const char *name);

// The name of the path in use.
const char *TranscodeCurrentPath(void);

// Converts in[0, length) into out and returns the number of bytes written there.
// `direction` 0 is Shift_JIS to EUC-JP, anything else EUC-JP to Shift_JIS; the newline
// rule applies only when `convertNewlines` is 1. Unless `atEnd` is nonzero, a last byte
// that cannot be converted without the next one (a first byte of a two-byte character,
// the EUC-JP katakana prefix, a CR under the newline rule towards EUC-JP) is left
// unconsumed. *consumed receives the number of input bytes used: length, or length - 1.
// At the end of the input such a byte is written unchanged.
size_t TranscodeChunk(const unsigned char *in, size_t length, int atEnd, unsigned char direction,
                      unsigned char convertNewlines, unsigned char *out, size_t *consumed);

// Reads `input` to its end (in place where PlatformReadInPlace can, else by copying) and
// writes its conversion to `output`, with the settings in ProgramState. Neither file is
// opened or closed here. Whenever a read brings less than a block (a pipe that pauses),
// everything converted so far is written before the next read. Where the platform writes
// ahead, a block is written while the next one converts, and every write is done before
// this returns. On ReadFailed everything converted before the failing read has been
// offered to `output` (a write failing then does not change the result); on WriteFailed
// nothing more is written.
TranscodeResult TranscodeStream(PlatformFile input, PlatformFile output);

#endif
