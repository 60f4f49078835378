#include <gtest/gtest.h>

#include <string>

#include "transcode.h"

namespace {

std::string Convert(const std::string &input, unsigned char direction, unsigned char newlines) {
    std::string out(TranscodeOutputCapacity(input.size()), '\0');
    size_t consumed = 0;
    size_t produced = TranscodeChunk(reinterpret_cast<const unsigned char *>(input.data()), input.size(), 1,
                                     direction, newlines, reinterpret_cast<unsigned char *>(&out[0]), &consumed);
    EXPECT_EQ(consumed, input.size());
    out.resize(produced);
    return out;
}

TEST(TranscodeChunk, SjisExamples) {
    EXPECT_EQ(Convert("\x82\xA0\x8A\xBF\x81\x40\x95\x5C", 0, 0), "\xA4\xA2\xB4\xC1\xA1\xA1\xC9\xBD");
    EXPECT_EQ(Convert("\xA4\xA2\xB4\xC1\xA1\xA1\xC9\xBD", 1, 0), "\x82\xA0\x8A\xBF\x81\x40\x95\x5C");
}

}  // namespace
