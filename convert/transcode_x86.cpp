// The vector paths for x86: the steps of transcode_steps.inc over 16-byte SSE2 vectors and,
// on x86-64, over 32-byte AVX2 vectors. Each function is compiled for its instruction set
// by a target attribute, not by the build's flags, so the rest of the program runs on any
// processor of the target and transcode.cpp asks the processor before calling these.
#include "transcode_steps.h"

#include <stdint.h>

#include "program_state.h"
#include "transcode_rules.h"

#if defined(__i386__) || defined(__x86_64__)

#include <immintrin.h>

namespace sse2 {

#define KAVO_TARGET __attribute__((target("sse2")))
#define KAVO_VECTOR __attribute__((target("sse2"), always_inline))

struct V {
    typedef __m128i Vec;
    enum { WIDTH = 16 };

    KAVO_VECTOR static Vec Load(const unsigned char *p) { return _mm_loadu_si128((const __m128i *)p); }
    KAVO_VECTOR static void Store(unsigned char *p, Vec v) { _mm_storeu_si128((__m128i *)p, v); }
    KAVO_VECTOR static Vec LoadAligned(const unsigned char *p) { return _mm_load_si128((const __m128i *)p); }
    KAVO_VECTOR static Vec Add(Vec a, Vec b) { return _mm_add_epi8(a, b); }
    KAVO_VECTOR static Vec Sub(Vec a, Vec b) { return _mm_sub_epi8(a, b); }
    KAVO_VECTOR static Vec And(Vec a, Vec b) { return _mm_and_si128(a, b); }
    KAVO_VECTOR static Vec Xor(Vec a, Vec b) { return _mm_xor_si128(a, b); }
    // Compares give 0xFF where true, 0 where false.
    KAVO_VECTOR static Vec Eq(Vec a, Vec b) { return _mm_cmpeq_epi8(a, b); }
    KAVO_VECTOR static Vec GtSigned(Vec a, Vec b) { return _mm_cmpgt_epi8(a, b); }
    // (a + b + 1) / 2, unsigned, without overflow.
    KAVO_VECTOR static Vec Average(Vec a, Vec b) { return _mm_avg_epu8(a, b); }
    KAVO_VECTOR static Vec Select(Vec mask, Vec ifSet, Vec otherwise) {
        return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, otherwise));
    }
    // Bit k is the top bit of byte k.
    KAVO_VECTOR static uint32_t Bits(Vec x) { return (uint32_t)_mm_movemask_epi8(x); }
    // The position of the lowest bit set, 64 when there is none, without a branch.
    KAVO_VECTOR static size_t Lowest(uint64_t bits) { return (size_t)__builtin_ctzll(bits | 1ULL << 63) + (bits == 0); }
    // Byte k is 0xFF where bit k of the low 16 bits is set.
    KAVO_VECTOR static Vec FromBits(uint64_t bits) {
        __m128i spread = _mm_cvtsi32_si128((int)(bits & 0xFFFF));
        spread = _mm_unpacklo_epi8(spread, spread);
        spread = _mm_unpacklo_epi16(spread, spread);
        spread = _mm_unpacklo_epi32(spread, spread);  // the low byte eight times, then the next
        const __m128i select = _mm_set1_epi64x((long long)0x8040201008040201ULL);  // bit k of byte k
        return _mm_cmpeq_epi8(_mm_and_si128(spread, select), select);
    }
    // The bytes of x one position on, with the last byte of `before` first.
    KAVO_VECTOR static Vec AfterByte(Vec x, Vec before) {
        return _mm_or_si128(_mm_slli_si128(x, 1), _mm_srli_si128(before, 15));
    }
};

#include "transcode_steps.inc"

#undef KAVO_TARGET
#undef KAVO_VECTOR

}  // namespace sse2

const TranscodeStepSet SSE2_STEPS = {sse2::SjisToEucSteps, sse2::EucToSjisSteps};

#endif

#if defined(__x86_64__)

namespace avx2 {

#define KAVO_TARGET __attribute__((target("avx2,bmi,bmi2")))
#define KAVO_VECTOR __attribute__((target("avx2,bmi,bmi2"), always_inline))

struct V {
    typedef __m256i Vec;
    enum { WIDTH = 32 };

    KAVO_VECTOR static Vec Load(const unsigned char *p) { return _mm256_loadu_si256((const __m256i *)p); }
    KAVO_VECTOR static void Store(unsigned char *p, Vec v) { _mm256_storeu_si256((__m256i *)p, v); }
    KAVO_VECTOR static Vec LoadAligned(const unsigned char *p) { return _mm256_load_si256((const __m256i *)p); }
    KAVO_VECTOR static Vec Add(Vec a, Vec b) { return _mm256_add_epi8(a, b); }
    KAVO_VECTOR static Vec Sub(Vec a, Vec b) { return _mm256_sub_epi8(a, b); }
    KAVO_VECTOR static Vec And(Vec a, Vec b) { return _mm256_and_si256(a, b); }
    KAVO_VECTOR static Vec Xor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
    KAVO_VECTOR static Vec Eq(Vec a, Vec b) { return _mm256_cmpeq_epi8(a, b); }
    KAVO_VECTOR static Vec GtSigned(Vec a, Vec b) { return _mm256_cmpgt_epi8(a, b); }
    KAVO_VECTOR static Vec Average(Vec a, Vec b) { return _mm256_avg_epu8(a, b); }
    KAVO_VECTOR static Vec Select(Vec mask, Vec ifSet, Vec otherwise) {
        return _mm256_blendv_epi8(otherwise, ifSet, mask);
    }
    KAVO_VECTOR static uint32_t Bits(Vec x) { return (uint32_t)_mm256_movemask_epi8(x); }
    KAVO_VECTOR static size_t Lowest(uint64_t bits) { return (size_t)_tzcnt_u64(bits); }  // 64 for none
    // Byte k is 0xFF where bit k of the low 32 bits is set: each byte of the mask goes to
    // eight bytes, which keep one bit each.
    KAVO_VECTOR static Vec FromBits(uint64_t bits) {
        const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1,
                                                2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
        const __m256i select = _mm256_set1_epi64x((long long)0x8040201008040201ULL);
        __m256i bytes = _mm256_shuffle_epi8(_mm256_set1_epi32((int)(uint32_t)bits), spread);
        return _mm256_cmpeq_epi8(_mm256_and_si256(bytes, select), select);
    }
    // Across the two 128-bit halves: the byte before each half's first is the last of the
    // half before, which the permutation lines up.
    KAVO_VECTOR static Vec AfterByte(Vec x, Vec before) {
        return _mm256_alignr_epi8(x, _mm256_permute2x128_si256(before, x, 0x21), 15);
    }
};

#include "transcode_steps.inc"

#undef KAVO_TARGET
#undef KAVO_VECTOR

}  // namespace avx2

const TranscodeStepSet AVX2_STEPS = {avx2::SjisToEucSteps, avx2::EucToSjisSteps};

#endif
