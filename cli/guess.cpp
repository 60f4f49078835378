// The guess reads the bytes three ways at once, as Shift_JIS (with the extensions Windows
// adds), as EUC-JP and as UTF-8. A reading that meets a byte its encoding cannot have
// drops out. Each character of a reading that stays scores by how common it is in
// Japanese text: hiragana, katakana, punctuation and everyday kanji score well; rare
// kanji and half-width katakana do not; codes no standard assigns score badly. Text in
// one encoding read as another turns into such rare or empty codes, so the right
// reading wins by a wide margin once there are more than a few characters, and a narrow
// margin is reported as doubt instead of a choice.
#include "guess.h"

#include <string.h>

namespace {

enum CharClass {
    HIRAGANA, KATAKANA, PUNCTUATION, KANJI_LEVEL1, ALPHANUMERIC, SYMBOL, KANJI_LEVEL2,
    HALF_WIDTH_KATAKANA, JIS_X0212, EXTENSION, UNASSIGNED, OTHER_CHARACTER
};

// Scores by class, in the order above.
const int WEIGHTS[] = {4, 3, 3, 3, 1, 0, 0, 0, 0, -2, -6, 1};

// Each byte after the first of a UTF-8 sequence also counts this much: text in another
// encoding seldom forms valid sequences, and longer ones still more seldom.
const int UTF8_CONTINUATION_WEIGHT = 3;

// A reading must lead every other valid reading by this much to be named, and score at
// least MINIMUM_SCORE: random bytes that happen to be valid score up to about 10.
const long long MARGIN = 8;
const long long MINIMUM_SCORE = 12;

// Japanese text is never short of kana; Chinese and Korean text, whose EUC forms read as
// EUC-JP kanji, is. A Shift_JIS or EUC-JP reading with fewer than one character in this
// many being kana is not taken for Japanese.
const unsigned long long KANA_SHARE = 20;

// Whether JIS X 0208 assigns a character to row and cell (both 1-94): its 6,879 codes.
int AssignedInJisX0208(int row, int cell) {
    switch (row) {
    case 1: return 1;
    case 2:
        return cell <= 14 || (cell >= 26 && cell <= 33) || (cell >= 42 && cell <= 48) || (cell >= 60 && cell <= 74) ||
               (cell >= 82 && cell <= 89) || cell == 94;
    case 3: return (cell >= 16 && cell <= 25) || (cell >= 33 && cell <= 58) || (cell >= 65 && cell <= 90);
    case 4: return cell <= 83;
    case 5: return cell <= 86;
    case 6: return cell <= 24 || (cell >= 33 && cell <= 56);
    case 7: return cell <= 33 || (cell >= 49 && cell <= 81);
    case 8: return cell <= 32;
    case 47: return cell <= 51;
    case 84: return cell <= 6;
    default: return (row >= 16 && row <= 46) || (row >= 48 && row <= 83);
    }
}

// The class of a two-byte JIS code. Row 13 (NEC's symbols) and rows 89-92 (the IBM
// kanji NEC chose) are extensions in both encodings; rows 85-94 are also the
// user-defined area of EUC-JP.
CharClass JisClass(int row, int cell, int eucRows) {
    if (!AssignedInJisX0208(row, cell)) {
        if (row == 13 || (row >= 89 && row <= 92) || (eucRows && row >= 85)) return EXTENSION;
        return UNASSIGNED;
    }
    if (row >= 16) return row <= 47 ? KANJI_LEVEL1 : KANJI_LEVEL2;
    switch (row) {
    case 1: return PUNCTUATION;
    case 3: return ALPHANUMERIC;
    case 4: return HIRAGANA;
    case 5: return KATAKANA;
    default: return SYMBOL;
    }
}

// JisClass of every row and cell, for Shift_JIS [0] and EUC-JP [1]: the guess looks up
// one per character.
unsigned char jisClasses[2][94][94];

void FillJisClasses() {
    if (jisClasses[0][0][0] == PUNCTUATION) return;  // filled already
    for (int euc = 0; euc < 2; euc++)
        for (int row = 1; row <= 94; row++)
            for (int cell = 1; cell <= 94; cell++)
                jisClasses[euc][row - 1][cell - 1] = (unsigned char)JisClass(row, cell, euc);
}

CharClass ClassOf(int euc, int row, int cell) { return (CharClass)jisClasses[euc][row - 1][cell - 1]; }

CharClass UnicodeClass(unsigned long c) {
    if (c >= 0x3041 && c <= 0x309F) return HIRAGANA;
    if (c >= 0x30A0 && c <= 0x30FF) return KATAKANA;
    if (c >= 0x3000 && c <= 0x303F) return PUNCTUATION;
    if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0xF900 && c <= 0xFAFF))
        return KANJI_LEVEL1;
    if (c >= 0xFF01 && c <= 0xFF5E) return ALPHANUMERIC;
    if (c >= 0xFF61 && c <= 0xFF9F) return HALF_WIDTH_KATAKANA;
    return OTHER_CHARACTER;
}

void Count(GuessReading *r, CharClass c) {
    r->score += WEIGHTS[c];
    r->characters++;
    if (c == HIRAGANA || c == KATAKANA) r->kana++;
    if (c == JIS_X0212 || c == EXTENSION || c == UNASSIGNED) r->outside++;
}

void Drop(GuessReading *r) { r->valid = 0; }

// Shift_JIS: single bytes 00-7F and A1-DF (half-width katakana); first bytes 81-9F and
// E0-FC, second bytes 40-7E and 80-FC. F0-F9 is the user-defined area, FA-FC IBM's.
void FeedSjis(GuessReading *r, unsigned char b) {
    if (r->state == 0) {
        if (b < 0x80) return;
        if (b >= 0xA1 && b <= 0xDF) {
            Count(r, HALF_WIDTH_KATAKANA);
        } else if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
            r->pending[0] = b;
            r->state = 1;
        } else {
            Drop(r);
        }
        return;
    }
    r->state = 0;
    if (b < 0x40 || b == 0x7F || b > 0xFC) {
        Drop(r);
        return;
    }
    const unsigned char lead = r->pending[0];
    if (lead >= 0xF0) {
        Count(r, EXTENSION);
        return;
    }
    const int rowPair = lead <= 0x9F ? lead - 0x81 : lead - 0xC1;
    if (b >= 0x9F)
        Count(r, ClassOf(0, 2 * rowPair + 2, b - 0x9E));
    else
        Count(r, ClassOf(0, 2 * rowPair + 1, b - 0x3F - (b >= 0x80)));
}

// EUC-JP: A1-FE pairs (JIS X 0208 and its empty rows), 8E with A1-DF (half-width
// katakana), 8F with two bytes A1-FE (JIS X 0212).
void FeedEuc(GuessReading *r, unsigned char b) {
    const int inRange = b >= 0xA1 && b <= 0xFE;
    if (r->state == 0) {
        if (b < 0x80) return;
        if (!inRange && b != 0x8E && b != 0x8F) {
            Drop(r);
            return;
        }
        r->pending[0] = b;
        r->state = b == 0x8F ? 2 : 1;
        return;
    }
    if (!inRange || (r->pending[0] == 0x8E && b > 0xDF)) {
        Drop(r);
        return;
    }
    if (r->pending[0] == 0x8F && r->state == 2) {
        r->state = 1;
        return;
    }
    r->state = 0;
    if (r->pending[0] == 0x8E)
        Count(r, HALF_WIDTH_KATAKANA);
    else if (r->pending[0] == 0x8F)
        Count(r, JIS_X0212);
    else
        Count(r, ClassOf(1, r->pending[0] - 0xA0, b - 0xA0));
}

// UTF-8 as its standard has it: no overlong forms, no surrogates, nothing past U+10FFFF.
void FeedUtf8(GuessReading *r, unsigned char b) {
    if (r->state == 0) {
        if (b < 0x80) return;
        int more = b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xF0 && b <= 0xF4 ? 3 : 0;
        if (!more) {
            Drop(r);
            return;
        }
        r->pending[0] = b;
        r->pending[1] = 0;  // bytes of the sequence so far after the first
        r->state = more;
        return;
    }
    const unsigned char first = r->pending[0];
    unsigned char low = 0x80, high = 0xBF;
    if (r->pending[1] == 0) {  // the second byte narrows the first's range
        if (first == 0xE0) low = 0xA0;
        if (first == 0xED) high = 0x9F;
        if (first == 0xF0) low = 0x90;
        if (first == 0xF4) high = 0x8F;
    }
    if (b < low || b > high) {
        Drop(r);
        return;
    }
    if (r->pending[1]++ == 0) r->pending[2] = b;  // the middle byte of a three-byte sequence
    if (--r->state > 0) return;
    r->score += UTF8_CONTINUATION_WEIGHT * r->pending[1];
    unsigned long c;
    if (first < 0xE0)
        c = ((unsigned long)(first & 0x1F) << 6) | (b & 0x3F);
    else if (first < 0xF0)
        c = ((unsigned long)(first & 0x0F) << 12) | ((unsigned long)(r->pending[2] & 0x3F) << 6) | (b & 0x3F);
    else
        c = 0x10000;  // beyond the blocks that matter here
    Count(r, UnicodeClass(c));
}

void StartReading(GuessReading *r) {
    memset(r, 0, sizeof *r);
    r->valid = 1;
}

int Complete(const GuessReading &r) { return r.valid && r.state == 0; }

int LooksJapanese(const GuessReading &r) { return r.kana > 0 && KANA_SHARE * r.kana >= r.characters; }

int IsBinaryControl(unsigned char b) {
    // Text has TAB, LF, VT, FF, CR, BEL and BS (both in troff sources), SUB (an old
    // end-of-file mark) and ESC.
    return b < 0x20 && !(b >= 0x07 && b <= 0x0D) && b != 0x1A && b != 0x1B;
}

}  // namespace

void GuessStart(GuessState *state) {
    FillJisClasses();
    memset(state, 0, sizeof *state);
    StartReading(&state->sjis);
    StartReading(&state->euc);
    StartReading(&state->utf8);
}

namespace {

// An ASCII byte: only line ends, controls and escape sequences matter.
void NoteAscii(GuessState *s, unsigned char b) {
    if (b == '\n') {
        if (s->last == '\r') {
            s->crlf++;
            s->cr--;
        } else {
            s->lf++;
        }
    } else if (b == '\r') {
        s->cr++;
    } else if (b < 0x20) {
        if (IsBinaryControl(b)) s->binary = 1;
    } else if (s->last == 0x1B && (b == '$' || b == '(')) {
        s->escapeSequence = 1;
    }
    s->last = b;
}

}  // namespace

void GuessFeed(GuessState *s, const unsigned char *bytes, size_t length) {
    for (size_t i = 0; i < length; i++) {
        const unsigned char b = bytes[i];
        if (b >= 0x20 && b < 0x80 && b != '$' && b != '(' && s->sjis.state == 0 && s->euc.state == 0 &&
            s->utf8.state == 0) {
            s->last = b;  // a printable ASCII byte between characters: nothing to note
            continue;
        }
        if (b < 0x80) {
            NoteAscii(s, b);
            // Between characters an ASCII byte is ASCII in every reading.
            if (s->sjis.state == 0 && s->euc.state == 0 && s->utf8.state == 0) continue;
        } else {
            s->highBytes++;
            if (b >= 0xA1 && b <= 0xDF) s->katakanaRange++;
            s->last = b;
        }
        if (s->sjis.valid) FeedSjis(&s->sjis, b);
        if (s->euc.valid) FeedEuc(&s->euc, b);
        if (s->utf8.valid) FeedUtf8(&s->utf8, b);
    }
}

void GuessFinish(const GuessState *s, GuessResult *result) {
    const int kinds = (s->crlf > 0) + (s->lf > 0) + (s->cr > 0);
    result->lineEnds = kinds > 1 ? ENDS_MIXED : s->crlf ? ENDS_CRLF : s->lf ? ENDS_LF : s->cr ? ENDS_CR : ENDS_NONE;
    result->outside = 0;
    if (s->binary || s->escapeSequence) {
        result->encoding = GUESS_UNKNOWN;
        return;
    }
    if (s->highBytes == 0) {
        result->encoding = GUESS_ASCII;
        return;
    }
    const GuessReading *readings[] = {&s->sjis, &s->euc, &s->utf8};
    const GuessedEncoding names[] = {GUESS_SHIFT_JIS, GUESS_EUC_JP, GUESS_UTF8};
    enum { UTF8 = 2 };
    // A Shift_JIS or EUC-JP reading without kana is no Japanese text, whatever its score.
    int candidate[3];
    int best = -1;
    for (int i = 0; i < 3; i++) {
        candidate[i] = Complete(*readings[i]) && (i == UTF8 || LooksJapanese(*readings[i]));
        if (candidate[i] && (best < 0 || readings[i]->score > readings[best]->score)) best = i;
    }
    // Nothing that reads as Japanese text (or as UTF-8): another encoding, or too little.
    if (best < 0 || readings[best]->score < MINIMUM_SCORE) {
        result->encoding = GUESS_UNKNOWN;
        return;
    }
    // Any valid reading near the best is a doubt, but between Shift_JIS and EUC-JP only
    // one that has kana rivals one that has.
    int close = 0, utf8Close = 0;
    for (int i = 0; i < 3; i++) {
        if (i == best || !Complete(*readings[i]) || readings[i]->score <= readings[best]->score - MARGIN) continue;
        if (best != UTF8 && i != UTF8 && !candidate[i]) continue;
        close++;
        utf8Close |= i == UTF8;
    }
    // Bytes A1-DF alone read as half-width katakana in Shift_JIS and as pairs in EUC-JP.
    // Scores cannot part the two: half-width katakana pairs read as EUC-JP kanji. But
    // for EUC-JP text to look like half-width katakana, its pairs would have to start
    // with the punctuation marks of half-width katakana. So a text made only of such
    // bytes is taken for EUC-JP only when a third of its pairs or more are kana there.
    const int katakanaDoubt = s->katakanaRange == s->highBytes && Complete(s->sjis) && Complete(s->euc) &&
                              !(s->euc.kana >= 3 && 3 * s->euc.kana >= s->euc.characters);
    if (close == 0 && !(katakanaDoubt && best != UTF8)) {
        result->encoding = names[best];
        if (best != UTF8) result->outside = readings[best]->outside;
    } else if (utf8Close || best == UTF8) {
        result->encoding = GUESS_UNKNOWN;  // UTF-8 or a legacy encoding: too little to tell
    } else {
        result->encoding = GUESS_SJIS_OR_EUC;
    }
}

const char *GuessedEncodingName(GuessedEncoding encoding) {
    switch (encoding) {
    case GUESS_ASCII: return "ASCII";
    case GUESS_SHIFT_JIS: return "Shift_JIS";
    case GUESS_EUC_JP: return "EUC-JP";
    case GUESS_UTF8: return "UTF-8";
    case GUESS_SJIS_OR_EUC: return "Shift_JIS or EUC-JP";
    case GUESS_UNKNOWN: break;
    }
    return "unknown";
}

const char *GuessedLineEndsName(GuessedLineEnds lineEnds) {
    switch (lineEnds) {
    case ENDS_CRLF: return "CRLF";
    case ENDS_LF: return "LF";
    case ENDS_CR: return "CR";
    case ENDS_MIXED: return "mixed";
    case ENDS_NONE: break;
    }
    return "none";
}
