#pragma once
// Syllable codes and the tables that translate them to and from pinyin text.
//
// A syllable code packs the initial in the high byte (zh, ch and sh are z, c
// and s plus 0x80) and the final index (1-33) in the low six bits. A bare
// initial has final 0; a syllable without an initial has initial 0.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace taviro {

// Initial codes.
struct ShengMu {
    ShengMu() = delete;
    static constexpr int b = 0x0100;
    static constexpr int p = 0x0200;
    static constexpr int m = 0x0300;
    static constexpr int f = 0x0400;
    static constexpr int d = 0x0500;
    static constexpr int t = 0x0600;
    static constexpr int n = 0x0700;
    static constexpr int l = 0x0800;
    static constexpr int g = 0x0900;
    static constexpr int k = 0x0A00;
    static constexpr int h = 0x0B00;
    static constexpr int j = 0x0C00;
    static constexpr int q = 0x0D00;
    static constexpr int x = 0x0E00;
    static constexpr int z = 0x0F00;
    static constexpr int c = 0x1000;
    static constexpr int s = 0x1100;
    static constexpr int r = 0x1200;
    static constexpr int w = 0x1600;
    static constexpr int y = 0x1700;
    static constexpr int zh = z | 0x80;
    static constexpr int ch = c | 0x80;
    static constexpr int sh = s | 0x80;
};

// Final indices; ü is written v.
struct YunMu {
    YunMu() = delete;
    static constexpr int ai = 1;
    static constexpr int ei = 2;
    static constexpr int ui = 3;
    static constexpr int ao = 4;
    static constexpr int ou = 5;
    static constexpr int iu = 6;
    static constexpr int ie = 7;
    static constexpr int ue = 8;
    static constexpr int er = 9;
    static constexpr int an = 10;
    static constexpr int en = 11;
    static constexpr int in = 12;
    static constexpr int un = 13;
    static constexpr int ang = 14;
    static constexpr int eng = 15;
    static constexpr int ing = 16;
    static constexpr int ong = 17;
    static constexpr int ua = 18;
    static constexpr int uai = 19;
    static constexpr int uan = 20;
    static constexpr int uang = 21;
    static constexpr int iang = 22;
    static constexpr int iong = 23;
    static constexpr int iao = 24;
    static constexpr int ian = 25;
    static constexpr int uo = 26;
    static constexpr int ia = 27;
    static constexpr int a = 28;
    static constexpr int o = 29;
    static constexpr int e = 30;
    static constexpr int i = 31;
    static constexpr int u = 32;
    static constexpr int v = 33;
};

inline constexpr int kFinalMask = 0x3F;

// The final index of a code.
constexpr int finalOf(int code) { return code & kFinalMask; }
// The initial part of a code (retroflex flag included), final bits cleared.
constexpr int initialOf(int code) { return code & ~kFinalMask; }

struct SyllableEntry {
    std::string_view text;
    int code;
};

// The syllable tables and their lookups. Every function is safe to call from
// any thread; the tables are built once and never change.
class PyString {
public:
    PyString() = delete;

    // The 413 syllables, grouped by initial (zero-initial syllables first).
    static std::span<const SyllableEntry> allSyllables();
    // The 23 bare initials ("b" = 0x0100 ... "zh" = 0x0F80).
    static std::span<const SyllableEntry> bareInitials();
    // The 33 finals with their indices, in index order.
    static std::span<const SyllableEntry> allFinals();

    // Groups of texts to groups of codes, same shape; unknown text gives 0.
    static std::vector<std::vector<int>> syllableCodesForTexts(
        const std::vector<std::vector<std::string>>& groups);
    // Groups of codes to groups of texts, same shape; unknown code gives "".
    static std::vector<std::vector<std::string>> syllableTextsForCodes(
        const std::vector<std::vector<int>>& groups);

    // True for the 23 bare-initial codes only.
    static bool isBareInitialCode(int code);
    // Index of one of the 33 finals.
    static std::optional<int> finalIndexForText(std::string_view text);
    // Code of a syllable or bare initial.
    static std::optional<int> syllableCodeForText(std::string_view text);

    // Single lookups in the syllable code table: text of a syllable or bare
    // initial, "" when the code is not in the table.
    static std::string_view syllableTextForCode(int code);
    static bool isSyllableCode(int code);
};

} // namespace taviro
