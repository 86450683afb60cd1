#include "Resources/generators/KenlmTrie.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

namespace taviro::resgen {

namespace {

// File layout (little endian):
//   sanity block: magic text padded to 56 bytes, three floats, two word
//     indices, one uint64 (88 bytes);
//   fixed parameters: order (byte), probing multiplier (float), model type
//     (int), has-vocabulary (bool), search version (uint) (20 bytes);
//   the n-gram counts (uint64 each), padded to 8 bytes;
//   the vocabulary: a count, then one 64-bit hash per word;
//   the quantiser: 8 header bytes (version, probability bits, back-off bits),
//     then float tables;
//   unigrams: (prob float, back-off float, next uint64) per word, two spare;
//   bigrams: 8 header bytes, an offset array for the high bits of the next
//     pointers, then bit-packed entries (word, back-off, prob, low next bits);
//   trigrams: bit-packed entries (word, prob);
//   the words as NUL-terminated strings in id order.
constexpr std::string_view kMagic = "mmap lm http://kheafield.com/code format version 5\n";
constexpr std::size_t kSanitySize = 88;
constexpr std::size_t kParametersSize = 20;
constexpr int kQuantArrayTrie = 5;

std::uint64_t align8(std::uint64_t v) { return (v + 7) & ~std::uint64_t{7}; }

std::uint8_t requiredBits(std::uint64_t maxValue)
{
    std::uint8_t bits = 0;
    while (maxValue) {
        ++bits;
        maxValue >>= 1;
    }
    return bits;
}

class Bytes {
public:
    explicit Bytes(const std::string& data) : data_(data) {}
    std::uint64_t size() const { return data_.size(); }
    bool has(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= data_.size() && length <= data_.size() - offset;
    }
    template <typename T> T load(std::uint64_t offset) const
    {
        T v{};
        std::memcpy(&v, data_.data() + offset, sizeof(T));
        return v;
    }
    // `length` bits (at most 57) starting at bit `bit` of the region at `base`.
    std::uint64_t bits(std::uint64_t base, std::uint64_t bit, std::uint8_t length) const
    {
        if (length == 0)
            return 0;
        const std::uint64_t word = load<std::uint64_t>(base + (bit >> 3));
        return (word >> (bit & 7)) & ((std::uint64_t{1} << length) - 1);
    }
    const char* at(std::uint64_t offset) const { return data_.data() + offset; }

private:
    const std::string& data_;
};

} // namespace

std::optional<KenlmTrie> readKenlmTrie(const std::filesystem::path& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path.string();
        return std::nullopt;
    }
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Bytes f(data);

    if (!f.has(0, kSanitySize + kParametersSize) || std::memcmp(f.at(0), kMagic.data(), kMagic.size()) != 0) {
        error = "not a KenLM binary model";
        return std::nullopt;
    }
    const std::uint64_t params = kSanitySize;
    const unsigned order = f.load<std::uint8_t>(params);
    const int modelType = f.load<std::int32_t>(params + 8);
    const bool hasVocabulary = f.load<std::uint8_t>(params + 12) != 0;
    if (order != 3 || modelType != kQuantArrayTrie || !hasVocabulary) {
        error = "expected an order-3 quantised array trie with its vocabulary";
        return std::nullopt;
    }
    KenlmTrie trie;
    const std::uint64_t countsAt = params + kParametersSize;
    if (!f.has(countsAt, 8 * order)) {
        error = "truncated header";
        return std::nullopt;
    }
    for (unsigned i = 0; i < order; ++i)
        trie.counts[i] = f.load<std::uint64_t>(countsAt + 8 * i);
    const auto [n1, n2, n3] = trie.counts;
    if (n1 == 0 || n1 > (std::uint64_t{1} << 31) || n2 == 0 || n3 == 0) {
        error = "implausible n-gram counts";
        return std::nullopt;
    }

    const std::uint64_t vocabulary = align8(countsAt + 8 * order);
    const std::uint64_t quant = vocabulary + 8 * (1 + n1);
    if (!f.has(quant, 8)) {
        error = "truncated vocabulary";
        return std::nullopt;
    }
    const std::uint8_t probBits = f.load<std::uint8_t>(quant + 1);
    const std::uint8_t backoffBits = f.load<std::uint8_t>(quant + 2);
    if (probBits == 0 || probBits > 25 || backoffBits == 0 || backoffBits > 25) {
        error = "unexpected quantiser header";
        return std::nullopt;
    }
    const std::uint64_t probTable = (std::uint64_t{1} << probBits) * 4;
    const std::uint64_t backoffTable = (std::uint64_t{1} << backoffBits) * 4;
    const std::uint64_t unigrams = quant + 8 + (order - 2) * (probTable + backoffTable) + probTable;
    const std::uint64_t middle = unigrams + (n1 + 2) * 16;
    const std::uint8_t wordBits = requiredBits(n1);
    const std::uint8_t nextBits = requiredBits(n3);
    const std::uint8_t longestBits = wordBits + probBits;
    auto unigramNext = [&](std::uint64_t w) { return f.load<std::uint64_t>(unigrams + 16 * w + 8); };
    if (!f.has(middle, 8) || unigramNext(n1) != n2) {
        error = "unigram table does not add up";
        return std::nullopt;
    }

    // The split between the offset array and the inline bits of the next
    // pointers is found from the layout: the offsets start at 0, never
    // decrease, stay below the bigram count, and the vocabulary strings
    // follow the trigram entries.
    struct Layout {
        std::uint8_t inlineBits = 0;
        std::uint64_t arrayLength = 0, offsets = 0, entries = 0, middleBits = 0, longest = 0, strings = 0;
    };
    std::optional<Layout> layout;
    for (unsigned inlineBits = 0; inlineBits <= nextBits && !layout; ++inlineBits) {
        Layout l;
        l.inlineBits = static_cast<std::uint8_t>(inlineBits);
        l.arrayLength = (n3 >> inlineBits) + 1;
        l.offsets = middle + 8;
        l.entries = l.offsets + 8 * l.arrayLength;
        l.middleBits = wordBits + probBits + backoffBits + inlineBits;
        l.longest = l.entries + ((1 + n2) * l.middleBits + 7) / 8 + 8;
        const std::uint64_t end = l.longest + ((1 + n3) * longestBits + 7) / 8 + 8;
        if (!f.has(end, 0))
            continue;
        // The bigram entries start a few bytes after the offset array (the
        // libime build pads them); the same shift then separates the trigram
        // entries' end from the strings.
        static constexpr std::string_view kUnknown{"<unk>\0", 6};
        const std::string_view tail(f.at(end), std::min<std::uint64_t>(16, f.size() - end));
        const std::size_t shift = tail.find(kUnknown);
        if (shift == std::string_view::npos)
            continue;
        l.entries += shift;
        l.longest += shift;
        l.strings = end + shift;
        bool monotone = f.load<std::uint64_t>(l.offsets) == 0;
        for (std::uint64_t i = 1; monotone && i < l.arrayLength; ++i) {
            const std::uint64_t a = f.load<std::uint64_t>(l.offsets + 8 * (i - 1));
            const std::uint64_t b = f.load<std::uint64_t>(l.offsets + 8 * i);
            monotone = a <= b && b <= n2 + 1;
        }
        if (monotone)
            layout = l;
    }
    if (!layout) {
        error = "cannot place the bigram and trigram arrays";
        return std::nullopt;
    }

    // Words, in id order.
    trie.words.reserve(n1);
    std::uint64_t at = layout->strings;
    for (std::uint64_t i = 0; i < n1; ++i) {
        if (!f.has(at, 1)) {
            error = "truncated vocabulary strings";
            return std::nullopt;
        }
        const char* s = f.at(at);
        const std::size_t length = strnlen(s, f.size() - at);
        if (at + length >= f.size()) {
            error = "unterminated vocabulary string";
            return std::nullopt;
        }
        trie.words.emplace_back(s, length);
        at += length + 1;
    }

    // Next pointer of every bigram entry (and of the end sentinel): the high
    // bits are the last offset-array position not above the entry's index.
    std::vector<std::uint64_t> next(n2 + 1);
    {
        std::uint64_t p = 0;
        const std::uint64_t nextAt = wordBits + probBits + backoffBits;
        for (std::uint64_t j = 0; j <= n2; ++j) {
            while (p + 1 < layout->arrayLength && f.load<std::uint64_t>(layout->offsets + 8 * (p + 1)) <= j)
                ++p;
            next[j] = (p << layout->inlineBits) |
                      f.bits(layout->entries, j * layout->middleBits + nextAt, layout->inlineBits);
            if (j > 0 && next[j] < next[j - 1]) {
                error = "bigram next pointers decrease";
                return std::nullopt;
            }
        }
        if (next[n2] != n3) {
            error = "bigram next pointers do not end at the trigram count";
            return std::nullopt;
        }
    }

    // KenLM stores the trie reversed: under unigram v the bigram entries are
    // the words u before it, under (u, v) the trigram entries the words x
    // before those. Entries under one parent are sorted by word id.
    trie.bigrams.reserve(n2);
    trie.trigrams.reserve(n3);
    for (std::uint64_t v = 0; v < n1; ++v) {
        const std::uint64_t begin = unigramNext(v), end = unigramNext(v + 1);
        if (begin > end || end > n2) {
            error = "unigram next pointers out of order";
            return std::nullopt;
        }
        std::uint64_t previousU = 0;
        for (std::uint64_t j = begin; j < end; ++j) {
            const std::uint64_t u = f.bits(layout->entries, j * layout->middleBits, wordBits);
            if (u >= n1 || (j > begin && u <= previousU)) {
                error = "bigram entries out of order";
                return std::nullopt;
            }
            previousU = u;
            trie.bigrams.push_back({static_cast<std::uint32_t>(u), static_cast<std::uint32_t>(v)});
            std::uint64_t previousX = 0;
            for (std::uint64_t k = next[j]; k < next[j + 1]; ++k) {
                const std::uint64_t x = f.bits(layout->longest, k * longestBits, wordBits);
                if (x >= n1 || (k > next[j] && x <= previousX)) {
                    error = "trigram entries out of order";
                    return std::nullopt;
                }
                previousX = x;
                trie.trigrams.push_back(
                    {static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(u), static_cast<std::uint32_t>(v)});
            }
        }
    }
    if (trie.bigrams.size() != n2 || trie.trigrams.size() != n3) {
        error = "walked n-grams differ from the header's counts";
        return std::nullopt;
    }
    return trie;
}

} // namespace taviro::resgen
