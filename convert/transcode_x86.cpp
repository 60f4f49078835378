// The vector paths for x86: the steps of transcode_steps.inc over 16-byte SSE2 vectors, the
// same with SSSE3's byte shuffle, and over 32-byte AVX2 vectors. Each function
// is compiled for its instruction set by a target attribute, not by the build's flags, so
// the rest of the program runs on any processor of the target and transcode.cpp asks the
// processor before calling these.
#include "transcode_steps.h"

#include <stdint.h>

#include "program_state.h"
#include "transcode_rules.h"

#if defined(__i386__) || defined(__x86_64__)

#include <immintrin.h>

namespace {

// Shuffles that write eight input bytes with some left out or with a byte put in before
// some, for the sets that shuffle bytes. Row m of a table serves the mask m of the eight
// (bit k for byte k); the shuffles in two forms, [0] for the first eight bytes of a 16-byte
// lane, [1] for the second. compact[h][8 m ...]: the positions of the bytes m leaves, in
// order; kept[m]: how many. expand[h][16 m ...]: for each byte written, the position of its
// input byte, or 0x80 and more (which the shuffle makes 0) where the byte put in goes;
// grown[m]: how many, 8 and one for each bit.
struct PackTables {
    alignas(16) unsigned char expand[2][256 * 16];
    unsigned char compact[2][256 * 8];
    unsigned char kept[256];
    unsigned char grown[256];
};

constexpr PackTables MakePackTables() {
    PackTables t = {};
    for (int m = 0; m < 256; m++) {
        int kept = 0, grown = 0;
        for (int k = 0; k < 8; k++) {
            if (m >> k & 1) {
                t.expand[0][16 * m + grown++] = 0x80;
            } else {
                t.compact[0][8 * m + kept++] = (unsigned char)k;
            }
            t.expand[0][16 * m + grown++] = (unsigned char)k;
        }
        t.kept[m] = (unsigned char)kept;
        t.grown[m] = (unsigned char)grown;
        for (int k = 0; k < 16; k++) t.expand[1][16 * m + k] = (unsigned char)(t.expand[0][16 * m + k] + 8);
        for (int k = 0; k < 8; k++) t.compact[1][8 * m + k] = (unsigned char)(t.compact[0][8 * m + k] + 8);
    }
    return t;
}

const PackTables PACK = MakePackTables();

}  // namespace

namespace sse2 {

#define KAVO_TARGET __attribute__((target("sse2")))
#define KAVO_VECTOR __attribute__((target("sse2"), always_inline))

struct V {
    typedef __m128i Vec;
#if defined(__x86_64__)
    typedef uint64_t Mask;
    enum { WIDTH = 16, STEP = 64, SHUFFLES = 0 };
#else
    // Steps of 32 bytes: the masks of 64 would take two of the few registers each.
    typedef uint32_t Mask;
    enum { WIDTH = 16, STEP = 32, SHUFFLES = 0 };
#endif

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
    // The position of the lowest bit set, STEP when there is none, without a branch.
    KAVO_VECTOR static size_t Lowest(Mask bits) {
        if (STEP == 64) return (size_t)__builtin_ctzll(bits | 1ULL << 63) + (bits == 0);
        return (size_t)__builtin_ctz((uint32_t)bits | 1U << 31) + (bits == 0);
    }
    // Byte k is 0xFF where bit k of the low 16 bits is set.
    KAVO_VECTOR static Vec FromBits(Mask bits) {
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

namespace ssse3 {

#define KAVO_TARGET __attribute__((target("ssse3")))
#define KAVO_VECTOR __attribute__((target("ssse3"), always_inline))

// SSE2's vectors, and SSSE3's byte shuffle to write them with bytes left out or put in.
struct V : sse2::V {
    enum { SHUFFLES = 1 };

    // Writes the STEP bytes of v whose bit in leftOut is clear, in order, at o and returns
    // how many. Writes up to STEP bytes from o.
    KAVO_VECTOR static size_t Compact(const Vec *v, Mask leftOut, unsigned char *o) {
        size_t at = 0;
        #pragma GCC unroll 4
        for (int q = 0; q < STEP / WIDTH; q++) {
            size_t low = leftOut >> 16 * q & 0xFF, high = leftOut >> (16 * q + 8) & 0xFF;
            __m128i shuffle = _mm_unpacklo_epi64(_mm_loadl_epi64((const __m128i *)&PACK.compact[0][8 * low]),
                                                 _mm_loadl_epi64((const __m128i *)&PACK.compact[1][8 * high]));
            __m128i packed = _mm_shuffle_epi8(v[q], shuffle);
            _mm_storel_epi64((__m128i *)(o + at), packed);
            at += PACK.kept[low];
            _mm_storeh_pi((__m64 *)(o + at), _mm_castsi128_ps(packed));
            at += PACK.kept[high];
        }
        return at;
    }
    // Writes the STEP bytes of v at o, with the byte of `inserted` before each whose bit in
    // `before` is set, and returns how many. Writes up to 2 STEP bytes from o.
    KAVO_VECTOR static size_t Expand(const Vec *v, Mask before, Vec inserted, unsigned char *o) {
        size_t at = 0;
        #pragma GCC unroll 8
        for (int g = 0; g < STEP / 8; g++) {
            size_t m = before >> 8 * g & 0xFF;
            __m128i shuffle = _mm_load_si128((const __m128i *)&PACK.expand[g & 1][16 * m]);
            __m128i put = _mm_and_si128(_mm_cmpgt_epi8(_mm_setzero_si128(), shuffle), inserted);  // where 0x80 was
            _mm_storeu_si128((__m128i *)(o + at), _mm_or_si128(_mm_shuffle_epi8(v[g / 2], shuffle), put));
            at += PACK.grown[m];
        }
        return at;
    }
};

#include "transcode_steps.inc"

#undef KAVO_TARGET
#undef KAVO_VECTOR

}  // namespace ssse3

const TranscodeStepSet SSSE3_STEPS = {ssse3::SjisToEucSteps, ssse3::EucToSjisSteps};

namespace avx2 {

#define KAVO_TARGET __attribute__((target("avx2,bmi,bmi2,popcnt")))
#define KAVO_VECTOR __attribute__((target("avx2,bmi,bmi2,popcnt"), always_inline))

struct V {
    typedef __m256i Vec;
#if defined(__x86_64__)
    typedef uint64_t Mask;
    enum { WIDTH = 32, STEP = 64 };
#else
    // Steps of one vector: the masks of 64 bytes would take two of the few registers each.
    typedef uint32_t Mask;
    enum { WIDTH = 32, STEP = 32 };
#endif
    enum { SHUFFLES = 1, LANES = STEP / WIDTH, EIGHTS = STEP / 8 };

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
#if defined(__x86_64__)
    KAVO_VECTOR static size_t Lowest(Mask bits) { return (size_t)_tzcnt_u64(bits); }  // STEP for none
#else
    KAVO_VECTOR static size_t Lowest(Mask bits) { return (size_t)_tzcnt_u32(bits); }
#endif
    // Byte k is 0xFF where bit k of the low 32 bits is set: each byte of the mask goes to
    // eight bytes, which keep one bit each.
    KAVO_VECTOR static Vec FromBits(Mask bits) {
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
    // Byte g of `bits` times 16, for each eight g of a step, by shifts. (pdep would do four
    // at a time, but it is microcoded on AMD processors before Zen 3, where it takes tens of
    // cycles: the newline rule towards Shift_JIS ran eight times slower there.)
    KAVO_VECTOR static void MaskBytesBy16(Mask bits, size_t m[EIGHTS]) {
        m[0] = (size_t)(bits << 4 & 0xFF0);
        #pragma GCC unroll 7
        for (int g = 1; g < EIGHTS; g++) m[g] = (size_t)(bits >> (8 * g - 4) & 0xFF0);
    }
    // As ssse3::V::Compact, for the step's 32-byte vectors: each shuffle packs each eight
    // within their half, and each eight is written where the last one ended.
    KAVO_VECTOR static size_t Compact(const Vec *v, Mask leftOut, unsigned char *o) {
        size_t m[EIGHTS];
        #pragma GCC unroll 8
        for (int g = 0; g < EIGHTS; g++) m[g] = leftOut >> 8 * g & 0xFF;
        __m128i packed[2 * LANES];
        #pragma GCC unroll 2
        for (int q = 0; q < LANES; q++) {
            __m128i shuffle[2];
            #pragma GCC unroll 2
            for (int h = 0; h < 2; h++)
                shuffle[h] = _mm_unpacklo_epi64(_mm_loadl_epi64((const __m128i *)&PACK.compact[0][8 * m[4 * q + 2 * h]]),
                                                _mm_loadl_epi64((const __m128i *)&PACK.compact[1][8 * m[4 * q + 2 * h + 1]]));
            __m256i both = _mm256_shuffle_epi8(v[q], _mm256_inserti128_si256(_mm256_castsi128_si256(shuffle[0]), shuffle[1], 1));
            packed[2 * q] = _mm256_castsi256_si128(both);
            packed[2 * q + 1] = _mm256_extracti128_si256(both, 1);
        }
        size_t at = 0;
        #pragma GCC unroll 4
        for (int k = 0; k < 2 * LANES; k++) {
            _mm_storel_epi64((__m128i *)(o + at), packed[k]);
            at += PACK.kept[m[2 * k]];
            _mm_storeh_pi((__m64 *)(o + at), _mm_castsi128_ps(packed[k]));
            at += PACK.kept[m[2 * k + 1]];
        }
        return at;
    }
    // As ssse3::V::Expand, for the step's 32-byte vectors: of each, one shuffle writes the
    // first eight of both halves, the other the second eight.
    KAVO_VECTOR static size_t Expand(const Vec *v, Mask before, Vec inserted, unsigned char *o) {
        size_t m[EIGHTS];  // where each eight's row of the table starts
        MaskBytesBy16(before, m);
        __m128i written[EIGHTS];
        #pragma GCC unroll 2
        for (int q = 0; q < LANES; q++) {
            #pragma GCC unroll 2
            for (int h = 0; h < 2; h++) {
                __m256i shuffle = _mm256_inserti128_si256(
                    _mm256_castsi128_si256(_mm_load_si128((const __m128i *)&PACK.expand[h][m[4 * q + h]])),
                    _mm_load_si128((const __m128i *)&PACK.expand[h][m[4 * q + h + 2]]), 1);
                __m256i both = _mm256_blendv_epi8(_mm256_shuffle_epi8(v[q], shuffle), inserted, shuffle);  // where 0x80 was
                written[4 * q + h] = _mm256_castsi256_si128(both);
                written[4 * q + h + 2] = _mm256_extracti128_si256(both, 1);
            }
        }
        size_t at = 0;  // 8 for each eight, and 1 for each bit of its mask
        #pragma GCC unroll 8
        for (int g = 0; g < EIGHTS; g++) {
            _mm_storeu_si128((__m128i *)(o + at), written[g]);
            at += 8 + (size_t)_mm_popcnt_u32((unsigned)m[g]);
        }
        return at;
    }
};

#include "transcode_steps.inc"

#undef KAVO_TARGET
#undef KAVO_VECTOR

}  // namespace avx2

const TranscodeStepSet AVX2_STEPS = {avx2::SjisToEucSteps, avx2::EucToSjisSteps};

#endif
