// The guess on every path this build has and this processor can run, against the plain
// path (a byte at a time), fed in pieces of every size; and the characters it says a
// conversion would damage, against the byte-at-a-time oracle converting forward and back.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "guess.h"
#include "program_state.h"
#include "reference_transcoder.h"

namespace {

std::vector<std::string> Paths() {
    const char *names[GUESS_MAX_PATHS];
    const int count = GuessPaths(names);
    return std::vector<std::string>(names, names + count);
}

// Restores the best path at the end of each test.
struct PathGuard {
    std::vector<std::string> paths = Paths();
    ~PathGuard() { GuessSelectPath(paths.back().c_str()); }
};

// The pieces of text where the readings, the steps and the conversion's characters part:
// each encoding's kana, kanji, punctuation and extensions, JIS X 0212, half-width katakana,
// bytes no encoding has, line ends, controls and escapes, runs of ASCII.
std::string PieceText(std::mt19937 &random, size_t length) {
    static const char *const pieces[] = {
        "\x82\xA0\x82\xA2", "\x8A\xBF\x8E\x9A", "\x83J\x83i", "\x81\x41", "\xFA\x40", "\x87\x40", "\xF0\x9F",
        "\xA4\xA2\xA4\xA4", "\xB4\xC1\xBB\xFA", "\xA5\xAB", "\x8F\xF3\xF3", "\x8F\xB0\xA1", "\xAD\xA1", "\xF9\xA1",
        "\x8E\xB1", "\xB1\xB2", "\xE3\x81\x82", "\xE6\xBC\xA2", "\xEF\xBD\xB1", "\x80", "\xFF", "\xFD", "\xA0",
        "\r\n", "\n", "\r", "\t", "\x1B$B", "\x01", "(", "$", "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKL"};
    std::string text;
    while (text.size() < length) {
        const unsigned pick = random() % 40;
        if (pick < sizeof pieces / sizeof pieces[0])
            text += pieces[pick];
        else
            text += (char)(random() & 0xFF);
    }
    text.resize(length);
    return text;
}

// Feeds text in pieces whose sizes the random source picks (whole when random is null).
GuessState Guess(const std::string &text, int direction, std::mt19937 *random) {
    GuessState state;
    GuessStart(&state);
    if (direction >= 0) GuessCheckDamage(&state, direction);
    const unsigned char *bytes = (const unsigned char *)text.data();
    for (size_t at = 0; at < text.size();) {
        size_t piece = random ? 1 + (*random)() % 300 : text.size();
        if (piece > text.size() - at) piece = text.size() - at;
        GuessFeed(&state, bytes + at, piece);
        at += piece;
    }
    return state;
}

void ExpectSameReading(const GuessReading &plain, const GuessReading &other, const char *name) {
    SCOPED_TRACE(name);
    EXPECT_EQ(other.valid, plain.valid);
    if (!plain.valid) return;  // what a reading counted before it dropped out does not matter
    EXPECT_EQ(other.state, plain.state);
    EXPECT_EQ(other.score, plain.score);
    EXPECT_EQ(other.outside, plain.outside);
    EXPECT_EQ(other.characters, plain.characters);
    EXPECT_EQ(other.kana, plain.kana);
    EXPECT_EQ(other.halfWidthKana, plain.halfWidthKana);
    EXPECT_EQ(other.common, plain.common);
    EXPECT_EQ(other.halfWidthBeforeLetter, plain.halfWidthBeforeLetter);
    EXPECT_EQ(other.afterHalfWidth, plain.afterHalfWidth);
    EXPECT_EQ(other.kanji, plain.kanji);
    EXPECT_EQ(other.rareKanji, plain.rareKanji);
}

void ExpectSameGuess(const GuessState &plain, const GuessState &other) {
    ExpectSameReading(plain.sjis, other.sjis, "Shift_JIS");
    ExpectSameReading(plain.euc, other.euc, "EUC-JP");
    ExpectSameReading(plain.utf8, other.utf8, "UTF-8");
    GuessResult a, b;
    GuessFinish(&plain, &a);
    GuessFinish(&other, &b);
    EXPECT_EQ(b.encoding, a.encoding);
    EXPECT_EQ(b.lineEnds, a.lineEnds);
    EXPECT_EQ(b.outside, a.outside);
    EXPECT_EQ(b.convertible[0], a.convertible[0]);
    EXPECT_EQ(b.convertible[1], a.convertible[1]);
    EXPECT_EQ(b.damaged, a.damaged);
    EXPECT_EQ(b.firstDamageOffset, a.firstDamageOffset);
    EXPECT_EQ(b.firstDamageLine, a.firstDamageLine);
    EXPECT_EQ(other.highBytes, plain.highBytes);
    EXPECT_EQ(other.katakanaRange, plain.katakanaRange);
    EXPECT_EQ(other.binary, plain.binary);
    EXPECT_EQ(other.escapeSequence, plain.escapeSequence);
}

// Every path reads random texts of the pieces above (long enough for many steps, and for
// runs of one encoding that keep a reading alive) as the plain path does, in any pieces.
TEST(Guess, EveryPathAgreesWithThePlainOne) {
    PathGuard guard;
    std::mt19937 random(17);
    for (int round = 0; round < 3000; round++) {
        std::string text = PieceText(random, 1 + random() % 700);
        if (round % 3 == 0) {  // one encoding's pieces only, so that its reading stays valid
            static const char *const runs[] = {"\x82\xA0\x8A\xBF\x83J abc\r\n\xB1", "\xA4\xA2\xB4\xC1\x8E\xB1 abc\n",
                                               "\xE3\x81\x82\xE6\xBC\xA2 abc\n"};
            const char *run = runs[round / 3 % 3];
            text.clear();
            while (text.size() < 400) text += (random() % 8 == 0) ? PieceText(random, 3) : run;
        }
        const int direction = (int)(random() % 3) - 1;
        const GuessState plain = (GuessSelectPath("plain"), Guess(text, direction, nullptr));
        for (const std::string &path : guard.paths) {
            SCOPED_TRACE(path + ", round " + std::to_string(round));
            ASSERT_TRUE(GuessSelectPath(path.c_str()));
            ExpectSameGuess(plain, Guess(text, direction, &random));
        }
    }
}

// Every pair each reading accepts, in runs that keep the reading valid: each first byte
// with every second byte, in Shift_JIS and in EUC-JP, read on every path as on the plain one.
TEST(Guess, EveryPathAgreesOnEveryPair) {
    PathGuard guard;
    std::vector<std::string> texts;
    for (int first = 0x81; first <= 0xFC; first++) {
        std::string sjis = "a", euc = "a";
        for (int second = 0x40; second <= 0xFC; second++) {
            if (second != 0x7F) sjis += {(char)first, (char)second, (char)(second % 7 ? 0xB1 : ' ')};
            if (first >= 0xA1 && second >= 0xA1) euc += {(char)first, (char)second};
        }
        texts.push_back(sjis);
        if (first >= 0xA1) texts.push_back(euc);
    }
    for (const std::string &text : texts) {
        const GuessState plain = (GuessSelectPath("plain"), Guess(text, SjisToEuc, nullptr));
        for (const std::string &path : guard.paths) {
            SCOPED_TRACE(path + ": " + testing::PrintToString(text.substr(0, 4)));
            ASSERT_TRUE(GuessSelectPath(path.c_str()));
            ExpectSameGuess(plain, Guess(text, SjisToEuc, nullptr));
        }
    }
}

// The guard's rule: no damage counted exactly when the oracle, converting forward and then
// back, gives the input again. Every pair alone and inside text, then random texts.
TEST(Guess, DamageIsWhatDoesNotComeBackThroughTheOracle) {
    PathGuard guard;
    std::vector<std::string> inputs;
    for (int pair = 0x8000; pair < 0x10000; pair++) {
        const std::string bytes = {(char)(pair >> 8), (char)(pair & 0xFF)};
        inputs.push_back(bytes);
        inputs.push_back(std::string(70, 'a') + bytes + "\n" + std::string(60, 'b'));  // through a step
    }
    for (int byte = 0; byte < 0x100; byte++) inputs.push_back(std::string(63, 'x') + (char)byte);
    std::mt19937 random(1517);
    for (int round = 0; round < 4000; round++) inputs.push_back(PieceText(random, 1 + random() % 300));
    for (const std::string &path : guard.paths) {
        ASSERT_TRUE(GuessSelectPath(path.c_str()));
        for (int direction : {SjisToEuc, EucToSjis}) {
            size_t wrong = 0;
            for (const std::string &input : inputs) {
                const std::string there = ReferenceConvert(input, (unsigned char)direction, 0);
                const bool comesBack = ReferenceConvert(there, (unsigned char)(1 - direction), 0) == input;
                const GuessState state = Guess(input, direction, &random);
                GuessResult result;
                GuessFinish(&state, &result);
                if ((result.damaged == 0) != comesBack && wrong++ < 5)
                    ADD_FAILURE() << path << ", direction " << direction << ": " << testing::PrintToString(input);
            }
            EXPECT_EQ(wrong, 0u) << path << ", direction " << direction;
        }
    }
}

// How many characters, and where the first is, on texts whose damage is known.
TEST(Guess, DamageCountAndFirstPosition) {
    PathGuard guard;
    const struct {
        int direction;
        std::string text;
        unsigned long long damaged, offset, line;
    } cases[] = {
        // あい, a JIS X 0212 character, ")": the conversion takes 8F F3 as a pair and F3 ")"
        // as the next, both lost.
        {EucToSjis, "\xA4\xA2\xA4\xA4\x8F\xF3\xF3)\n", 2, 4, 1},
        // An IBM extension (FA 40) on the third line, and a dropped byte later.
        {SjisToEuc, "a\r\nb\r\n\x82\xA0\xFA\x40 \x80\r\n", 2, 8, 3},
        // Half-width katakana and JIS X 0208 only: nothing.
        {SjisToEuc, "\xB1\xB2\x82\xA0\x8A\xBF\r\n", 0, 0, 0},
        {EucToSjis, "\x8E\xB1\xA4\xA2\xB4\xC1\n", 0, 0, 0},
        // EUC-JP's last byte alone is written as it is: A4 comes back as 8E A4.
        {EucToSjis, "\xA4\xA2\n\xA4", 1, 3, 2},
        // Far into a long text, on line 1001, after CR-only line ends.
        {SjisToEuc, std::string(1000, '\r') + std::string(5000, 'a') + "\xFC\xFC", 1, 6000, 1001},
    };
    for (const std::string &path : guard.paths) {
        ASSERT_TRUE(GuessSelectPath(path.c_str()));
        for (const auto &c : cases) {
            SCOPED_TRACE(path + ": " + testing::PrintToString(c.text.substr(0, 20)));
            const GuessState state = Guess(c.text, c.direction, nullptr);
            GuessResult result;
            GuessFinish(&state, &result);
            EXPECT_EQ(result.damaged, c.damaged);
            if (c.damaged == 0) continue;
            EXPECT_EQ(result.firstDamageOffset, c.offset);
            EXPECT_EQ(result.firstDamageLine, c.line);
        }
    }
}

// Short texts that -i takes on what they cannot be, or leaves: convertible[0] from
// Shift_JIS, [1] from EUC-JP, on every path.
TEST(Guess, ShortTextsTheGuardTakesOrLeaves) {
    PathGuard guard;
    const struct {
        const char *what;
        std::string text;
        int fromSjis, fromEuc;
    } cases[] = {
        // ものはすべて削除される。: 削 is no common kanji, but the kana say Japanese.
        {"a sentence, Shift_JIS",
         "\x82\xE0\x82\xCC\x82\xCD\x82\xB7\x82\xD7\x82\xC4\x8D\xED\x8F\x9C\x82\xB3\x82\xEA\x82\xE9\x81\x42\r\n", 1, 0},
        {"a sentence, EUC-JP",
         "\xA4\xE2\xA4\xCE\xA4\xCF\xA4\xB9\xA4\xD9\xA4\xC6\xBA\xEF\xBD\xFC\xA4\xB5\xA4\xEC\xA4\xEB\xA1\xA3\n", 0, 1},
        // 惜 alone: a first byte below 0xA0, which Chinese and Korean text never starts with.
        {"one kanji, Shift_JIS", "\x90\xC9\r\n", 1, 0},
        // Windows-1252's right quote before a letter reads as a kanji there.
        {"Don't, Windows-1252", "Don\x92t panic\r\n", 0, 0},
        // 中文字符 in GBK: no kana in either reading.
        {"Chinese, GBK", "\xD6\xD0\xCE\xC4\xD7\xD6\xB7\xFB\r\n", 0, 0},
        // Big5 manual-page names: half-width katakana in Shift_JIS, with codes no standard
        // assigns in EUC-JP (分割檔案); kana in EUC-JP, with such codes there too (核心引導選項).
        {"Big5, a manual page name", "split \\- \xA4\xC0\xB3\xCE\xC0\xC9\xAE\xD7\n", 0, 0},
        {"Big5, another name", "kernel-command-line \\- \xAE\xD6\xA4\xDF\xA4\xDE\xBE\xC9\xBF\xEF\xB6\xB5\n", 0, 0},
    };
    for (const std::string &path : guard.paths) {
        ASSERT_TRUE(GuessSelectPath(path.c_str()));
        for (const auto &c : cases) {
            SCOPED_TRACE(path + ": " + c.what);
            const GuessState state = Guess(c.text, -1, nullptr);
            GuessResult result;
            GuessFinish(&state, &result);
            EXPECT_EQ(result.convertible[0], c.fromSjis);
            EXPECT_EQ(result.convertible[1], c.fromEuc);
        }
    }
}

}  // namespace
