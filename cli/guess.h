// Guessing a file's encoding and line ends from its bytes, for kavoconv's --guess and the
// guard of conversions in place. The text is read once, front to back, in pieces of any
// size; the guess names an encoding only when the text leaves no real doubt. For the guard
// the same pass also finds the characters that a conversion would not bring back.
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
    unsigned long long halfWidthKana; // half-width katakana (Shift_JIS, EUC-JP)
    // Shift_JIS: half-width katakana right before a byte 0x40-0x7E, as Chinese, Korean and
    // European text read as Shift_JIS has it (a first byte there, then a letter), and
    // whether the last byte was half-width katakana.
    unsigned long long halfWidthBeforeLetter;
    int afterHalfWidth;
    unsigned long long common;     // hiragana, katakana, punctuation and first-level kanji
    // Of the first GUESS_KANJI_SEEN kanji (Shift_JIS, EUC-JP): how many, and how many are
    // not among the 1,000 most common.
    unsigned kanji, rareKanji;
};

enum { GUESS_KANJI_SEEN = 64 };

// A text of at most this many bytes is short: the guard may then convert it on what it
// cannot be, and looks at its characters one by one for that.
enum { GUESS_SHORT_TEXT = 1024 };

// The characters a conversion in one direction would not bring back: those whose
// converted bytes, converted back, are not the bytes they were. Characters here are what
// the conversion takes as one (for EUC-JP, every byte from 0x80 up starts a pair).
struct GuessDamage {
    int direction;                    // -1: not checked; else as ProgramState.direction
    int pending;                      // a first byte waits for the byte after it
    unsigned char lead;               // that byte
    unsigned long long leadOffset;
    unsigned long long characters;    // damaged so far
    unsigned long long firstOffset;   // of the first one's first byte, from 0
    unsigned long long firstLine;     // its line, from 1
};

struct GuessState {
    GuessReading sjis, euc, utf8;
    unsigned long long highBytes;     // bytes above 0x7F
    unsigned long long katakanaRange; // of those, bytes 0xA1-0xDF (half-width katakana in Shift_JIS)
    unsigned long long crlf, lf, cr;
    unsigned long long offset;        // bytes read so far
    int binary;                       // a NUL or another control byte no text has
    int escapeSequence;               // ESC $ or ESC (: ISO-2022-JP, another encoding
    unsigned char last;               // the previous byte
    GuessDamage damage;
    unsigned char start[GUESS_SHORT_TEXT];  // the first bytes
};

struct GuessResult {
    GuessedEncoding encoding;
    GuessedLineEnds lineEnds;
    // For Shift_JIS and EUC-JP: two-byte characters outside JIS X 0208 (Shift_JIS: the
    // NEC and IBM extensions and the user-defined area; EUC-JP: JIS X 0212 and the rows
    // JIS X 0208 leaves empty), which the conversion's arithmetic does not carry over.
    unsigned long long outside;
    // Whether a conversion in place from Shift_JIS (index 0) or from EUC-JP (index 1) may
    // take the file, by the guess alone: it reads as that encoding or as ASCII, or as
    // either when there is too little to tell, or, short as it is, it can only be that
    // encoding and does not read like Chinese or Korean text.
    int convertible[2];
    // With GuessCheckDamage: the characters the conversion would damage, and the first.
    unsigned long long damaged, firstDamageOffset, firstDamageLine;
};

void GuessStart(GuessState *state);
// After GuessStart, before any bytes: also find what a conversion in `direction` (as
// ProgramState.direction) would damage.
void GuessCheckDamage(GuessState *state, int direction);
void GuessFeed(GuessState *state, const unsigned char *bytes, size_t length);
void GuessFinish(const GuessState *state, GuessResult *result);

// "ASCII", "Shift_JIS", "EUC-JP", "UTF-8", "Shift_JIS or EUC-JP", "unknown".
const char *GuessedEncodingName(GuessedEncoding encoding);
// "none", "CRLF", "LF", "CR", "mixed".
const char *GuessedLineEndsName(GuessedLineEnds lineEnds);

// The ways of reading the bytes that this build has and this processor can run, plainest
// first ("plain": a byte at a time; "sse2", "avx2": 64 bytes a step, the vectors telling
// what each byte can be). Every path gives the same result. At start the last is taken.
enum { GUESS_MAX_PATHS = 3 };
int GuessPaths(const char *names[GUESS_MAX_PATHS]);
// Returns 0, changing nothing, when the name is not among GuessPaths.
int GuessSelectPath(const char *name);

#endif
