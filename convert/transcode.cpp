// The transcoder's loops. Each works one character at a time by the rules in
// transcode_rules.h. Where SSE2 is available, sixty-four bytes are taken at a time: every
// byte is converted both as a first byte and as a second byte, with the same arithmetic
// as the rules, and the character boundaries pick which result each byte keeps.
#include "transcode.h"

#include <stdint.h>
#include <string.h>

#include "program_state.h"
#include "transcode_rules.h"

#if defined(__SSE2__) && !defined(KAVO_NO_SIMD)
#include <emmintrin.h>
#define KAVO_SIMD 1
#endif

namespace {

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

#ifdef KAVO_SIMD

inline __m128i Bytes(int value) { return _mm_set1_epi8((char)value); }

// Unsigned x <= limit, byte by byte.
inline __m128i AtMost(__m128i x, int limit) { return _mm_cmpeq_epi8(_mm_min_epu8(x, Bytes(limit)), x); }

// Unsigned x >= limit, byte by byte.
inline __m128i AtLeast(__m128i x, int limit) { return _mm_cmpeq_epi8(_mm_max_epu8(x, Bytes(limit)), x); }

// Bytes set to 0xFF where the matching bit of the 16-bit mask is set.
inline __m128i ByteMask(unsigned bits) {
    const __m128i select = _mm_set_epi8((char)0x80, 0x40, 0x20, 0x10, 8, 4, 2, 1, (char)0x80, 0x40, 0x20, 0x10, 8, 4, 2, 1);
    __m128i spread = _mm_set_epi64x((long long)(((bits >> 8) & 0xFF) * 0x0101010101010101ULL),
                                    (long long)((bits & 0xFF) * 0x0101010101010101ULL));
    return _mm_cmpeq_epi8(_mm_and_si128(spread, select), select);
}

// Bytes that can start a two-byte character.
template <int DIRECTION>
inline __m128i FirstBytes(__m128i s) {
    if (DIRECTION == SjisToEuc)
        return _mm_or_si128(AtMost(_mm_sub_epi8(s, Bytes(0x81)), 0x9F - 0x81),
                            AtMost(_mm_sub_epi8(s, Bytes(0xE0)), 0xFC - 0xE0));
    return _mm_andnot_si128(_mm_cmpeq_epi8(s, Bytes(EUC_KANA_PREFIX)), _mm_cmplt_epi8(s, _mm_setzero_si128()));
}

// SjisPairToEuc for the sixteen pairs (s1[k], s2[k]), byte arithmetic wrapping as there.
inline void SjisPairsToEuc(__m128i s1, __m128i s2, __m128i *e1, __m128i *e2) {
    __m128i base = _mm_sub_epi8(Bytes(0xB1), _mm_and_si128(AtMost(s1, 0x9F), Bytes(0x40)));  // 0x71 or 0xB1
    __m128i d = _mm_sub_epi8(s1, base);
    __m128i r = _mm_add_epi8(_mm_add_epi8(d, d), Bytes(1));
    __m128i t = _mm_add_epi8(s2, _mm_cmplt_epi8(s2, _mm_setzero_si128()));  // minus 1 from 0x80 up
    __m128i upper = AtLeast(t, 0x9E);
    t = _mm_sub_epi8(t, _mm_add_epi8(Bytes(0x1F), _mm_and_si128(upper, Bytes(0x7D - 0x1F))));
    r = _mm_sub_epi8(r, upper);  // a true compare is -1
    *e1 = _mm_add_epi8(r, Bytes(0x80));
    *e2 = _mm_add_epi8(t, Bytes(0x80));
}

// EucPairToSjis for the sixteen pairs (s1[k], s2[k]).
inline void EucPairsToSjis(__m128i s1, __m128i s2, __m128i *e1, __m128i *e2) {
    __m128i j1 = _mm_add_epi8(s1, Bytes(0x80));
    __m128i j2 = _mm_add_epi8(s2, Bytes(0x80));
    __m128i odd = _mm_cmpeq_epi8(_mm_and_si128(j1, Bytes(1)), Bytes(1));
    __m128i t = _mm_add_epi8(j2, _mm_sub_epi8(Bytes(0x7D), _mm_and_si128(odd, Bytes(0x7D - 0x1F))));
    // A byte shift right: shift the 16-bit lanes and clear what crossed from the byte above.
    __m128i r = _mm_and_si128(_mm_srli_epi16(_mm_sub_epi8(j1, Bytes(0x21)), 1), Bytes(0x7F));
    r = _mm_add_epi8(r, Bytes(0x81));
    t = _mm_sub_epi8(t, AtLeast(t, 0x7F));
    r = _mm_add_epi8(r, _mm_andnot_si128(AtMost(r, 0x9F), Bytes(0x40)));
    *e1 = r;
    *e2 = t;
}

// Converts in[0, length) sixty-four bytes at a time, and stops with fewer than 65 bytes
// left, at a character boundary. Every byte is converted by the pair rules both as a first
// and as a second byte; where the characters begin picks which result it keeps. The bytes
// the pair rules do not cover are then written one at a time by `special`: in Shift_JIS, a
// half-width katakana byte, a dropped byte and, under the newline rule, a CR; in EUC-JP,
// the katakana prefix and, under the newline rule, an LF (`stop` is that line-end byte).
// `special(text, at, o)` writes the unit at text[at] to o and returns its length in bytes.
// Returns the bytes written; *consumed, the bytes used.
template <int DIRECTION, typename Special>
size_t ConvertBlocks(const unsigned char *in, size_t length, int newlines, int stop, unsigned char *out,
                     size_t *consumed, Special special) {
    const uint64_t EVEN = 0x5555555555555555ULL;
    const __m128i stopBytes = Bytes(stop);
    alignas(16) unsigned char converted[64 + 64] = {};  // room to read 64 from any offset
    size_t i = 0;
    unsigned char *o = out;
    uint64_t carry = 0;  // 1: the first byte is the second byte of a character begun before
    __m128i lastE2 = _mm_setzero_si128();

    while (length - i >= 65) {
        const unsigned char *p = in + i;
        __m128i s1[4];
        uint64_t high = 0, firsts = 0, stops = 0;
        for (int q = 0; q < 4; q++) {
            s1[q] = _mm_loadu_si128((const __m128i *)(p + 16 * q));
            high |= (uint64_t)(unsigned)_mm_movemask_epi8(s1[q]) << (16 * q);
            firsts |= (uint64_t)(unsigned)_mm_movemask_epi8(FirstBytes<DIRECTION>(s1[q])) << (16 * q);
            if (newlines) stops |= (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(s1[q], stopBytes)) << (16 * q);
        }
        uint64_t specials;
        if ((high | carry) == 0) {  // ASCII only: nothing to convert but the line ends
            if (stops == 0) {
                for (int q = 0; q < 4; q++) _mm_storeu_si128((__m128i *)(o + 16 * q), s1[q]);
                o += 64;
                i += 64;
                continue;
            }
            for (int q = 0; q < 4; q++) _mm_store_si128((__m128i *)(converted + 16 * q), s1[q]);
            specials = stops;
        } else {
            // In a run of bytes that can begin a two-byte unit, the first does, the next is its
            // second byte, and so on. Adding a run's start bit carries through the run and
            // clears it, which picks out the runs that start on an even position. The EUC-JP
            // katakana prefix begins a two-byte unit too, though not a character.
            uint64_t units = firsts;
            if (DIRECTION == EucToSjis) units = high;
            uint64_t candidates = units & ~carry;
            uint64_t starts = candidates & ~(candidates << 1);
            uint64_t evenRuns = candidates & ~(candidates + (starts & EVEN));
            uint64_t leads = (evenRuns & EVEN) | (candidates & ~evenRuns & ~EVEN);
            uint64_t trails = (leads << 1) | carry;
            specials = ((high & ~firsts) | stops) & ~trails;

            for (int q = 0; q < 4; q++) {
                __m128i s2 = _mm_loadu_si128((const __m128i *)(p + 16 * q + 1));
                __m128i e1, e2;
                if (DIRECTION == SjisToEuc)
                    SjisPairsToEuc(s1[q], s2, &e1, &e2);
                else
                    EucPairsToSjis(s1[q], s2, &e1, &e2);
                __m128i leadMask = ByteMask((unsigned)(leads >> (16 * q)));
                __m128i trailMask = ByteMask((unsigned)(trails >> (16 * q)));
                // A second byte's result comes from the byte before it, which for the first
                // of these sixteen bytes was converted with the sixteen before.
                __m128i second = _mm_or_si128(_mm_slli_si128(e2, 1), _mm_srli_si128(lastE2, 15));
                __m128i result = _mm_or_si128(_mm_and_si128(leadMask, e1), _mm_and_si128(trailMask, second));
                result = _mm_or_si128(result, _mm_andnot_si128(_mm_or_si128(leadMask, trailMask), s1[q]));
                _mm_store_si128((__m128i *)(converted + 16 * q), result);
                lastE2 = e2;
            }
            carry = leads >> 63;
            if (specials == 0) {
                for (int q = 0; q < 4; q++) _mm_storeu_si128((__m128i *)(o + 16 * q), _mm_load_si128((const __m128i *)(converted + 16 * q)));
                o += 64;
                i += 64;
                continue;
            }
        }

        // Copies the converted bytes [from, to) to o. It always moves 64, without a loop
        // whose count the branch predictor would have to guess; the output has room for
        // the spare bytes, which later writes replace.
        auto copy = [&](size_t from, size_t to) {
            for (int q = 0; q < 4; q++)
                _mm_storeu_si128((__m128i *)(o + 16 * q), _mm_loadu_si128((const __m128i *)(converted + from + 16 * q)));
            o += to - from;
        };
        // A special byte is never the second byte of a unit, so each starts after the last.
        size_t done = 0;
        do {
            size_t at = (size_t)__builtin_ctzll(specials);
            specials &= specials - 1;
            copy(done, at);
            done = at + special(p, at, o);  // p[64] exists: a unit may look one byte on
        } while (specials);
        if (done > 64) {  // a katakana prefix took the first byte of the next sixty-four
            i += done;
            carry = 0;
            continue;
        }
        copy(done, 64);
        i += 64;
    }
    if (carry) {  // the second byte of the last character converted
        *o++ = (unsigned char)(_mm_extract_epi16(lastE2, 7) >> 8);
        i++;
    }
    *consumed = i;
    return (size_t)(o - out);
}

size_t SjisToEucChunk(const unsigned char *in, size_t length, int atEnd, int newlines, unsigned char *out,
                      size_t *consumed) {
    size_t i = 0;
    size_t produced = ConvertBlocks<SjisToEuc>(in, length, newlines, BYTE_CR, out, &i,
                                               [](const unsigned char *text, size_t at, unsigned char *&o) -> size_t {
        unsigned char c = text[at];
        if (c == BYTE_CR) {  // only under the newline rule
            *o = c;
            o += text[at + 1] != BYTE_LF;  // a CR before an LF is dropped
        } else if (IsSjisKanaByte(c)) {
            o[0] = EUC_KANA_PREFIX;
            o[1] = c;
            o += 2;
        }  // otherwise dropped
        return 1;
    });
    size_t rest = 0;
    produced += SjisToEucTail(in + i, length - i, atEnd, newlines, out + produced, &rest);
    *consumed = i + rest;
    return produced;
}

size_t EucToSjisChunk(const unsigned char *in, size_t length, int atEnd, int newlines, unsigned char *out,
                      size_t *consumed) {
    size_t i = 0;
    size_t produced = ConvertBlocks<EucToSjis>(in, length, newlines, BYTE_LF, out, &i,
                                               [](const unsigned char *text, size_t at, unsigned char *&o) -> size_t {
        if (text[at] == BYTE_LF) {  // only under the newline rule
            o[0] = BYTE_CR;
            o[1] = BYTE_LF;
            o += 2;
            return 1;
        }
        *o++ = text[at + 1];  // the katakana prefix: the byte after it alone
        return 2;
    });
    size_t rest = 0;
    produced += EucToSjisTail(in + i, length - i, atEnd, newlines, out + produced, &rest);
    *consumed = i + rest;
    return produced;
}

#else

size_t SjisToEucChunk(const unsigned char *in, size_t length, int atEnd, int newlines, unsigned char *out,
                      size_t *consumed) {
    return SjisToEucTail(in, length, atEnd, newlines, out, consumed);
}

size_t EucToSjisChunk(const unsigned char *in, size_t length, int atEnd, int newlines, unsigned char *out,
                      size_t *consumed) {
    return EucToSjisTail(in, length, atEnd, newlines, out, consumed);
}

#endif

}  // namespace

size_t TranscodeChunk(const unsigned char *in, size_t length, int atEnd, unsigned char direction,
                      unsigned char convertNewlines, unsigned char *out, size_t *consumed) {
    int newlines = convertNewlines == 1;
    if (direction == SjisToEuc) return SjisToEucChunk(in, length, atEnd, newlines, out, consumed);
    return EucToSjisChunk(in, length, atEnd, newlines, out, consumed);
}

TranscodeResult TranscodeStream(PlatformFile input, PlatformFile output) {
    // Output goes out in whole pages: a write that ends inside a page makes the next one
    // start there, which costs the system more than the conversion saves. Less than a page
    // is held back; it is written before a read failure is reported, so nothing converted
    // is lost. One spare input byte carries a character cut by the end of a block.
    enum { PAGE = 4096 };
    static unsigned char inBlock[TRANSCODE_BLOCK_SIZE + 1];
    static unsigned char outBlock[PAGE + TranscodeOutputCapacity(TRANSCODE_BLOCK_SIZE + 1)];
    const unsigned char direction = ProgramState.direction;
    const unsigned char convertNewlines = ProgramState.convertNewlines;
    size_t carried = 0;
    size_t held = 0;

    for (;;) {
        unsigned long got = 0;
        if (!PlatformRead(input, inBlock + carried, TRANSCODE_BLOCK_SIZE, &got)) {
            if (held > 0 && !PlatformWrite(output, outBlock, (unsigned long)held)) return WriteFailed;
            return ReadFailed;
        }
        size_t available = carried + got;
        int atEnd = got == 0;
        size_t consumed = 0;
        held += TranscodeChunk(inBlock, available, atEnd, direction, convertNewlines, outBlock + held, &consumed);
        size_t ready = atEnd ? held : held - held % PAGE;
        if (ready > 0 && !PlatformWrite(output, outBlock, (unsigned long)ready)) return WriteFailed;
        if (atEnd) return Completed;
        held -= ready;
        if (held > 0) memmove(outBlock, outBlock + ready, held);
        carried = available - consumed;
        if (carried > 0) memmove(inBlock, inBlock + consumed, carried);
    }
}
