// Every JIS X 0208 character against an independent converter, glibc's iconv(3): the
// characters are the two-byte EUC-JP codes it converts to two-byte Shift_JIS.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "byte_compare.h"
#include "transcode.h"

namespace {

// iconv's conversion of one character, or "" when it has none.
std::string Iconv(const char *to, const char *from, const std::string &input) {
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return std::string();
    char in[8], out[8];
    input.copy(in, sizeof in);
    char *inPtr = in, *outPtr = out;
    size_t inLeft = input.size(), outLeft = sizeof out;
    size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (result == (size_t)-1 || inLeft != 0) return std::string();
    return std::string(out, sizeof out - outLeft);
}

std::string Convert(const std::string &input, unsigned char direction) {
    std::vector<unsigned char> out(TranscodeOutputCapacity(input.size()));
    size_t consumed = 0;
    size_t produced =
        TranscodeChunk((const unsigned char *)input.data(), input.size(), 1, direction, 0, out.data(), &consumed);
    return std::string((const char *)out.data(), produced);
}

TEST(TranscoderAgainstIconv, AllJisX0208Characters) {
    ASSERT_NE(Iconv("SHIFT_JIS", "EUC-JP", "\xA4\xA2"), "") << "iconv has no SHIFT_JIS or EUC-JP";
    std::string allEuc, allSjis;
    int characters = 0;
    for (int e1 = 0xA1; e1 <= 0xFE; e1++) {
        for (int e2 = 0xA1; e2 <= 0xFE; e2++) {
            std::string euc = {(char)e1, (char)e2};
            std::string sjis = Iconv("SHIFT_JIS", "EUC-JP", euc);
            if (sjis.size() != 2) continue;
            characters++;
            allEuc += euc;
            allSjis += sjis;
            EXPECT_TRUE(SameBytes(sjis, Convert(euc, 1))) << "EUC-JP " << Hex(euc);
            EXPECT_TRUE(SameBytes(euc, Convert(sjis, 0))) << "Shift_JIS " << Hex(sjis);
            EXPECT_EQ(Iconv("EUC-JP", "SHIFT_JIS", sjis), euc) << "iconv disagrees with itself on " << Hex(sjis);
        }
    }
    EXPECT_EQ(characters, 6879);
    // All of them in one text: the 64-byte steps, and round trips both ways.
    EXPECT_TRUE(SameBytes(allSjis, Convert(allEuc, 1)));
    EXPECT_TRUE(SameBytes(allEuc, Convert(allSjis, 0)));
    EXPECT_TRUE(SameBytes(allSjis, Convert(Convert(allSjis, 0), 1)));
    EXPECT_TRUE(SameBytes(allEuc, Convert(Convert(allEuc, 1), 0)));
}

}  // namespace
