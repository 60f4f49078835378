// kavoconv.exe on Windows (run under Wine): names that differ only in letter case are one
// file and go through the private folder in %LOCALAPPDATA%\kavo, which is left empty.
#include "kavoconv_test.h"

namespace {

TEST_F(KavoconvTest, NamesDifferingInCaseConvertInPlace) {
    const size_t before = EntriesIn(WorkRoot());
    WriteBytes(File("text.txt"), "A\x82\xA0\r\n");
    CommandResult r = Convert({"--newlines", File("text.txt"), File("TEXT.TXT")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadBytes(File("text.txt")), "A\xA4\xA2\n");
    EXPECT_EQ(EntriesIn(WorkRoot()), before);
}

}  // namespace
