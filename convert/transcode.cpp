// The transcoder's loops. Each works one character at a time by the rules in
// transcode_rules.h; where SSE2 is available, runs of ASCII and runs of eight two-byte
// characters are handled sixteen bytes at a time with the same arithmetic.
#include "transcode.h"

#include <string.h>

#include "program_state.h"
#include "transcode_rules.h"

#if defined(__SSE2__) && !defined(KAVO_NO_SIMD)
#include <emmintrin.h>
#define KAVO_SIMD 1
#endif

namespace {

#ifdef KAVO_SIMD
inline __m128i Words(int value) { return _mm_set1_epi16((short)value); }

// How many leading bytes of v are ASCII and, when useStop is set, not equal to stop.
inline unsigned PlainPrefix(__m128i v, int useStop, __m128i stop) {
    unsigned mask = (unsigned)_mm_movemask_epi8(v);
    if (useStop) mask |= (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, stop));
    return mask ? (unsigned)__builtin_ctz(mask) : 16;
}

// How many of the eight 16-bit lanes, from the first, have a true compare result.
inline unsigned LeadingLanes(__m128i lanes) {
    unsigned mask = ~(unsigned)_mm_movemask_epi8(lanes) & 0xFFFF;
    return mask ? (unsigned)__builtin_ctz(mask) / 2 : 8;
}

// Converts the 16 bytes at p as eight Shift_JIS pairs and returns how many pairs, from
// the first, really are pairs (their first byte is a first byte); only those are valid
// in out. Returns 0 without writing when the first is not. Each 16-bit lane holds one
// pair: s1 in its low byte, s2 in its high byte. Mirrors SjisPairToEuc.
inline unsigned SjisPairsToEuc(const unsigned char *p, unsigned char *out) {
    const __m128i lowByte = Words(0x00FF);
    __m128i v = _mm_loadu_si128((const __m128i *)p);
    __m128i s1 = _mm_and_si128(v, lowByte);
    __m128i s2 = _mm_srli_epi16(v, 8);
    __m128i low = _mm_and_si128(_mm_cmpgt_epi16(s1, Words(0x80)), _mm_cmplt_epi16(s1, Words(0xA0)));
    __m128i high = _mm_and_si128(_mm_cmpgt_epi16(s1, Words(0xDF)), _mm_cmplt_epi16(s1, Words(0xFD)));
    unsigned pairs = LeadingLanes(_mm_or_si128(low, high));
    if (pairs == 0) return 0;

    __m128i base = _mm_sub_epi16(Words(0xB1), _mm_and_si128(low, Words(0x40)));  // 0x71 or 0xB1
    __m128i r = _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(s1, base), 1), Words(1));
    __m128i t = _mm_add_epi16(s2, _mm_cmpgt_epi16(s2, Words(0x7F)));  // a true compare is -1
    __m128i upper = _mm_cmpgt_epi16(t, Words(0x9D));
    t = _mm_sub_epi16(t, _mm_add_epi16(Words(0x1F), _mm_and_si128(upper, Words(0x7D - 0x1F))));
    r = _mm_sub_epi16(r, upper);
    // The masks and the shift keep each result to its low eight bits: the modulo-256 wrap.
    __m128i e1 = _mm_and_si128(_mm_add_epi16(r, Words(0x80)), lowByte);
    __m128i e2 = _mm_slli_epi16(_mm_add_epi16(t, Words(0x80)), 8);
    _mm_storeu_si128((__m128i *)out, _mm_or_si128(e1, e2));
    return pairs;
}

// As SjisPairsToEuc, for eight EUC-JP pairs; mirrors EucPairToSjis.
inline unsigned EucPairsToSjis(const unsigned char *p, unsigned char *out) {
    const __m128i lowByte = Words(0x00FF);
    const __m128i one = Words(1);
    __m128i v = _mm_loadu_si128((const __m128i *)p);
    __m128i s1 = _mm_and_si128(v, lowByte);
    __m128i s2 = _mm_srli_epi16(v, 8);
    __m128i lead = _mm_andnot_si128(_mm_cmpeq_epi16(s1, Words(EUC_KANA_PREFIX)), _mm_cmpgt_epi16(s1, Words(0x7F)));
    unsigned pairs = LeadingLanes(lead);
    if (pairs == 0) return 0;

    __m128i j1 = _mm_sub_epi16(s1, Words(0x80));  // s1 >= 0x80 here, so no wrap
    __m128i j2 = _mm_and_si128(_mm_add_epi16(s2, Words(0x80)), lowByte);
    __m128i odd = _mm_cmpeq_epi16(_mm_and_si128(j1, one), one);
    __m128i t = _mm_add_epi16(j2, _mm_sub_epi16(Words(0x7D), _mm_and_si128(odd, Words(0x7D - 0x1F))));
    t = _mm_and_si128(t, lowByte);
    __m128i r = _mm_srli_epi16(_mm_and_si128(_mm_sub_epi16(j1, Words(0x21)), lowByte), 1);
    r = _mm_and_si128(_mm_add_epi16(r, Words(0x81)), lowByte);
    t = _mm_sub_epi16(t, _mm_cmpgt_epi16(t, Words(0x7E)));
    r = _mm_add_epi16(r, _mm_and_si128(_mm_cmpgt_epi16(r, Words(0x9F)), Words(0x40)));
    __m128i out16 = _mm_or_si128(_mm_and_si128(r, lowByte), _mm_slli_epi16(t, 8));
    _mm_storeu_si128((__m128i *)out, out16);
    return pairs;
}
#endif

size_t SjisToEucChunk(const unsigned char *in, size_t length, int atEnd, int newlines, unsigned char *out,
                 size_t *consumed) {
    size_t i = 0;
    unsigned char *o = out;
#ifdef KAVO_SIMD
    const __m128i cr = _mm_set1_epi8(BYTE_CR);
#endif
    while (i < length) {
#ifdef KAVO_SIMD
        if (length - i >= 16) {
            __m128i v = _mm_loadu_si128((const __m128i *)(in + i));
            unsigned plain = PlainPrefix(v, newlines, cr);
            if (plain) {
                _mm_storeu_si128((__m128i *)o, v);  // the capacity leaves room for the spare bytes
                o += plain;
                i += plain;
                // The CR LF that ends most lines, without leaving the fast path.
                if (newlines && plain < 16 && in[i] == BYTE_CR && i + 1 < length && in[i + 1] == BYTE_LF) {
                    *o++ = BYTE_LF;
                    i += 2;
                }
                continue;
            }
            if (in[i] == BYTE_CR) {  // only a CR under the newline rule ends a prefix at once
                if (in[i + 1] == BYTE_LF) i++;
                *o++ = in[i++];
                continue;
            }
            unsigned pairs = SjisPairsToEuc(in + i, o);
            if (pairs) {
                o += 2 * pairs;
                i += 2 * pairs;
                continue;
            }
        }
#endif
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

size_t EucToSjisChunk(const unsigned char *in, size_t length, int atEnd, int newlines, unsigned char *out,
                 size_t *consumed) {
    size_t i = 0;
    unsigned char *o = out;
#ifdef KAVO_SIMD
    const __m128i lf = _mm_set1_epi8(BYTE_LF);
#endif
    while (i < length) {
#ifdef KAVO_SIMD
        if (length - i >= 16) {
            __m128i v = _mm_loadu_si128((const __m128i *)(in + i));
            unsigned plain = PlainPrefix(v, newlines, lf);
            if (plain) {
                _mm_storeu_si128((__m128i *)o, v);
                o += plain;
                i += plain;
                if (newlines && plain < 16 && in[i] == BYTE_LF) {
                    o[0] = BYTE_CR;
                    o[1] = BYTE_LF;
                    o += 2;
                    i++;
                }
                continue;
            }
            if (in[i] == BYTE_LF) {  // only an LF under the newline rule ends a prefix at once
                o[0] = BYTE_CR;
                o[1] = BYTE_LF;
                o += 2;
                i++;
                continue;
            }
            unsigned pairs = EucPairsToSjis(in + i, o);
            if (pairs) {
                o += 2 * pairs;
                i += 2 * pairs;
                continue;
            }
        }
#endif
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

}  // namespace

size_t TranscodeChunk(const unsigned char *in, size_t length, int atEnd, unsigned char direction,
                      unsigned char convertNewlines, unsigned char *out, size_t *consumed) {
    int newlines = convertNewlines == 1;
    if (direction == SjisToEuc) return SjisToEucChunk(in, length, atEnd, newlines, out, consumed);
    return EucToSjisChunk(in, length, atEnd, newlines, out, consumed);
}

TranscodeResult TranscodeStream(PlatformFile input, PlatformFile output) {
    // One spare input byte carries a character cut by the end of a block into the next.
    static unsigned char inBlock[TRANSCODE_BLOCK_SIZE + 1];
    static unsigned char outBlock[2 * (TRANSCODE_BLOCK_SIZE + 1) + 16];
    const unsigned char direction = ProgramState.direction;
    const unsigned char convertNewlines = ProgramState.convertNewlines;
    size_t carried = 0;

    for (;;) {
        unsigned long got = 0;
        // Everything converted so far has been written, so a failing read loses nothing
        // but the carried byte, whose character was never complete.
        if (!PlatformRead(input, inBlock + carried, TRANSCODE_BLOCK_SIZE, &got)) return ReadFailed;
        size_t available = carried + got;
        int atEnd = got == 0;
        size_t consumed = 0;
        size_t produced = TranscodeChunk(inBlock, available, atEnd, direction, convertNewlines, outBlock, &consumed);
        if (produced > 0 && !PlatformWrite(output, outBlock, (unsigned long)produced)) return WriteFailed;
        if (atEnd) return Completed;
        carried = available - consumed;
        if (carried > 0) memmove(inBlock, inBlock + consumed, carried);
    }
}
