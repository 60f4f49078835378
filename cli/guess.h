// Guessing a file's encoding and line ends from its bytes, for kavoconv's --guess and the
// guard of conversions in place. The text is read once, front to back, in pieces of any
// size; the guess names an encoding only when the text leaves no real doubt.
#ifndef KAVO_GUESS_H
#define KAVO_GUESS_H

#include <stddef.h>

enum GuessedEncoding {
    GUESS_ASCII,        // no byte above 0x7F (an empty file too)
    GUESS_SHIFT_JIS,
    GUESS_EUC_JP,
    GUESS_UTF8,
    GUESS_SJIS_OR_EUC,  // one of the two, but too little text to tell which
    GUESS_UNKNOWN       // binary, another encoding, or nothing that reads as Japanese text
};

enum GuessedLineEnds { ENDS_NONE, ENDS_CRLF, ENDS_LF, ENDS_CR, ENDS_MIXED };

// One reading of the bytes as a multi-byte encoding.
struct GuessReading {
    int valid;                  // every byte so far fits the encoding
    int state;                  // bytes still expected to complete the current character
    unsigned char pending[3];   // the bytes of that character so far
    long long score;            // how much the characters read look like Japanese text
    unsigned long long outside;    // two-byte characters outside JIS X 0208
    unsigned long long characters; // characters other than ASCII
    unsigned long long kana;       // of those, hiragana and katakana (not half-width)
};

struct GuessState {
    GuessReading sjis, euc, utf8;
    unsigned long long highBytes;     // bytes above 0x7F
    unsigned long long katakanaRange; // of those, bytes 0xA1-0xDF (half-width katakana in Shift_JIS)
    unsigned long long crlf, lf, cr;
    int binary;                       // a NUL or another control byte no text has
    int escapeSequence;               // ESC $ or ESC (: ISO-2022-JP, another encoding
    unsigned char last;               // the previous byte
};

struct GuessResult {
    GuessedEncoding encoding;
    GuessedLineEnds lineEnds;
    // For Shift_JIS and EUC-JP: two-byte characters outside JIS X 0208 (Shift_JIS: the
    // NEC and IBM extensions and the user-defined area; EUC-JP: JIS X 0212 and the rows
    // JIS X 0208 leaves empty), which the conversion's arithmetic does not carry over.
    unsigned long long outside;
};

void GuessStart(GuessState *state);
void GuessFeed(GuessState *state, const unsigned char *bytes, size_t length);
void GuessFinish(const GuessState *state, GuessResult *result);

// "ASCII", "Shift_JIS", "EUC-JP", "UTF-8", "Shift_JIS or EUC-JP", "unknown".
const char *GuessedEncodingName(GuessedEncoding encoding);
// "none", "CRLF", "LF", "CR", "mixed".
const char *GuessedLineEndsName(GuessedLineEnds lineEnds);

#endif
