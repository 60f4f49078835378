// The guess's steps with SSE2 (16-byte vectors) and, on x86-64, AVX2 (32-byte vectors, and
// the bit instructions that come with it). Each is compiled for its set by a target
// attribute, not by the build's flags; guess.cpp calls one only on a processor that has
// its set.
#include "guess_steps.h"

#if defined(__i386__) || defined(__x86_64__)

#include <immintrin.h>

namespace kavo_guess {

namespace sse2 {

#define KAVO_TARGET __attribute__((target("sse2")))
#define KAVO_VECTOR __attribute__((target("sse2"), always_inline))

struct V {
    typedef __m128i Vec;
    enum { WIDTH = 16 };
    KAVO_VECTOR static Vec Load(const unsigned char *p) { return _mm_loadu_si128((const __m128i *)p); }
    KAVO_VECTOR static Vec Set(int c) { return _mm_load_si128((const __m128i *)GUESS_SPLAT.rows[c & 0xFF].bytes); }
    KAVO_VECTOR static Vec Sub(Vec a, Vec b) { return _mm_sub_epi8(a, b); }
    KAVO_VECTOR static Vec Xor(Vec a, Vec b) { return _mm_xor_si128(a, b); }
    KAVO_VECTOR static Vec Or(Vec a, Vec b) { return _mm_or_si128(a, b); }
    KAVO_VECTOR static Vec And(Vec a, Vec b) { return _mm_and_si128(a, b); }
    KAVO_VECTOR static Vec AndNot(Vec a, Vec b) { return _mm_andnot_si128(a, b); }  // ~a & b
    KAVO_VECTOR static Vec Eq(Vec a, Vec b) { return _mm_cmpeq_epi8(a, b); }
    KAVO_VECTOR static Vec Lt(Vec a, Vec b) { return _mm_cmplt_epi8(a, b); }
    KAVO_VECTOR static uint32_t Bits(Vec x) { return (uint32_t)_mm_movemask_epi8(x); }
};

#include "guess_steps.inc"

#undef KAVO_TARGET
#undef KAVO_VECTOR

}  // namespace sse2

void StepsSse2(GuessState *s, const unsigned char *p, size_t steps, const Tables &t) { sse2::Steps(s, p, steps, t); }

}  // namespace kavo_guess

#endif

#if defined(__x86_64__)

namespace kavo_guess {

namespace avx2 {

#define KAVO_TARGET __attribute__((target("avx2,bmi,bmi2,popcnt")))
#define KAVO_VECTOR __attribute__((target("avx2,bmi,bmi2,popcnt"), always_inline))

struct V {
    typedef __m256i Vec;
    enum { WIDTH = 32 };
    KAVO_VECTOR static Vec Load(const unsigned char *p) { return _mm256_loadu_si256((const __m256i *)p); }
    KAVO_VECTOR static Vec Set(int c) {
        return _mm256_load_si256((const __m256i *)GUESS_SPLAT.rows[c & 0xFF].bytes);
    }
    KAVO_VECTOR static Vec Sub(Vec a, Vec b) { return _mm256_sub_epi8(a, b); }
    KAVO_VECTOR static Vec Xor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
    KAVO_VECTOR static Vec Or(Vec a, Vec b) { return _mm256_or_si256(a, b); }
    KAVO_VECTOR static Vec And(Vec a, Vec b) { return _mm256_and_si256(a, b); }
    KAVO_VECTOR static Vec AndNot(Vec a, Vec b) { return _mm256_andnot_si256(a, b); }
    KAVO_VECTOR static Vec Eq(Vec a, Vec b) { return _mm256_cmpeq_epi8(a, b); }
    KAVO_VECTOR static Vec Lt(Vec a, Vec b) { return _mm256_cmpgt_epi8(b, a); }
    KAVO_VECTOR static uint32_t Bits(Vec x) { return (uint32_t)_mm256_movemask_epi8(x); }
};

#include "guess_steps.inc"

#undef KAVO_TARGET
#undef KAVO_VECTOR

}  // namespace avx2

void StepsAvx2(GuessState *s, const unsigned char *p, size_t steps, const Tables &t) { avx2::Steps(s, p, steps, t); }

}  // namespace kavo_guess

#endif
