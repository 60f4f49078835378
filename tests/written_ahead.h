// The transcoder from file to file through a real platform that writes ahead, in every
// setting, against the oracle: shared by the POSIX and the Win32 platform tests.
#ifndef KAVO_WRITTEN_AHEAD_H
#define KAVO_WRITTEN_AHEAD_H

#include <gtest/gtest.h>

#include <string>

#include "byte_compare.h"
#include "platform.h"
#include "program_state.h"
#include "reference_transcoder.h"
#include "transcode.h"

// Converts source (which holds input) into dest in each direction, with and without the
// newline rule; `read` gives a file's bytes.
inline void ExpectEverySettingWrittenAhead(const std::string &source, const std::string &dest,
                                           const std::string &input, std::string (*read)(const std::string &)) {
    for (int setting = 0; setting < 4; setting++) {
        ProgramState.direction = (unsigned char)(setting >> 1);
        ProgramState.convertNewlines = (unsigned char)(setting & 1);
        PlatformFile in, out;
        ASSERT_TRUE(PlatformOpenSource(source.c_str(), &in));
        ASSERT_TRUE(PlatformCreateOutput(dest.c_str(), &out));
        EXPECT_TRUE(PlatformWritesAhead(out));
        EXPECT_EQ(TranscodeStream(in, out), Completed);
        EXPECT_TRUE(PlatformClose(in));
        EXPECT_TRUE(PlatformClose(out));
        EXPECT_TRUE(SameBytes(ReferenceConvert(input, ProgramState.direction, ProgramState.convertNewlines), read(dest)))
            << "setting " << setting;
    }
}

#endif
