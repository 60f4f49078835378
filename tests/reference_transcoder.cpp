// One read and one write per byte, in the plainest form of the rules, written from their
// description and sharing no code with the engine: the byte classes of both encodings, the
// two-byte rules step by step on byte values modulo 256, and the engine's two choices:
// towards EUC-JP a CR not followed by LF is written and the next byte classified afresh; a
// first byte (or EUC-JP 0x8E) with no byte after it is written unchanged.
#include "reference_transcoder.h"

namespace {

const int CR = 0x0D, LF = 0x0A, KANA_PREFIX = 0x8E;

// A value taken as an unsigned byte: modulo 256, also below zero.
int Byte(int value) { return ((value % 256) + 256) % 256; }

// Shift_JIS (s1, s2) to EUC-JP, in the rule's steps.
void SjisCharacterToEuc(int s1, int s2, unsigned char out[2]) {
    // 1. r = 2 x (s1 - 0x71) + 1 up to 0x9F; 2 x (s1 - 0xB1) + 1 above.
    int r = Byte(2 * Byte(s1 - (s1 <= 0x9F ? 0x71 : 0xB1)) + 1);
    // 2. t = s2, less 1 above 0x7F.
    int t = s2 > 0x7F ? s2 - 1 : s2;
    // 3. From 0x9E, t - 0x7D and r + 1; below, t - 0x1F.
    if (t >= 0x9E) {
        t = Byte(t - 0x7D);
        r = Byte(r + 1);
    } else {
        t = Byte(t - 0x1F);
    }
    // 4. Both plus 0x80.
    out[0] = (unsigned char)Byte(r + 0x80);
    out[1] = (unsigned char)Byte(t + 0x80);
}

// EUC-JP (e1, e2) to Shift_JIS, in the rule's steps.
void EucCharacterToSjis(int e1, int e2, unsigned char out[2]) {
    // 1. Plus 0x80, which clears the top bit of bytes from 0x80 up.
    int j1 = Byte(e1 + 0x80), j2 = Byte(e2 + 0x80);
    // 2. t = j2 + 0x1F after an odd j1, j2 + 0x7D after an even one.
    int t = Byte(j2 + (j1 % 2 == 1 ? 0x1F : 0x7D));
    // 3. r = (j1 - 0x21) as a byte, halved, plus 0x81.
    int r = Byte(Byte(j1 - 0x21) / 2 + 0x81);
    // 4. From 0x7F, t + 1.
    if (t >= 0x7F) t = Byte(t + 1);
    // 5. Above 0x9F, r + 0x40.
    if (r > 0x9F) r = Byte(r + 0x40);
    out[0] = (unsigned char)r;
    out[1] = (unsigned char)t;
}

enum ReadResult { READ_FAILED, READ_END, READ_BYTE };

struct ByteStream {
    const std::string &input;
    size_t readFailAt;
    size_t writeFailAt;
    std::string *output;
    size_t position;

    ReadResult Read(unsigned char *byte) {
        if (position == readFailAt) return READ_FAILED;
        if (position >= input.size()) return READ_END;
        *byte = (unsigned char)input[position++];
        return READ_BYTE;
    }

    bool Write(unsigned char byte) {
        if (output->size() == writeFailAt) return false;
        output->push_back((char)byte);
        return true;
    }
};

TranscodeResult SjisToEuc(ByteStream &s, int newlines) {
    unsigned char first = 0, second = 0;
    bool pending = false;  // `first` already holds the next byte to classify
    for (;;) {
        if (!pending) {
            ReadResult r = s.Read(&first);
            if (r == READ_FAILED) return ReadFailed;
            if (r == READ_END) return Completed;
        }
        pending = false;
        if (first < 0x80) {
            if (newlines && first == CR) {
                ReadResult r = s.Read(&second);
                if (r == READ_FAILED) return ReadFailed;
                if (r == READ_END) return s.Write(CR) ? Completed : WriteFailed;
                if (second == LF) {
                    if (!s.Write(LF)) return WriteFailed;
                    continue;
                }
                if (!s.Write(CR)) return WriteFailed;
                first = second;
                pending = true;
                continue;
            }
            if (!s.Write(first)) return WriteFailed;
        } else if (first >= 0xA0 && first <= 0xDF) {  // half-width katakana
            if (!s.Write(KANA_PREFIX) || !s.Write(first)) return WriteFailed;
        } else if ((first >= 0x81 && first <= 0x9F) || (first >= 0xE0 && first <= 0xFC)) {
            ReadResult r = s.Read(&second);
            if (r == READ_FAILED) return ReadFailed;
            if (r == READ_END) return s.Write(first) ? Completed : WriteFailed;
            unsigned char pair[2];
            SjisCharacterToEuc(first, second, pair);
            if (!s.Write(pair[0]) || !s.Write(pair[1])) return WriteFailed;
        }
        // 0x80 and 0xFD-0xFF write nothing.
    }
}

TranscodeResult EucToSjis(ByteStream &s, int newlines) {
    unsigned char first = 0, second = 0;
    for (;;) {
        ReadResult r = s.Read(&first);
        if (r == READ_FAILED) return ReadFailed;
        if (r == READ_END) return Completed;
        if (first < 0x80) {
            if (newlines && first == LF && !s.Write(CR)) return WriteFailed;
            if (!s.Write(first)) return WriteFailed;
            continue;
        }
        r = s.Read(&second);
        if (r == READ_FAILED) return ReadFailed;
        if (r == READ_END) return s.Write(first) ? Completed : WriteFailed;
        if (first == KANA_PREFIX) {
            if (!s.Write(second)) return WriteFailed;
            continue;
        }
        unsigned char pair[2];
        EucCharacterToSjis(first, second, pair);
        if (!s.Write(pair[0]) || !s.Write(pair[1])) return WriteFailed;
    }
}

}  // namespace

TranscodeResult ReferenceTranscode(const std::string &input, unsigned char direction, unsigned char convertNewlines,
                                   std::string *output, size_t readFailAt, size_t writeFailAt) {
    output->clear();
    ByteStream s{input, readFailAt, writeFailAt, output, 0};
    int newlines = convertNewlines == 1;
    return direction == 0 ? SjisToEuc(s, newlines) : EucToSjis(s, newlines);
}

std::string ReferenceConvert(const std::string &input, unsigned char direction, unsigned char convertNewlines) {
    std::string output;
    ReferenceTranscode(input, direction, convertNewlines, &output);
    return output;
}
