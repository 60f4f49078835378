// The guess's vector paths: what guess.cpp shares with the steps of 64 bytes, and the steps
// themselves, compiled once per instruction set (guess_x86.cpp includes guess_steps.inc in
// a namespace of each set's own). Only guess.cpp and guess_x86.cpp include this.
#ifndef KAVO_GUESS_STEPS_H
#define KAVO_GUESS_STEPS_H

#include <stddef.h>
#include <stdint.h>

#include "guess.h"

namespace kavo_guess {

enum { GUESS_STEP = 64 };

// The steps add up each character's counts in one 64-bit word, FIELD bits each: its weight
// plus WEIGHT_BIAS (never negative), kana, outside, common, half-width. A step has at most
// 32 pairs, whose sums fit.
enum { FIELD = 12, WEIGHT_BIAS = 6, CLASS_COUNT = 14 };

struct Tables {
    // The class of the pair (first << 8 | second) in Shift_JIS [0] and EUC-JP [1]. Only
    // the pairs each reading accepts are filled in.
    unsigned char pairClass[2][65536];
    // Bit (first << 8 | second) of [d]: the conversion in direction d turns the pair into
    // bytes that convert back into it, read as one character there.
    unsigned char comesBack[2][65536 / 8];
    uint64_t increment[CLASS_COUNT];  // by class, as above
    unsigned char rare[CLASS_COUNT];  // the classes of kanji outside the 1,000 most common
    unsigned char kanji[CLASS_COUNT]; // the classes of kanji
};

// One more of a reading's first kanji.
inline void NoteKanji(GuessReading *r, int rare) {
    if (r->kanji >= GUESS_KANJI_SEEN) return;
    r->kanji++;
    r->rareKanji += rare;
}

const Tables &TheTables();

// GUESS_SPLAT.rows[v]: 32 bytes of value v, the steps' constants. Defined apart from the
// steps, so that the compiler reads them as operands instead of building each one afresh
// in every step when registers run short.
struct Splat {
    alignas(32) unsigned char bytes[32];
};
struct SplatTable {
    Splat rows[256];
};
extern const SplatTable GUESS_SPLAT;

inline int ComesBack(const Tables &t, int direction, unsigned char first, unsigned char second) {
    const int pair = first << 8 | second;
    return t.comesBack[direction][pair >> 3] >> (pair & 7) & 1;
}

// A byte at a time: each reading, and the damage (with the byte's offset and line).
void FeedSjis(GuessReading *r, unsigned char b, const Tables &t);
void FeedEuc(GuessReading *r, unsigned char b, const Tables &t);
void FeedUtf8(GuessReading *r, unsigned char b);
void Drop(GuessReading *r);
// Adds `count` characters whose increments add up to `sum`.
inline void CountSum(GuessReading *r, uint64_t sum, unsigned count) {
    const uint64_t field = (1u << FIELD) - 1;
    r->score += (long long)(sum & field) - (long long)WEIGHT_BIAS * count;
    r->kana += sum >> FIELD & field;
    r->outside += sum >> 2 * FIELD & field;
    r->common += sum >> 3 * FIELD & field;
    r->halfWidthKana += sum >> 4 * FIELD & field;
    r->characters += count;
}
void NoteDamage(GuessDamage *d, unsigned long long offset, unsigned long long line);

// The line of the next byte, from the line ends counted so far. A first byte waiting for
// its second is on the line of the byte after it.
inline unsigned long long LineNow(const GuessState *s) { return s->crlf + s->lf + s->cr + 1; }

// Guesses steps * 64 bytes at p, a step at a time; the byte after them is there.
typedef void (*StepKernel)(GuessState *s, const unsigned char *p, size_t steps, const Tables &t);
#if defined(__i386__) || defined(__x86_64__)
void StepsSse2(GuessState *s, const unsigned char *p, size_t steps, const Tables &t);
#endif
#if defined(__x86_64__)
void StepsAvx2(GuessState *s, const unsigned char *p, size_t steps, const Tables &t);
#endif

}  // namespace kavo_guess

#endif
