#include "Platform/Foundation/XmlPlistReader.h"
#include "Platform/Foundation/Utf8.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

namespace plat {

namespace {

constexpr int kMaxDepth = 512;

// strtod in the "C" locale: the files always write a decimal point, whatever
// locale the program runs in (the GUI sets the user's at start-up).
double strtodC(const char* text, char** stop) {
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return ::strtod_l(text, stop, c);
}

struct Tag {
    std::string name;
    bool closing = false;
    bool selfClosing = false;
};

class Parser {
public:
    explicit Parser(std::string_view s) : s_(s) {}

    std::optional<PlistValue> document() {
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") i_ = 3;
        if (!skipProlog()) return std::nullopt;
        auto open = tag();
        if (!open || open->closing || open->selfClosing || open->name != "plist") return std::nullopt;
        if (!skipSpace()) return std::nullopt;
        auto first = tag();
        if (!first || first->closing) return std::nullopt;
        auto root = value(*first, 0);
        if (!root || !skipSpace()) return std::nullopt;
        auto close = tag();
        if (!close || !close->closing || close->name != "plist") return std::nullopt;
        if (!skipSpace() || i_ != s_.size()) return std::nullopt;
        return root;
    }

private:
    bool startsWith(std::string_view p) const { return s_.substr(i_, p.size()) == p; }

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    bool skipComment() {
        std::size_t end = s_.find("-->", i_ + 4);
        if (end == std::string_view::npos) return false;
        i_ = end + 3;
        return true;
    }

    // White space and comments; false on an unterminated comment.
    bool skipSpace() {
        for (;;) {
            while (i_ < s_.size() && isSpace(s_[i_])) ++i_;
            if (!startsWith("<!--")) return true;
            if (!skipComment()) return false;
        }
    }

    // The XML declaration, processing instructions, comments and DOCTYPE.
    bool skipProlog() {
        for (;;) {
            if (!skipSpace()) return false;
            if (startsWith("<?")) {
                std::size_t end = s_.find("?>", i_ + 2);
                if (end == std::string_view::npos) return false;
                i_ = end + 2;
            } else if (startsWith("<!DOCTYPE")) {
                int brackets = 0;
                std::size_t j = i_ + 9;
                for (; j < s_.size(); ++j) {
                    if (s_[j] == '[') ++brackets;
                    else if (s_[j] == ']') --brackets;
                    else if (s_[j] == '>' && brackets <= 0) break;
                }
                if (j >= s_.size()) return false;
                i_ = j + 1;
            } else {
                return true;
            }
        }
    }

    std::optional<Tag> tag() {
        if (i_ >= s_.size() || s_[i_] != '<') return std::nullopt;
        ++i_;
        Tag t;
        if (i_ < s_.size() && s_[i_] == '/') {
            t.closing = true;
            ++i_;
        }
        const std::size_t start = i_;
        while (i_ < s_.size() && !isSpace(s_[i_]) && s_[i_] != '>' && s_[i_] != '/') ++i_;
        t.name.assign(s_.substr(start, i_ - start));
        if (t.name.empty()) return std::nullopt;
        char quote = 0;
        for (; i_ < s_.size(); ++i_) {
            char c = s_[i_];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                if (t.closing) return std::nullopt;
                quote = c;
            } else if (c == '>') {
                ++i_;
                return t;
            } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '>' && !t.closing) {
                t.selfClosing = true;
                i_ += 2;
                return t;
            } else if (c == '<') {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    bool entity(std::string& out) {
        std::size_t end = s_.find(';', i_);
        if (end == std::string_view::npos || end - i_ > 12) return false;
        std::string_view name = s_.substr(i_ + 1, end - i_ - 1);
        i_ = end + 1;
        if (name == "lt") out += '<';
        else if (name == "gt") out += '>';
        else if (name == "amp") out += '&';
        else if (name == "quot") out += '"';
        else if (name == "apos") out += '\'';
        else if (name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            std::string digits(name.substr(hex ? 2 : 1));
            if (digits.empty()) return false;
            char* stop = nullptr;
            unsigned long cp = std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
            if (*stop || cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
            appendUtf8(out, static_cast<char32_t>(cp));
        } else {
            return false;
        }
        return true;
    }

    // Character data up to and including </name>.
    std::optional<std::string> text(const std::string& name) {
        std::string out;
        while (i_ < s_.size()) {
            char c = s_[i_];
            if (c == '<') {
                if (startsWith("<![CDATA[")) {
                    std::size_t end = s_.find("]]>", i_ + 9);
                    if (end == std::string_view::npos) return std::nullopt;
                    out.append(s_.substr(i_ + 9, end - i_ - 9));
                    i_ = end + 3;
                } else if (startsWith("<!--")) {
                    if (!skipComment()) return std::nullopt;
                } else {
                    auto t = tag();
                    if (!t || !t->closing || t->name != name) return std::nullopt;
                    return out;
                }
            } else if (c == '&') {
                if (!entity(out)) return std::nullopt;
            } else {
                // A run of plain characters at once.
                std::size_t end = s_.find_first_of("<&", i_);
                if (end == std::string_view::npos) end = s_.size();
                out.append(s_.substr(i_, end - i_));
                i_ = end;
            }
        }
        return std::nullopt;
    }

    static std::string_view trim(std::string_view v) {
        while (!v.empty() && isSpace(v.front())) v.remove_prefix(1);
        while (!v.empty() && isSpace(v.back())) v.remove_suffix(1);
        return v;
    }

    static std::optional<std::int64_t> integer(std::string_view v) {
        v = trim(v);
        bool negative = false;
        if (!v.empty() && (v[0] == '-' || v[0] == '+')) {
            negative = v[0] == '-';
            v.remove_prefix(1);
        }
        int base = 10;
        if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
            base = 16;
            v.remove_prefix(2);
        }
        if (v.empty()) return std::nullopt;
        std::uint64_t u = 0;
        for (char c : v) {
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else return std::nullopt;
            if (u > (std::numeric_limits<std::uint64_t>::max() - d) / base) return std::nullopt;
            u = u * base + d;
        }
        if (negative) {
            if (u > std::uint64_t{1} << 63) return std::nullopt;
            return static_cast<std::int64_t>(~u + 1);
        }
        // Values above the signed range are kept bit for bit, as the binary
        // form does.
        return static_cast<std::int64_t>(u);
    }

    static std::optional<double> real(std::string_view v) {
        std::string t(trim(v));
        if (t.empty()) return std::nullopt;
        char* stop = nullptr;
        errno = 0;
        double d = strtodC(t.c_str(), &stop);
        if (*stop) return std::nullopt;
        return d;
    }

    static std::optional<PlistValue::Data> base64(std::string_view v) {
        PlistValue::Data out;
        std::uint32_t acc = 0;
        int bits = 0, pad = 0;
        for (char c : v) {
            int d;
            if (isSpace(c)) continue;
            if (c == '=') {
                ++pad;
                continue;
            }
            if (pad) return std::nullopt; // data after padding
            if (c >= 'A' && c <= 'Z') d = c - 'A';
            else if (c >= 'a' && c <= 'z') d = c - 'a' + 26;
            else if (c >= '0' && c <= '9') d = c - '0' + 52;
            else if (c == '+') d = 62;
            else if (c == '/') d = 63;
            else return std::nullopt;
            acc = (acc << 6) | static_cast<std::uint32_t>(d);
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                out.push_back(static_cast<std::uint8_t>((acc >> bits) & 0xFF));
            }
        }
        if (pad > 2 || bits >= 6) return std::nullopt;
        return out;
    }

    // "YYYY-MM-DDTHH:MM:SS" with an optional fraction and "Z".
    static std::optional<PlistDate> date(std::string_view v) {
        std::string t(trim(v));
        int y, mo, d, h, mi;
        int used = 0;
        if (std::sscanf(t.c_str(), "%4d-%2d-%2dT%2d:%2d:%n", &y, &mo, &d, &h, &mi, &used) != 5 || used == 0)
            return std::nullopt;
        char* stop = nullptr;
        const double sec = strtodC(t.c_str() + used, &stop);
        if (stop == t.c_str() + used) return std::nullopt;
        std::string_view rest(stop);
        if (!(rest.empty() || rest == "Z")) return std::nullopt;
        if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || sec < 0 || sec >= 61)
            return std::nullopt;
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = 0;
        const std::time_t base = ::timegm(&tm);
        return PlistDate{static_cast<double>(base) + sec};
    }

    std::optional<PlistValue> value(const Tag& t, int depth) {
        if (depth > kMaxDepth) return std::nullopt;
        const std::string& n = t.name;
        if (n == "dict") return dict(t, depth);
        if (n == "array") return array(t, depth);
        if (n == "true" || n == "false") {
            if (!t.selfClosing) {
                auto body = text(n);
                if (!body || !trim(*body).empty()) return std::nullopt;
            }
            return PlistValue(n == "true");
        }
        std::string body;
        if (!t.selfClosing) {
            auto b = text(n);
            if (!b) return std::nullopt;
            body = std::move(*b);
        }
        if (n == "string") return PlistValue(std::move(body));
        if (n == "integer") {
            auto v = integer(body);
            return v ? std::optional<PlistValue>(PlistValue(*v)) : std::nullopt;
        }
        if (n == "real") {
            auto v = real(body);
            return v ? std::optional<PlistValue>(PlistValue(*v)) : std::nullopt;
        }
        if (n == "data") {
            auto v = base64(body);
            return v ? std::optional<PlistValue>(PlistValue(std::move(*v))) : std::nullopt;
        }
        if (n == "date") {
            auto v = date(body);
            return v ? std::optional<PlistValue>(PlistValue(*v)) : std::nullopt;
        }
        return std::nullopt;
    }

    std::optional<PlistValue> dict(const Tag& t, int depth) {
        PlistValue out = PlistValue::dictionary();
        if (t.selfClosing) return out;
        for (;;) {
            if (!skipSpace()) return std::nullopt;
            auto k = tag();
            if (!k) return std::nullopt;
            if (k->closing) {
                if (k->name != "dict") return std::nullopt;
                return out;
            }
            if (k->name != "key") return std::nullopt;
            std::string key;
            if (!k->selfClosing) {
                auto body = text("key");
                if (!body) return std::nullopt;
                key = std::move(*body);
            }
            if (!skipSpace()) return std::nullopt;
            auto vt = tag();
            if (!vt || vt->closing) return std::nullopt;
            auto v = value(*vt, depth + 1);
            if (!v) return std::nullopt;
            // Keys come sorted from every writer: the hint makes the insert
            // constant time. A repeated key keeps its last value.
            auto& entries = out.mutableDictionary();
            entries.insert_or_assign(entries.end(), std::move(key), std::move(*v));
        }
    }

    std::optional<PlistValue> array(const Tag& t, int depth) {
        PlistValue out = PlistValue::array();
        if (t.selfClosing) return out;
        for (;;) {
            if (!skipSpace()) return std::nullopt;
            auto vt = tag();
            if (!vt) return std::nullopt;
            if (vt->closing) {
                if (vt->name != "array") return std::nullopt;
                return out;
            }
            auto v = value(*vt, depth + 1);
            if (!v) return std::nullopt;
            out.append(std::move(*v));
        }
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

} // namespace

std::optional<PlistValue> XmlPlistReader::read(std::string_view text) {
    if (!isValidUtf8(text)) return std::nullopt;
    return Parser(text).document();
}

} // namespace plat
