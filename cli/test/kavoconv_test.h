// Shared by the kavoconv tests of every platform.
#ifndef KAVO_KAVOCONV_TEST_H
#define KAVO_KAVOCONV_TEST_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_command.h"

void WriteBytes(const std::string &path, const std::string &bytes);
std::string ReadBytes(const std::string &path);

// "日本語のかな、カナ。ｶﾅ", enough text for a guess, as Python's codecs write it.
inline const std::string TEXT_SJIS = "\x93\xFA\x96{\x8C\xEA\x82\xCC\x82\xA9\x82\xC8\x81" "A\x83J\x83i\x81" "B\xB6\xC5";
inline const std::string TEXT_EUC =
    "\xC6\xFC\xCB\xDC\xB8\xEC\xA4\xCE\xA4\xAB\xA4\xCA\xA1\xA2\xA5\xAB\xA5\xCA\xA1\xA3\x8E\xB6\x8E\xC5";
inline const std::string TEXT_UTF8 = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x81\x8B\xE3\x81\xAA\xE3\x80\x81"
                              "\xE3\x82\xAB\xE3\x83\x8A\xE3\x80\x82\xEF\xBD\xB6\xEF\xBE\x85";

// What kavoconv prints for a text of its own that names no file.
std::string Message(const char *text);

// The system's reasons the tests meet, the same on every platform; SystemReason gives
// the system's own words for one, in the language the tests run kavoconv in (Japanese),
// as kavoconv writes them (per platform: strerror, FormatMessage).
enum Reason { NO_SUCH_FILE, NO_SUCH_FOLDER, IS_FOLDER, PERMISSION };
std::string SystemReason(Reason reason);

// What kavoconv says about a file in Japanese: the dialog's text and the reason.
std::string Said(const std::string &file, const std::string &text, const std::string &reason);

// The number of entries in a folder; 0 when it does not exist.
size_t EntriesIn(const std::string &dir);

class KavoconvTest : public ::testing::Test {
protected:
    void SetUp() override;
    std::string File(const std::string &name) const;  // a path in this test's own folder
    CommandResult Convert(std::vector<std::string> args) const;  // run in the test's folder

    std::string dir;
};

#endif
