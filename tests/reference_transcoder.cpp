// One read and one write per byte, in the plainest form of the rules, with the engine's
// two choices: towards EUC-JP a CR not followed by LF is written and the next byte
// classified afresh; a first byte (or EUC-JP 0x8E) with no byte after it is written
// unchanged.
#include "reference_transcoder.h"

#include "transcode_rules.h"

namespace {

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
            if (newlines && first == BYTE_CR) {
                ReadResult r = s.Read(&second);
                if (r == READ_FAILED) return ReadFailed;
                if (r == READ_END) return s.Write(BYTE_CR) ? Completed : WriteFailed;
                if (second == BYTE_LF) {
                    if (!s.Write(BYTE_LF)) return WriteFailed;
                    continue;
                }
                if (!s.Write(BYTE_CR)) return WriteFailed;
                first = second;
                pending = true;
                continue;
            }
            if (!s.Write(first)) return WriteFailed;
        } else if (IsSjisKanaByte(first)) {
            if (!s.Write(EUC_KANA_PREFIX) || !s.Write(first)) return WriteFailed;
        } else if (IsSjisLeadByte(first)) {
            ReadResult r = s.Read(&second);
            if (r == READ_FAILED) return ReadFailed;
            if (r == READ_END) return s.Write(first) ? Completed : WriteFailed;
            unsigned char pair[2];
            SjisPairToEuc(first, second, pair);
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
            if (newlines && first == BYTE_LF && !s.Write(BYTE_CR)) return WriteFailed;
            if (!s.Write(first)) return WriteFailed;
            continue;
        }
        r = s.Read(&second);
        if (r == READ_FAILED) return ReadFailed;
        if (r == READ_END) return s.Write(first) ? Completed : WriteFailed;
        if (first == EUC_KANA_PREFIX) {
            if (!s.Write(second)) return WriteFailed;
            continue;
        }
        unsigned char pair[2];
        EucPairToSjis(first, second, pair);
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
