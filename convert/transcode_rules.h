// The conversion rules of one character, as plain functions of their bytes. The stream
// code, its fast paths and the tests all come back to these. All arithmetic is on
// unsigned bytes and wraps modulo 256: bytes outside the valid ranges are not rejected.
#ifndef KAVO_TRANSCODE_RULES_H
#define KAVO_TRANSCODE_RULES_H

enum { BYTE_LF = 0x0A, BYTE_CR = 0x0D, EUC_KANA_PREFIX = 0x8E };

// Shift_JIS byte classes. 0xA0 counts as half-width katakana; 0x80 and 0xFD-0xFF start
// nothing and are dropped.
inline int IsSjisLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
inline int IsSjisKanaByte(unsigned char c) { return c >= 0xA0 && c <= 0xDF; }
inline int IsSjisDroppedByte(unsigned char c) { return c == 0x80 || c >= 0xFD; }

// EUC-JP: every byte from 0x80 up but 0x8E starts a two-byte character (0x8F included).
inline int IsEucLeadByte(unsigned char c) { return c >= 0x80 && c != EUC_KANA_PREFIX; }

// Two-byte Shift_JIS (s1, s2) to EUC-JP, into out[0], out[1].
inline void SjisPairToEuc(unsigned char s1, unsigned char s2, unsigned char *out) {
    unsigned char r = (unsigned char)(2 * (unsigned char)(s1 - (s1 <= 0x9F ? 0x71 : 0xB1)) + 1);
    unsigned char t = s2;
    if (t > 0x7F) t = (unsigned char)(t - 1);
    if (t >= 0x9E) {
        t = (unsigned char)(t - 0x7D);
        r = (unsigned char)(r + 1);
    } else {
        t = (unsigned char)(t - 0x1F);
    }
    out[0] = (unsigned char)(r + 0x80);
    out[1] = (unsigned char)(t + 0x80);
}

// Two-byte EUC-JP (e1, e2) to Shift_JIS, into out[0], out[1].
inline void EucPairToSjis(unsigned char e1, unsigned char e2, unsigned char *out) {
    unsigned char j1 = (unsigned char)(e1 + 0x80);  // drops the top bit of bytes from 0x80 up
    unsigned char j2 = (unsigned char)(e2 + 0x80);
    unsigned char t = (unsigned char)(j2 + ((j1 & 1) ? 0x1F : 0x7D));
    unsigned char r = (unsigned char)((unsigned char)(j1 - 0x21) >> 1);
    r = (unsigned char)(r + 0x81);
    if (t >= 0x7F) t = (unsigned char)(t + 1);
    if (r > 0x9F) r = (unsigned char)(r + 0x40);
    out[0] = r;
    out[1] = t;
}

#endif
