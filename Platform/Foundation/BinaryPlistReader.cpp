#include "Platform/Foundation/BinaryPlistReader.h"
#include "Platform/Foundation/Utf8.h"

#include <cstring>
#include <vector>

namespace plat {

namespace {

constexpr double kAppleEpoch = 978307200.0;
constexpr int kMaxDepth = 512;

class Reader {
public:
    explicit Reader(std::string_view b) : b_(b) {}

    std::optional<PlistValue> document() {
        if (b_.size() < 8 + 32 || b_.substr(0, 8) != "bplist00") return std::nullopt;
        const std::size_t t = b_.size() - 32;
        offsetSize_ = byte(t + 6);
        refSize_ = byte(t + 7);
        const std::uint64_t count = be(t + 8, 8);
        const std::uint64_t top = be(t + 16, 8);
        const std::uint64_t table = be(t + 24, 8);
        if (!validSize(offsetSize_) || !validSize(refSize_)) return std::nullopt;
        if (count == 0 || top >= count || table < 8 || table >= t) return std::nullopt;
        if ((t - table) / offsetSize_ < count) return std::nullopt;
        offsets_.resize(count);
        for (std::uint64_t i = 0; i < count; ++i) {
            offsets_[i] = be(table + i * offsetSize_, offsetSize_);
            if (offsets_[i] < 8 || offsets_[i] >= table) return std::nullopt;
        }
        objectsEnd_ = table;
        visiting_.assign(count, false);
        return object(top, 0);
    }

private:
    // Writers use the fewest bytes that hold the largest offset: 3 between 64 KB and 16 MB.
    static bool validSize(unsigned n) { return n >= 1 && n <= 8; }

    unsigned byte(std::size_t at) const { return static_cast<unsigned char>(b_[at]); }

    std::uint64_t be(std::size_t at, unsigned n) const {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i) v = (v << 8) | byte(at + i);
        return v;
    }

    // True when [at, at + n) lies inside the object area.
    bool fits(std::uint64_t at, std::uint64_t n) const {
        return at <= objectsEnd_ && n <= objectsEnd_ - at;
    }

    // The length that follows a marker with low nibble 0xF: an int object.
    std::optional<std::uint64_t> length(std::uint64_t& at, unsigned nibble) const {
        if (nibble != 0xF) return nibble;
        if (!fits(at, 1)) return std::nullopt;
        unsigned m = byte(at);
        if ((m & 0xF0) != 0x10 || (m & 0x0F) > 3) return std::nullopt;
        unsigned n = 1u << (m & 0x0F);
        if (!fits(at + 1, n)) return std::nullopt;
        std::uint64_t len = be(at + 1, n);
        at += 1 + n;
        return len;
    }

    std::optional<PlistValue> object(std::uint64_t index, int depth) {
        if (index >= offsets_.size() || depth > kMaxDepth || visiting_[index]) return std::nullopt;
        visiting_[index] = true;
        auto v = parse(offsets_[index], depth);
        visiting_[index] = false;
        return v;
    }

    // Whether `n` object references starting at `at` lie inside the object area.
    bool refsFit(std::uint64_t at, std::uint64_t n) const {
        return n <= objectsEnd_ && fits(at, n * refSize_);
    }

    // The `i`th object reference of a container whose references start at `at`.
    std::uint64_t ref(std::uint64_t at, std::uint64_t i) const { return be(at + i * refSize_, refSize_); }

    std::optional<PlistValue> parse(std::uint64_t at, int depth) {
        if (!fits(at, 1)) return std::nullopt;
        const unsigned marker = byte(at);
        const unsigned hi = marker >> 4, lo = marker & 0x0F;
        ++at;
        switch (hi) {
        case 0x0:
            if (marker == 0x08) return PlistValue(false);
            if (marker == 0x09) return PlistValue(true);
            return std::nullopt;
        case 0x1: {
            if (lo > 4) return std::nullopt;
            unsigned n = 1u << lo;
            if (!fits(at, n)) return std::nullopt;
            // 16-byte integers carry the value in their low 8 bytes.
            std::uint64_t v = n == 16 ? be(at + 8, 8) : be(at, n);
            return PlistValue(static_cast<std::int64_t>(v));
        }
        case 0x2: {
            if (lo == 2 && fits(at, 4)) {
                std::uint32_t u = static_cast<std::uint32_t>(be(at, 4));
                float f;
                std::memcpy(&f, &u, 4);
                return PlistValue(static_cast<double>(f));
            }
            if (lo == 3 && fits(at, 8)) {
                std::uint64_t u = be(at, 8);
                double d;
                std::memcpy(&d, &u, 8);
                return PlistValue(d);
            }
            return std::nullopt;
        }
        case 0x3: {
            if (marker != 0x33 || !fits(at, 8)) return std::nullopt;
            std::uint64_t u = be(at, 8);
            double d;
            std::memcpy(&d, &u, 8);
            return PlistValue(PlistDate{kAppleEpoch + d});
        }
        case 0x4: {
            auto n = length(at, lo);
            if (!n || !fits(at, *n)) return std::nullopt;
            const auto* p = reinterpret_cast<const std::uint8_t*>(b_.data() + at);
            return PlistValue(PlistValue::Data(p, p + *n));
        }
        case 0x5: {
            auto n = length(at, lo);
            if (!n || !fits(at, *n)) return std::nullopt;
            const std::string_view s = b_.substr(at, *n);
            for (char c : s)
                if (static_cast<unsigned char>(c) > 0x7F) return std::nullopt;
            return PlistValue(s);
        }
        case 0x6: {
            auto n = length(at, lo);
            if (!n || *n > objectsEnd_ || !fits(at, *n * 2)) return std::nullopt;
            return utf16(at, *n);
        }
        case 0xA: {
            auto n = length(at, lo);
            if (!n || !refsFit(at, *n)) return std::nullopt;
            PlistValue out = PlistValue::array();
            auto& items = out.mutableArray();
            items.reserve(*n);
            for (std::uint64_t i = 0; i < *n; ++i) {
                auto item = object(ref(at, i), depth + 1);
                if (!item) return std::nullopt;
                items.push_back(std::move(*item));
            }
            return out;
        }
        case 0xD: {
            auto n = length(at, lo);
            if (!n || *n > objectsEnd_ || !refsFit(at, *n * 2)) return std::nullopt;
            PlistValue out = PlistValue::dictionary();
            auto& entries = out.mutableDictionary();
            for (std::uint64_t i = 0; i < *n; ++i) {
                auto key = object(ref(at, i), depth + 1);
                if (!key || !key->isString()) return std::nullopt;
                auto val = object(ref(at, *n + i), depth + 1);
                if (!val) return std::nullopt;
                // Keys mostly come sorted: the hint makes the insert constant
                // time. A repeated key keeps its last value.
                entries.insert_or_assign(entries.end(), *key->stringPtr(), std::move(*val));
            }
            return out;
        }
        default: // UIDs, sets and reserved kinds are not ours to carry
            return std::nullopt;
        }
    }

    std::optional<PlistValue> utf16(std::uint64_t at, std::uint64_t n) const {
        std::string out;
        out.reserve(n * 3);
        for (std::uint64_t i = 0; i < n; ++i) {
            std::uint32_t cp = static_cast<std::uint32_t>(be(at + 2 * i, 2));
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                if (i + 1 >= n) return std::nullopt;
                std::uint32_t lo = static_cast<std::uint32_t>(be(at + 2 * (i + 1), 2));
                if (lo < 0xDC00 || lo > 0xDFFF) return std::nullopt;
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                return std::nullopt;
            }
            appendUtf8(out, cp);
        }
        return PlistValue(std::move(out));
    }

    std::string_view b_;
    unsigned offsetSize_ = 0, refSize_ = 0;
    std::uint64_t objectsEnd_ = 0;
    std::vector<std::uint64_t> offsets_;
    std::vector<bool> visiting_;
};

} // namespace

std::optional<PlistValue> BinaryPlistReader::read(std::string_view bytes) {
    return Reader(bytes).document();
}

} // namespace plat
