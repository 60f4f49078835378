// Test inputs built from the pieces that trouble a transcoder.
#ifndef KAVO_TEST_TEXT_H
#define KAVO_TEST_TEXT_H

#include <random>
#include <string>

// Text built from the pieces that trouble a transcoder: line ends, a first byte, the
// katakana prefix, dropped bytes, ASCII runs for the fast path, any byte at all.
inline std::string HazardText(std::mt19937 &random, size_t length) {
    static const char *const pieces[] = {"\r\n", "\r", "\n", "\x82\xA0", "\x95\x5C", "\xB1",
                                         "\x8E",  "\x80", "\xFF", "\xA4\xA2", "abcdefghijklmnopqrst"};
    std::string text;
    while (text.size() < length) {
        unsigned pick = random() % 16;
        if (pick < 11)
            text += pieces[pick];
        else if (pick < 14)
            for (int i = 0; i < 16; i++) text += (char)(0x88 + random() % 2), text += (char)(0x40 + random() % 0xBD);
        else
            text += (char)(random() & 0xFF);
    }
    text.resize(length);
    return text;
}

#endif
