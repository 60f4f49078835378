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

#include "cpu_features.h"
#include "path_table.h"
#include "guess_steps.h"
#include "program_state.h"
#include "transcode_rules.h"

namespace {

// The kanji of either level come in two classes: among the 1,000 most common, and rare.
enum CharClass {
    HIRAGANA, KATAKANA, PUNCTUATION, KANJI_LEVEL1, ALPHANUMERIC, SYMBOL, KANJI_LEVEL2,
    HALF_WIDTH_KATAKANA, JIS_X0212, EXTENSION, UNASSIGNED, OTHER_CHARACTER, KANJI_LEVEL1_RARE, KANJI_LEVEL2_RARE
};
static_assert(KANJI_LEVEL2_RARE + 1 == kavo_guess::CLASS_COUNT, "CLASS_COUNT is the number of classes");

// Scores by class, in the order above.
const int WEIGHTS[] = {4, 3, 3, 3, 1, 0, 0, 0, 0, -2, -6, 1, 3, 0};

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

// Chinese and Korean text read as Japanese turns into kanji taken at random, most of them
// rare; Japanese text uses the common ones. Of the first kanji of a reading (GUESS_KANJI_SEEN),
// more than one in this many being rare makes it no Japanese text.
const unsigned long long RARE_KANJI_SHARE = 4;

// The 1,000 most common kanji, by row and cell (scripts/make-common-kanji.py).
const unsigned char COMMON_KANJI[] = {
#include "common_kanji.inc"
};

int Common(int row, int cell) {
    const int index = (row - 1) * 94 + (cell - 1);
    return COMMON_KANJI[index >> 3] >> (index & 7) & 1;
}

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
    if (row >= 16) {
        const int common = Common(row, cell);
        if (row <= 47) return common ? KANJI_LEVEL1 : KANJI_LEVEL1_RARE;
        return common ? KANJI_LEVEL2 : KANJI_LEVEL2_RARE;
    }
    switch (row) {
    case 1: return PUNCTUATION;
    case 3: return ALPHANUMERIC;
    case 4: return HIRAGANA;
    case 5: return KATAKANA;
    default: return SYMBOL;
    }
}


// The JIS row and cell of a Shift_JIS pair: first byte s1 (0x81-0x9F, 0xE0-0xFC), second
// byte s2 (0x40-0xFC but 0x7F). Rows past 94 are the user-defined area and IBM's.
void SjisRowCell(int s1, int s2, int *row, int *cell) {
    *row = 2 * (s1 <= 0x9F ? s1 - 0x81 : s1 - 0xC1) + 1 + (s2 >= 0x9F);
    *cell = s2 >= 0x9F ? s2 - 0x9E : s2 - 0x3F - (s2 >= 0x80);
}

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

// What one character adds to a reading, by class.
const int HALF_WIDTH_WEIGHT_INDEX = HALF_WIDTH_KATAKANA;

int IsKana(CharClass c) { return c == HIRAGANA || c == KATAKANA; }
int IsOutside(CharClass c) { return c == JIS_X0212 || c == EXTENSION || c == UNASSIGNED; }
int IsCommon(CharClass c) {
    return c == HIRAGANA || c == KATAKANA || c == PUNCTUATION || c == KANJI_LEVEL1 || c == KANJI_LEVEL1_RARE;
}

}  // namespace

namespace kavo_guess {

int PairComesBack(int direction, unsigned char first, unsigned char second) {
    unsigned char there[2], back[2];
    if (direction == SjisToEuc) {
        if (!IsSjisLeadByte(first)) return 0;
        SjisPairToEuc(first, second, there);
        if (!IsEucLeadByte(there[0])) return 0;  // read back as ASCII, or as the katakana prefix
        EucPairToSjis(there[0], there[1], back);
    } else {
        if (first < 0x80) return 0;
        if (first == EUC_KANA_PREFIX) return IsSjisKanaByte(second);  // written alone, and prefixed again
        EucPairToSjis(first, second, there);
        if (!IsSjisLeadByte(there[0])) return 0;  // ASCII, half-width katakana or dropped there
        SjisPairToEuc(there[0], there[1], back);
    }
    return back[0] == first && back[1] == second;
}

int FillTables(Tables *t) {
    memset(t, 0, sizeof *t);
    for (int first = 0x80; first <= 0xFF; first++) {
        for (int second = 0x40; second <= 0xFE; second++) {
            const int pair = first << 8 | second;
            if (IsSjisLeadByte((unsigned char)first) && second != 0x7F && second <= 0xFC) {
                CharClass c = EXTENSION;  // from 0xF0: the user-defined area and IBM's
                if (first < 0xF0) {
                    int row, cell;
                    SjisRowCell(first, second, &row, &cell);
                    c = JisClass(row, cell, 0);
                }
                t->pairClass[0][pair] = (unsigned char)c;
            }
            if (first >= 0xA1 && first <= 0xFE && second >= 0xA1)
                t->pairClass[1][pair] = (unsigned char)JisClass(first - 0xA0, second - 0xA0, 1);
            if (first == EUC_KANA_PREFIX && second >= 0xA1 && second <= 0xDF)
                t->pairClass[1][pair] = HALF_WIDTH_KATAKANA;
        }
    }
    for (int direction = 0; direction < 2; direction++)
        for (int pair = 0; pair < 65536; pair++)
            if (PairComesBack(direction, (unsigned char)(pair >> 8), (unsigned char)pair))
                t->comesBack[direction][pair >> 3] |= (unsigned char)(1 << (pair & 7));
    for (int c = 0; c < CLASS_COUNT; c++) {
        const CharClass k = (CharClass)c;
        t->rare[c] = c == KANJI_LEVEL1_RARE || c == KANJI_LEVEL2_RARE;
        t->kanji[c] = t->rare[c] || c == KANJI_LEVEL1 || c == KANJI_LEVEL2;
        t->increment[c] = (uint64_t)(WEIGHTS[c] + WEIGHT_BIAS) | (uint64_t)IsKana(k) << FIELD |
                          (uint64_t)IsOutside(k) << 2 * FIELD | (uint64_t)IsCommon(k) << 3 * FIELD |
                          (uint64_t)(c == HALF_WIDTH_WEIGHT_INDEX) << 4 * FIELD;
    }
    return 1;
}

constexpr SplatTable MakeSplat() {
    SplatTable table = {};
    for (int v = 0; v < 256; v++)
        for (unsigned char &b : table.rows[v].bytes) b = (unsigned char)v;
    return table;
}

extern const SplatTable GUESS_SPLAT = MakeSplat();

const Tables &TheTables() {
    static Tables tables;
    static const int filled = FillTables(&tables);
    (void)filled;
    return tables;
}

void Count(GuessReading *r, CharClass c) {
    r->score += WEIGHTS[c];
    r->characters++;
    r->kana += IsKana(c);
    r->outside += IsOutside(c);
    r->common += IsCommon(c);
    r->halfWidthKana += c == HALF_WIDTH_KATAKANA;
    if (c == KANJI_LEVEL1 || c == KANJI_LEVEL2 || c == KANJI_LEVEL1_RARE || c == KANJI_LEVEL2_RARE)
        NoteKanji(r, c == KANJI_LEVEL1_RARE || c == KANJI_LEVEL2_RARE);
}

void Drop(GuessReading *r) { r->valid = 0; }

// Shift_JIS: single bytes 00-7F and A1-DF (half-width katakana); first bytes 81-9F and
// E0-FC, second bytes 40-7E and 80-FC. F0-F9 is the user-defined area, FA-FC IBM's.
void FeedSjis(GuessReading *r, unsigned char b, const Tables &t) {
    if (r->state == 0) {
        if (r->afterHalfWidth) {
            r->halfWidthBeforeLetter += b >= 0x40 && b <= 0x7E;
            r->afterHalfWidth = 0;
        }
        if (b < 0x80) return;
        if (b >= 0xA1 && b <= 0xDF) {
            Count(r, HALF_WIDTH_KATAKANA);
            r->afterHalfWidth = 1;
        } else if (IsSjisLeadByte(b)) {
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
    Count(r, (CharClass)t.pairClass[0][r->pending[0] << 8 | b]);
}

// EUC-JP: A1-FE pairs (JIS X 0208 and its empty rows), 8E with A1-DF (half-width
// katakana), 8F with two bytes A1-FE (JIS X 0212).
void FeedEuc(GuessReading *r, unsigned char b, const Tables &t) {
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
    if (r->pending[0] == 0x8F)
        Count(r, JIS_X0212);
    else
        Count(r, (CharClass)t.pairClass[1][r->pending[0] << 8 | b]);
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

void NoteDamage(GuessDamage *d, unsigned long long offset, unsigned long long line) {
    if (d->characters++ == 0) {
        d->firstOffset = offset;
        d->firstLine = line;
    }
}

}  // namespace kavo_guess

using namespace kavo_guess;

namespace {

void StartReading(GuessReading *r) {
    memset(r, 0, sizeof *r);
    r->valid = 1;
}

int Complete(const GuessReading &r) { return r.valid && r.state == 0; }

int LooksJapanese(const GuessReading &r) {
    return r.kana > 0 && KANA_SHARE * r.kana >= r.characters && RARE_KANJI_SHARE * r.rareKanji <= r.kanji;
}

int IsBinaryControl(unsigned char b) {
    // Text has TAB, LF, VT, FF, CR, BEL and BS (both in troff sources), SUB (an old
    // end-of-file mark) and ESC.
    return b < 0x20 && !(b >= 0x07 && b <= 0x0D) && b != 0x1A && b != 0x1B;
}

// A byte at a time: what the conversion takes as one character, and whether it comes back.
void FeedDamage(GuessState *s, unsigned char b, const Tables &t) {
    GuessDamage *d = &s->damage;
    if (d->pending) {
        d->pending = 0;
        if (!ComesBack(t, d->direction, d->lead, b)) NoteDamage(d, d->leadOffset, LineNow(s));  // the lead's line
        return;
    }
    if (d->direction == SjisToEuc ? IsSjisLeadByte(b) : b >= 0x80) {
        d->pending = 1;
        d->lead = b;
        d->leadOffset = s->offset;
    } else if (d->direction == SjisToEuc && IsSjisDroppedByte(b)) {
        NoteDamage(d, s->offset, LineNow(s));  // written as nothing
    }
}

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

// The plain path: everything a byte at a time.
void FeedByte(GuessState *s, unsigned char b, const Tables &t) {
    if (s->damage.direction >= 0) FeedDamage(s, b, t);
    if (b < 0x80) {
        NoteAscii(s, b);
    } else {
        s->highBytes++;
        if (b >= 0xA1 && b <= 0xDF) s->katakanaRange++;
        s->last = b;
    }
    if (s->sjis.valid) FeedSjis(&s->sjis, b, t);
    if (s->euc.valid) FeedEuc(&s->euc, b, t);
    if (s->utf8.valid) FeedUtf8(&s->utf8, b);
    s->offset++;
}

// The encoding the text reads as, and for Shift_JIS and EUC-JP its characters outside JIS X 0208.
GuessedEncoding Encoding(const GuessState *s, unsigned long long *outside) {

    if (s->binary || s->escapeSequence) return GUESS_UNKNOWN;
    if (s->highBytes == 0) return GUESS_ASCII;
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
    if (best < 0 || readings[best]->score < MINIMUM_SCORE) return GUESS_UNKNOWN;
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
    // Two-byte UTF-8 (Latin, Greek, Cyrillic letters) can be made of such bytes alone too,
    // as can half-width katakana in Shift_JIS.
    const int utf8Doubt = best == UTF8 && s->katakanaRange == s->highBytes && Complete(s->sjis);
    if (utf8Doubt) return GUESS_UNKNOWN;
    if (close == 0 && !(katakanaDoubt && best != UTF8)) {
        if (best != UTF8) *outside = readings[best]->outside;
        return names[best];
    }
    if (utf8Close || best == UTF8) return GUESS_UNKNOWN;  // UTF-8 or a legacy encoding: too little to tell
    return GUESS_SJIS_OR_EUC;
}

// Kana that Japanese text does not have where they are, in a short text valid in the
// encoding converted from (direction 0: Shift_JIS): a full-width katakana with none beside
// it (nor the long vowel mark), as a Chinese character read as Japanese turns into; a
// small kana (ぁぃぅぇぉゃゅょゎ and their katakana) after anything but kana.
int OddKana(const unsigned char *text, size_t length, int direction) {
    int last = 0;         // the row of the character before, 0 for any other
    int lastIsLone = 0;   // it is a katakana with no katakana before it
    for (size_t i = 0; i < length;) {
        int row = 0, cell = 0;
        const unsigned char b = text[i];
        if (direction == SjisToEuc && IsSjisLeadByte(b) && b < 0xF0 && i + 1 < length) {
            const unsigned char t = text[i + 1];
            SjisRowCell(b, t, &row, &cell);
            i += 2;
        } else if (direction != SjisToEuc && b >= 0xA1 && b <= 0xFE && i + 1 < length) {
            row = b - 0xA0;
            cell = text[i + 1] - 0xA0;
            i += 2;
        } else if (direction == SjisToEuc) {
            i += IsSjisLeadByte(b) ? 2 : 1;  // the user-defined area and IBM's: no kana
        } else {
            i += b >= 0x8E ? 2 + (b == 0x8F) : 1;
        }
        const int kana = row == 4 || row == 5, katakana = row == 5 || (row == 1 && cell == 28);
        const int small = kana && (cell == 1 || cell == 3 || cell == 5 || cell == 7 || cell == 9 || cell == 67 ||
                                   cell == 69 || cell == 71 || cell == 78);
        if (small && last != 4 && last != 5) return 1;
        if (lastIsLone && !katakana) return 1;  // the katakana before had none on either side
        lastIsLone = row == 5 && last != 5 && !(last == 1 && katakana);
        last = katakana && row == 1 ? 5 : row;
    }
    return lastIsLone;
}

// Whether each character of a Shift_JIS text begins with a byte 0x81-0x9F (none is
// half-width katakana, none begins from 0xE0 up); *letters: it has an ASCII letter.
int SjisFirstBytesBelowA0(const unsigned char *text, size_t length, int *letters) {
    for (size_t i = 0; i < length; i++) {
        const unsigned char b = text[i];
        if (b < 0x80) {
            *letters |= (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
            continue;
        }
        if (b > 0x9F) return 0;
        i++;  // the second byte
    }
    return 1;
}

// Whether a short text read as Shift_JIS (sjis) or EUC-JP has a two-byte code that no
// standard assigns (an empty cell of JIS X 0208; not an extension, not the user-defined
// area): no encoder writes one, so the text is not in that encoding.
int HasUnassignedCode(const unsigned char *text, size_t length, int sjis) {
    const unsigned char *classes = TheTables().pairClass[sjis ? 0 : 1];
    for (size_t i = 0; i < length;) {
        const unsigned char b = text[i];
        if (sjis ? !IsSjisLeadByte(b) : b < 0x80) {
            i++;
        } else if (!sjis && b == 0x8F) {
            i += 3;  // JIS X 0212, a standard of its own
        } else {
            if (i + 1 < length && classes[b << 8 | text[i + 1]] == UNASSIGNED) return 1;
            i += 2;
        }
    }
    return 0;
}

// Whether the guard lets a conversion from Shift_JIS (direction 0) or EUC-JP take the file:
// the guess named that encoding, or the text is ASCII, or, when there is too little text
// for the guess to name one, the text can only be that encoding (it is not the other one,
// or has a code there that no standard assigns, nor UTF-8) and reads as Japanese there, or
// passes the rules below.
// "Shift_JIS or EUC-JP" alone is not enough: converted the wrong way, the text is spoilt.
int Convertible(const GuessState *s, GuessedEncoding encoding, int direction) {
    const GuessedEncoding source = direction == SjisToEuc ? GUESS_SHIFT_JIS : GUESS_EUC_JP;
    if (encoding == GUESS_ASCII || encoding == source) return 1;
    if (s->binary || s->escapeSequence) return 0;
    const GuessReading &from = direction == SjisToEuc ? s->sjis : s->euc;
    const GuessReading &to = direction == SjisToEuc ? s->euc : s->sjis;
    if (!Complete(from) || Complete(s->utf8) || s->offset > GUESS_SHORT_TEXT) return 0;
    const size_t length = (size_t)s->offset;
    const int otherReads = Complete(to);  // if only with codes no standard assigns
    if (otherReads && !HasUnassignedCode(s->start, length, direction != SjisToEuc)) return 0;
    if (HasUnassignedCode(s->start, length, direction == SjisToEuc)) return 0;
    if (OddKana(s->start, length, direction)) return 0;
    if (LooksJapanese(from)) return 1;
    if (from.characters == 0) return 0;
    // EUC-JP only, with kana for a third of its characters or more, rare kanji or not:
    // Chinese and Korean text seldom has characters from the kana rows (GB2312's are
    // EUC-JP's; EUC-KR has its jamo there, written alone only now and then).
    if (direction != SjisToEuc) return from.kana >= 2 && 3 * from.kana >= from.characters;
    // Shift_JIS only: all kanji, and common ones (Chinese and Korean text has its first bytes
    // from 0xA1 up, and reads as half-width katakana and rare kanji here); or all half-width
    // katakana, never right before a letter.
    if (from.kanji == from.characters && from.rareKanji == 0) return 1;
    // (Only where the other reading fails outright: Big5 read as Shift_JIS is half-width
    // katakana too, and as EUC-JP often has codes no standard assigns.)
    if (!otherReads && from.halfWidthKana == from.characters && from.halfWidthBeforeLetter == 0) return 1;
    // Or, rare kanji or not, every character begins with a byte 0x81-0x9F, which no
    // character of GB2312, Big5 or EUC-KR text begins with: kana enough to be Japanese,
    // or kanji alone with no ASCII letter (Windows-1252 puts its quotes and dashes from
    // 0x80-0x9F beside letters, where they read as kanji).
    int letters = 0;
    if (!SjisFirstBytesBelowA0(s->start, length, &letters)) return 0;
    if (from.kana > 0) return KANA_SHARE * from.kana >= from.characters;
    return from.kanji == from.characters && !letters;
}

struct Path {
    const char *name;
    StepKernel kernel;  // null: a byte at a time
    int (*supported)(void);
};

int Always(void) { return 1; }

const Path PATHS[] = {
    {"plain", nullptr, Always},
#if defined(__i386__) || defined(__x86_64__)
    {"sse2", StepsSse2, CpuHasSse2},
#endif
#if defined(__x86_64__)
    {"avx2", StepsAvx2, CpuHasAvx2},
#endif
};
static_assert(sizeof PATHS / sizeof PATHS[0] <= GUESS_MAX_PATHS, "GUESS_MAX_PATHS is too small");

const Path *currentPath = BestPath(PATHS);

}  // namespace

int GuessPaths(const char *names[GUESS_MAX_PATHS]) { return PathNames(PATHS, names); }

int GuessSelectPath(const char *name) {
    const Path *path = RunnablePath(PATHS, name);
    if (path) currentPath = path;
    return path != nullptr;
}

void GuessStart(GuessState *state) {
    TheTables();
    memset(state, 0, sizeof *state);
    StartReading(&state->sjis);
    StartReading(&state->euc);
    StartReading(&state->utf8);
    state->damage.direction = -1;
}

void GuessCheckDamage(GuessState *state, int direction) { state->damage.direction = direction == SjisToEuc ? 0 : 1; }

void GuessFeed(GuessState *s, const unsigned char *bytes, size_t length) {
    const Tables &t = TheTables();
    if (s->offset < GUESS_SHORT_TEXT) {
        const size_t room = GUESS_SHORT_TEXT - (size_t)s->offset;
        memcpy(s->start + s->offset, bytes, length < room ? length : room);
    }
    size_t i = 0;
    if (currentPath->kernel && length > GUESS_STEP) {
        const size_t steps = (length - 1) / GUESS_STEP;  // the byte after the last step is there
        currentPath->kernel(s, bytes, steps, t);
        i = steps * GUESS_STEP;
    }
    for (; i < length; i++) FeedByte(s, bytes[i], t);
}

void GuessFinish(const GuessState *s, GuessResult *result) {
    const int kinds = (s->crlf > 0) + (s->lf > 0) + (s->cr > 0);
    result->lineEnds = kinds > 1 ? ENDS_MIXED : s->crlf ? ENDS_CRLF : s->lf ? ENDS_LF : s->cr ? ENDS_CR : ENDS_NONE;
    result->outside = 0;
    result->encoding = Encoding(s, &result->outside);
    for (int direction = 0; direction < 2; direction++)
        result->convertible[direction] = Convertible(s, result->encoding, direction);
    // A first byte at the very end is written as it is; towards Shift_JIS it comes back
    // only when it is a first byte there too.
    const GuessDamage &d = s->damage;
    result->damaged = d.characters;
    result->firstDamageOffset = d.firstOffset;
    result->firstDamageLine = d.firstLine;
    if (d.direction >= 0 && d.pending && d.direction != SjisToEuc && !IsSjisLeadByte(d.lead)) {
        if (result->damaged++ == 0) {
            result->firstDamageOffset = d.leadOffset;
            result->firstDamageLine = LineNow(s);
        }
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
