#include "Platform/Text/TextFileReader.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>
#include <uchardet/uchardet.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <system_error>

namespace plat {
namespace {

// Converts bytes in the named charset to UTF-8; none on any invalid or unmapped sequence.
std::optional<std::string> convertStrict(std::string_view bytes, const char* charset) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, decltype(&ucnv_close)> from(ucnv_open(charset, &status), ucnv_close);
    if (U_FAILURE(status)) return std::nullopt;
    ucnv_setToUCallBack(from.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) return std::nullopt;

    // Every input byte yields at most one UTF-16 unit, except 4-byte sequences (two units).
    std::u16string u16(bytes.size() + 2, u'\0');
    const char* src = bytes.data();
    UChar* dst = u16.data();
    ucnv_toUnicode(from.get(), &dst, u16.data() + u16.size(), &src, bytes.data() + bytes.size(),
                   nullptr, true, &status);
    if (U_FAILURE(status)) return std::nullopt;
    const auto units = static_cast<int32_t>(dst - u16.data());

    int32_t needed = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8(nullptr, 0, &needed, u16.data(), units, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::nullopt;
    std::string out(static_cast<size_t>(needed), '\0');
    status = U_ZERO_ERROR;
    u_strToUTF8(out.data(), needed, &needed, u16.data(), units, &status);
    if (U_FAILURE(status)) return std::nullopt;   // unpaired surrogate
    if (out.find('\0') != std::string::npos) return std::nullopt;
    return out;
}

// Calls fn(c) for each code point of UTF-8 text (negative for an invalid sequence)
// until fn returns false; returns whether it ran to the end.
template <class Fn>
bool forEachCodePoint(std::string_view utf8, Fn fn) {
    int32_t i = 0;
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto len = static_cast<int32_t>(utf8.size());
    while (i < len) {
        UChar32 c;
        U8_NEXT(s, i, len, c);
        if (!fn(c)) return false;
    }
    return true;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// Share of decoded characters that plain Chinese text is made of: ASCII, CJK ideographs,
// CJK and full-width punctuation.
size_t plausibleChars(std::string_view utf8) {
    size_t score = 0;
    forEachCodePoint(utf8, [&score](UChar32 c) {
        if ((c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r' || (c >= 0x4E00 && c <= 0x9FFF) ||
            (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x2010 && c <= 0x2027))
            ++score;
        return true;
    });
    return score;
}

size_t countChars(std::string_view utf8) {
    size_t n = 0;
    for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

// Walks the multi-byte characters (GB18030's four-byte form when `gb18030`) and counts
// those for which inCore(lead, trail) is false.
template <class InCore>
size_t outsideCore(std::string_view bytes, bool gb18030, InCore inCore) {
    size_t outside = 0;
    for (size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const auto trail = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        if (gb18030 && trail >= 0x30 && trail <= 0x39) {
            ++outside;
            i += 4;
            continue;
        }
        if (!inCore(lead, trail)) ++outside;
        i += 2;
    }
    return outside;
}

// Characters outside an encoding's core set: for GB18030 everything but GB2312's
// punctuation rows and ideographs; for Big5 everything but its punctuation and its two
// ideograph levels. Text written in one encoding and read in the other lands outside
// the core far more often (Big5's trail bytes 0x40-0x7E are GBK extensions; GB2312's
// rows 0xC7-0xC8 are Big5's extension area), and private-use characters always count.
size_t gbOutsideCore(std::string_view bytes) {
    return outsideCore(bytes, true, [](unsigned lead, unsigned trail) {
        return trail >= 0xA1 && trail <= 0xFE && ((lead >= 0xA1 && lead <= 0xA3) || (lead >= 0xB0 && lead <= 0xF7));
    });
}

size_t big5OutsideCore(std::string_view bytes) {
    return outsideCore(bytes, false, [](unsigned lead, unsigned trail) {
        const unsigned code = lead << 8 | trail;
        const bool trailOk = (trail >= 0x40 && trail <= 0x7E) || (trail >= 0xA1 && trail <= 0xFE);
        return trailOk && ((code >= 0xA140 && code <= 0xA3BF) || (code >= 0xA440 && code <= 0xC67E) ||
                           (code >= 0xC940 && code <= 0xF9D5));
    });
}

// A guessed conversion must read as text: no control characters besides the line and
// tab controls. Private-use characters pass; plausibleChars does not count them.
bool looksLikeText(std::string_view utf8) {
    return forEachCodePoint(utf8, [](UChar32 c) {
        if (c < 0) return false;
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f') return false;
        return !(c >= 0x7F && c <= 0x9F);
    });
}

// UTF-16 without a mark: the zero bytes of ASCII code units give the byte order.
std::optional<std::string> decodeUtf16WithoutMark(std::string_view bytes, std::string& charset) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    size_t evenZeros = 0, oddZeros = 0;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\0') (i % 2 == 0 ? evenZeros : oddZeros)++;
    if (evenZeros == oddZeros) return std::nullopt;
    // Little-endian ASCII code units have their zero in the odd byte.
    charset = oddZeros > evenZeros ? "UTF-16LE" : "UTF-16BE";
    auto text = convertStrict(bytes, charset.c_str());
    if (text && !looksLikeText(*text)) return std::nullopt;
    return text;
}

// Damaged UTF-8 rather than text in another encoding: of the lines that hold non-ASCII
// bytes, at least twice as many are valid UTF-8 as are not. The detector alone takes some
// short GB18030 tables for UTF-8; their lines are almost never valid UTF-8.
bool mostLinesAreUtf8(std::string_view bytes) {
    size_t valid = 0, invalid = 0;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        const std::string_view line = bytes.substr(start, end - start);
        start = end + 1;
        if (std::all_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            continue;
        (isValidUtf8(line) ? valid : invalid)++;
    }
    return valid >= 2 * invalid;
}

std::string detectorGuess(std::string_view bytes) {
    uchardet_t detector = uchardet_new();
    if (!detector) return {};
    std::string guess;
    if (uchardet_handle_data(detector, bytes.data(), bytes.size()) == 0) {
        uchardet_data_end(detector);
        if (const char* name = uchardet_get_charset(detector)) guess = name;
    }
    uchardet_delete(detector);
    std::transform(guess.begin(), guess.end(), guess.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return guess;
}

// GB18030 or Big5, whichever converts cleanly and reads more like Chinese text.
std::optional<std::string> chooseChineseDecoding(std::string_view bytes, const std::string& guess,
                                                 std::string& charset) {
    const bool saysBig5 = guess.rfind("BIG5", 0) == 0, saysGb = guess == "GB18030" || guess == "GB2312";
    // A clean conversion that reads as text, else none.
    const auto decode = [bytes](const char* name, std::string& out) {
        auto text = convertStrict(bytes, name);
        if (!text || !looksLikeText(*text)) return false;
        out = std::move(*text);
        return true;
    };
    std::string gb, big5;
    // Neither encoding uses the byte 0xFF; Windows' code pages map it alone to private use.
    if (bytes.find('\xFF') != std::string_view::npos) return std::nullopt;
    // Windows' GBK also maps 0x80 (the euro sign), which GB18030 leaves out.
    const char* gbName = "GB18030";
    bool gbOk = decode(gbName, gb);
    if (!gbOk && decode("windows-936", gb)) {
        gbOk = true;
        gbName = "GBK";
    }
    const bool big5Ok = decode("Big5", big5);
    // The detector's word decides between the two when it names one of them; otherwise
    // fewer characters outside the core set or outside plain Chinese.
    if (gbOk && big5Ok && saysBig5) gbOk = false;
    if (gbOk && big5Ok && !saysGb) {
        const size_t gbOutside = gbOutsideCore(bytes), big5Outside = big5OutsideCore(bytes);
        const size_t gbScore = plausibleChars(gb), big5Score = plausibleChars(big5);
        const size_t gbBad = gbOutside + (countChars(gb) - gbScore);
        const size_t big5Bad = big5Outside + (countChars(big5) - big5Score);
        gbOk = big5Bad >= gbBad;
    }
    if (gbOk) {
        charset = gbName;
        return gb;
    }
    if (big5Ok) {
        charset = "Big5";
        return big5;
    }
    return std::nullopt;
}

struct ScriptCounts {
    size_t nonAscii = 0, kana = 0, hangul = 0;
};

ScriptCounts countScripts(std::string_view utf8) {
    ScriptCounts n;
    forEachCodePoint(utf8, [&n](UChar32 c) {
        if (c < 0x80) return true;
        ++n.nonAscii;
        if ((c >= 0x3041 && c <= 0x30FF) || (c >= 0x31F0 && c <= 0x31FF) || (c >= 0xFF66 && c <= 0xFF9F)) ++n.kana;
        if ((c >= 0xAC00 && c <= 0xD7A3) || (c >= 0x1100 && c <= 0x11FF) || (c >= 0x3131 && c <= 0x318E)) ++n.hangul;
        return true;
    });
    return n;
}

// Of the characters that the bytes hold when read as GB18030, the share that are GB2312
// ideographs (the common ones). Japanese read as GB18030 lands mostly on rare GBK
// ideographs (日本語 becomes 擔杮岅).
double gb2312IdeographShare(std::string_view bytes) {
    const size_t all = outsideCore(bytes, true, [](unsigned, unsigned) { return false; });
    const size_t rare = outsideCore(bytes, true, [](unsigned lead, unsigned trail) {
        return lead >= 0xB0 && lead <= 0xF7 && trail >= 0xA1 && trail <= 0xFE;
    });
    return all ? static_cast<double>(all - rare) / static_cast<double>(all) : 1.0;
}

// The detector's verdict that the bytes are Japanese or Korean, checked against the
// characters themselves: the detector alone sometimes names EUC-JP or UHC for a few
// lines of GB2312. Returns the encoding's name when the text is Japanese or Korean.
std::optional<std::string> otherCjkEncoding(std::string_view bytes, const std::string& guess) {
    static const char* const japanese[] = {"SHIFT_JIS", "WINDOWS-31J", "CP932", "EUC-JP", "ISO-2022-JP"};
    static const char* const korean[] = {"EUC-KR", "UHC", "CP949", "ISO-2022-KR", "JOHAB"};
    const auto named = [&guess](const auto& list) {
        return std::any_of(std::begin(list), std::end(list), [&guess](const char* n) { return guess == n; });
    };
    if (named(japanese)) {
        const char* icuName = guess == "EUC-JP" ? "EUC-JP" : guess == "ISO-2022-JP" ? "ISO-2022-JP" : "Shift_JIS";
        const auto text = convertStrict(bytes, icuName);
        if (!text) return std::nullopt;
        const auto counts = countScripts(*text);
        if (counts.kana > 0 || gb2312IdeographShare(bytes) < 0.5) return guess;
        return std::nullopt;
    }
    if (named(korean)) {
        const auto text = convertStrict(bytes, guess == "ISO-2022-KR" ? "ISO-2022-KR" : "windows-949");
        if (!text) return std::nullopt;
        const auto counts = countScripts(*text);
        // Chinese read as EUC-KR gives Hanja for a good part of its ideographs.
        if (counts.nonAscii > 0 && counts.hangul * 10 >= counts.nonAscii * 9) return guess;
        return std::nullopt;
    }
    return std::nullopt;
}

TextFile refused(TextFileStatus status, std::string encoding = {}) {
    TextFile f;
    f.status = status;
    f.encoding = std::move(encoding);
    return f;
}

TextFile decoded(std::optional<std::string> text, std::string encoding) {
    if (!text) return refused(TextFileStatus::Undecodable, std::move(encoding));
    TextFile f;
    f.status = TextFileStatus::Ok;
    f.text = std::move(*text);
    f.encoding = std::move(encoding);
    return f;
}

} // namespace

TextFile decodeTextFile(std::string_view bytes) {
    // 1. Byte-order marks; UTF-32 first, its LE mark begins like UTF-16 LE.
    if (startsWith(bytes, "\xEF\xBB\xBF")) {
        auto rest = bytes.substr(3);
        if (!isValidUtf8(rest) || rest.find('\0') != std::string_view::npos)
            return refused(TextFileStatus::Undecodable, "UTF-8");
        return decoded(std::string(rest), "UTF-8");
    }
    if (startsWith(bytes, std::string_view("\xFF\xFE\0\0", 4)))
        return decoded(convertStrict(bytes.substr(4), "UTF-32LE"), "UTF-32LE");
    if (startsWith(bytes, std::string_view("\0\0\xFE\xFF", 4)))
        return decoded(convertStrict(bytes.substr(4), "UTF-32BE"), "UTF-32BE");
    if (startsWith(bytes, "\xFF\xFE")) return decoded(convertStrict(bytes.substr(2), "UTF-16LE"), "UTF-16LE");
    if (startsWith(bytes, "\xFE\xFF")) return decoded(convertStrict(bytes.substr(2), "UTF-16BE"), "UTF-16BE");

    const bool hasNul = bytes.find('\0') != std::string_view::npos;
    // 2. Plain UTF-8 (ASCII included).
    if (!hasNul && isValidUtf8(bytes)) return decoded(std::string(bytes), "UTF-8");

    // 3. Detection. NUL bytes only occur in UTF-16 text here; anything else is binary.
    if (hasNul) {
        std::string charset;
        auto text = decodeUtf16WithoutMark(bytes, charset);
        return decoded(std::move(text), charset);
    }

    const std::string guess = detectorGuess(bytes);
    if (guess == "UTF-8" && mostLinesAreUtf8(bytes)) return refused(TextFileStatus::Undecodable, "UTF-8");
    if (auto other = otherCjkEncoding(bytes, guess)) return refused(TextFileStatus::UnsupportedEncoding, *other);
    std::string charset;
    auto text = chooseChineseDecoding(bytes, guess, charset);
    return decoded(std::move(text), text ? charset : guess);
}

std::optional<std::string> decodeText(std::string_view bytes) {
    auto f = decodeTextFile(bytes);
    if (f.status != TextFileStatus::Ok) return std::nullopt;
    return std::move(f.text);
}

TextFile readTextFile(const std::filesystem::path& path, std::uintmax_t maxBytes) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return refused(TextFileStatus::Missing);
    std::ifstream in(path, std::ios::binary);
    if (!in) return refused(TextFileStatus::Unreadable);
    // The size of the open file, so a file replaced after the check cannot slip past it.
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) return refused(TextFileStatus::Unreadable);
    if (static_cast<std::uintmax_t>(size) > maxBytes) return refused(TextFileStatus::TooLarge);
    in.seekg(0, std::ios::beg);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (size > 0 && !in.read(bytes.data(), size)) return refused(TextFileStatus::Unreadable);
    return decodeTextFile(bytes);
}

std::optional<std::string> readTextFile(const std::filesystem::path& path) {
    auto f = readTextFile(path, std::numeric_limits<std::uintmax_t>::max());
    if (f.status != TextFileStatus::Ok) return std::nullopt;
    return std::move(f.text);
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    if (startsWith(text, "\xEF\xBB\xBF")) text.remove_prefix(3);
    size_t start = 0;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t termLen = 0;
        if (c == '\n' || c == '\v' || c == '\f') termLen = 1;
        else if (c == '\r') termLen = (i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
        else if (c == 0xC2 && i + 1 < n && static_cast<unsigned char>(text[i + 1]) == 0x85) termLen = 2;
        else if (c == 0xE2 && i + 2 < n && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                 (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                  static_cast<unsigned char>(text[i + 2]) == 0xA9))
            termLen = 3;
        if (termLen == 0) { ++i; continue; }
        lines.push_back(text.substr(start, i - start));
        i += termLen;
        start = i;
    }
    if (start < n) lines.push_back(text.substr(start));
    return lines;
}

std::vector<std::string_view> splitFields(std::string_view line, char separator) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        size_t pos = line.find(separator, start);
        if (pos == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, pos - start));
        start = pos + 1;
    }
}

} // namespace plat
