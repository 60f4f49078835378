// Byte-string comparison for tests: a mismatch is reported by its first offset, with the
// bytes around it in hex on both sides.
#ifndef KAVO_BYTE_COMPARE_H
#define KAVO_BYTE_COMPARE_H

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

// "82 A0 0D" for up to `limit` bytes of s from `offset`.
inline std::string Hex(const std::string &s, size_t offset = 0, size_t limit = 64) {
    std::string out;
    for (size_t i = offset; i < s.size() && i < offset + limit; i++) {
        char digits[4];
        snprintf(digits, sizeof digits, "%02X", (unsigned char)s[i]);
        if (!out.empty()) out += ' ';
        out += digits;
    }
    if (s.size() > offset + limit) out += " ...";
    return out;
}

inline testing::AssertionResult SameBytes(const std::string &expected, const std::string &actual) {
    if (expected == actual) return testing::AssertionSuccess();
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) at++;
    size_t from = at > 4 ? at - 4 : 0;
    char where[64];
    snprintf(where, sizeof where, "first difference at offset %lu (0x%lX)", (unsigned long)at, (unsigned long)at);
    return testing::AssertionFailure() << where << ", shown from offset " << from << "\n  expected ("
                                       << expected.size() << " bytes): " << Hex(expected, from, 16)
                                       << "\n  actual   (" << actual.size() << " bytes): " << Hex(actual, from, 16);
}

#endif
