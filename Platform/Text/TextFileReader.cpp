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

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// Share of decoded characters that plain Chinese text is made of: ASCII, CJK ideographs,
// CJK and full-width punctuation. Used to choose between two clean conversions.
size_t plausibleChars(std::string_view utf8) {
    size_t score = 0;
    int32_t i = 0;
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto len = static_cast<int32_t>(utf8.size());
    while (i < len) {
        UChar32 c;
        U8_NEXT(s, i, len, c);
        if ((c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r' ||
            (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3000 && c <= 0x303F) ||
            (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x2010 && c <= 0x2027))
            ++score;
    }
    return score;
}

// A guessed conversion must read as text: no control characters besides the line and
// tab controls, and no private-use characters (what stray bytes map to in Big5 and GB18030).
bool looksLikeText(std::string_view utf8) {
    int32_t i = 0;
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto len = static_cast<int32_t>(utf8.size());
    while (i < len) {
        UChar32 c;
        U8_NEXT(s, i, len, c);
        if (c < 0) return false;
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f') return false;
        if ((c >= 0x7F && c <= 0x9F) || (c >= 0xE000 && c <= 0xF8FF)) return false;
    }
    return true;
}

std::optional<std::string> decodeUtf16WithoutMark(std::string_view bytes) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    size_t evenZeros = 0, oddZeros = 0;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\0') (i % 2 == 0 ? evenZeros : oddZeros)++;
    if (evenZeros == oddZeros) return std::nullopt;
    // Little-endian ASCII code units have their zero in the odd byte.
    const char* charset = oddZeros > evenZeros ? "UTF-16LE" : "UTF-16BE";
    auto text = convertStrict(bytes, charset);
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
std::optional<std::string> chooseChineseDecoding(std::string_view bytes, const std::string& guess) {
    const bool big5First = guess.rfind("BIG5", 0) == 0;
    // A clean conversion that reads as text, else none.
    const auto decode = [bytes](const char* charset, std::string& out) {
        auto text = convertStrict(bytes, charset);
        if (!text || !looksLikeText(*text)) return false;
        out = std::move(*text);
        return true;
    };
    std::string gb, big5;
    const bool gbOk = decode("GB18030", gb), big5Ok = decode("Big5", big5);
    if (gbOk && big5Ok) {
        const size_t gbScore = plausibleChars(gb), big5Score = plausibleChars(big5);
        if (big5Score > gbScore || (big5Score == gbScore && big5First)) return big5;
        return gb;
    }
    if (gbOk) return gb;
    if (big5Ok) return big5;
    return std::nullopt;
}

} // namespace

std::optional<std::string> decodeText(std::string_view bytes) {
    // 1. Byte-order marks; UTF-32 first, its LE mark begins like UTF-16 LE.
    if (startsWith(bytes, "\xEF\xBB\xBF")) {
        auto rest = bytes.substr(3);
        if (!isValidUtf8(rest) || rest.find('\0') != std::string_view::npos) return std::nullopt;
        return std::string(rest);
    }
    if (startsWith(bytes, std::string_view("\xFF\xFE\0\0", 4)))
        return convertStrict(bytes.substr(4), "UTF-32LE");
    if (startsWith(bytes, std::string_view("\0\0\xFE\xFF", 4)))
        return convertStrict(bytes.substr(4), "UTF-32BE");
    if (startsWith(bytes, "\xFF\xFE")) return convertStrict(bytes.substr(2), "UTF-16LE");
    if (startsWith(bytes, "\xFE\xFF")) return convertStrict(bytes.substr(2), "UTF-16BE");

    const bool hasNul = bytes.find('\0') != std::string_view::npos;
    // 2. Plain UTF-8 (ASCII included).
    if (!hasNul && isValidUtf8(bytes)) return std::string(bytes);

    // 3. Detection. NUL bytes only occur in UTF-16 text here; anything else is binary.
    if (hasNul) return decodeUtf16WithoutMark(bytes);

    const std::string guess = detectorGuess(bytes);
    if (guess == "UTF-8" && mostLinesAreUtf8(bytes)) return std::nullopt;   // damaged UTF-8
    return chooseChineseDecoding(bytes, guess);
}

std::optional<std::string> readTextFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return decodeText(bytes);
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
