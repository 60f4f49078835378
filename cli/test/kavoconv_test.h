// Shared by the kavoconv tests of every platform.
#ifndef KAVO_KAVOCONV_TEST_H
#define KAVO_KAVOCONV_TEST_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_command.h"

void WriteBytes(const std::string &path, const std::string &bytes);
std::string ReadBytes(const std::string &path);

// What kavoconv prints for one of the job's texts.
std::string Message(const char *text);

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
