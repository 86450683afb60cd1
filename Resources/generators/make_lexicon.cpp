// Builds the intermediate word list (word, syllables, weight) from which the
// pinyin resources are made. Sources: a simplified-script pinyin dictionary
// and a larger traditional-script one, converted to simplified script with
// OpenCC. Every syllable is checked against the pinyin model.
//
// A one-character word keeps only the readings that Unihan gives the
// character: the traditional table carries stray ones (汉 read "nv", 荣 "ce").
//
// usage: make_lexicon <simplified dict.yaml> <traditional table.txt> <Unihan_Readings.txt> <out.tsv>

#include "Resources/generators/GeneratorSupport.h"

#include <opencc/SimpleConverter.hpp>

#include <charconv>
#include <cmath>
#include <iostream>
#include <map>
#include <string>
#include <utility>

using namespace taviro::resgen;

namespace {

constexpr std::string_view kProgram = "make_lexicon";

struct Row {
    std::string word;
    std::string pinyin;
    double weight = 0;
};

double parseWeight(std::string_view text)
{
    if (text.empty()) return 0;
    if (text.back() == '%') return 0; // relative weights of rare readings
    double v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || p != text.data() + text.size() || !std::isfinite(v) || v < 0) return 0;
    return v;
}

// Rows "word<TAB>pinyin[<TAB>weight]" of a dictionary file; in a .dict.yaml
// file only the lines after the "..." that ends its header.
std::vector<Row> readRows(const std::string& text, bool yamlHeader)
{
    std::vector<Row> rows;
    bool inBody = !yamlHeader;
    forEachLine(text, [&](std::string_view line) {
        if (!inBody) {
            if (line == "...") inBody = true;
            return;
        }
        if (line.empty() || line[0] == '#') return;
        auto f = splitFields(line, '\t');
        if (f.size() < 2) return;
        rows.push_back({std::string(f[0]), std::string(f[1]), f.size() > 2 ? parseWeight(f[2]) : 0});
    });
    return rows;
}

// A word of Han characters only, one per syllable.
bool acceptable(const std::string& word, const std::vector<std::string>& syllables)
{
    auto cps = decodeUtf8(word);
    if (!cps || cps->empty() || cps->size() != syllables.size()) return false;
    for (char32_t cp : *cps)
        if (!isHanCodePoint(cp)) return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5)
        return fail(kProgram,
                    "usage: make_lexicon <simplified dict.yaml> <traditional table.txt> <Unihan_Readings.txt> <out.tsv>");
    auto simpText = readWholeFile(argv[1]);
    if (!simpText) return fail(kProgram, std::string("cannot read ") + argv[1]);
    auto tradText = readWholeFile(argv[2]);
    if (!tradText) return fail(kProgram, std::string("cannot read ") + argv[2]);
    auto unihanText = readWholeFile(argv[3]);
    if (!unihanText) return fail(kProgram, std::string("cannot read ") + argv[3]);
    const UnihanReadings unihan = readUnihanReadings(*unihanText);
    unihanText.reset();
    std::size_t strayReadings = 0;

    // (word, syllables) -> weight of each source.
    using Key = std::pair<std::string, std::string>;
    std::map<Key, double> simpWeights;
    std::map<Key, double> tradWeights;
    std::map<Key, std::vector<std::string>> syllablesOf;

    auto add = [&](std::map<Key, double>& into, const std::string& word, const std::string& pinyin, double weight,
                   bool sum) {
        auto syllables = parsePinyin(pinyin);
        if (!syllables || !acceptable(word, *syllables)) return;
        if (syllables->size() == 1 && !unihan.allowsReading(decodeUtf8(word)->front(), syllables->front())) {
            ++strayReadings;
            return;
        }
        std::string joined;
        for (const auto& s : *syllables) joined += (joined.empty() ? "" : " ") + s;
        Key key{word, joined};
        auto [it, inserted] = into.emplace(key, weight);
        if (!inserted) it->second = sum ? it->second + weight : std::max(it->second, weight);
        syllablesOf.emplace(key, *syllables);
    };

    for (const auto& row : readRows(*simpText, true)) add(simpWeights, row.word, row.pinyin, row.weight, false);

    // Convert all traditional words in one call: one word per line, so no
    // phrase of the converter crosses a word boundary.
    auto tradRows = readRows(*tradText, false);
    std::string joined;
    for (const auto& row : tradRows) {
        joined += row.word;
        joined += '\n';
    }
    std::string converted;
    try {
        opencc::SimpleConverter t2s("t2s.json");
        converted = t2s.Convert(joined);
    } catch (const std::exception& e) {
        return fail(kProgram, std::string("OpenCC t2s: ") + e.what());
    }
    auto lines = splitFields(converted, '\n');
    if (lines.size() != tradRows.size() + 1) return fail(kProgram, "conversion changed the number of words");
    for (std::size_t i = 0; i < tradRows.size(); ++i)
        add(tradWeights, std::string(lines[i]), tradRows[i].pinyin, tradRows[i].weight, true);

    // Both sources count the same corpus: take the larger weight, do not add.
    std::vector<LexiconEntry> entries;
    entries.reserve(syllablesOf.size());
    for (const auto& [key, syllables] : syllablesOf) {
        double w = 0;
        if (auto it = simpWeights.find(key); it != simpWeights.end()) w = std::max(w, it->second);
        if (auto it = tradWeights.find(key); it != tradWeights.end()) w = std::max(w, it->second);
        entries.push_back({key.first, syllables, std::llround(w)});
    }
    if (entries.empty()) return fail(kProgram, "no words read");
    if (!writeLexicon(argv[4], entries)) return fail(kProgram, std::string("cannot write ") + argv[4]);
    std::cerr << kProgram << ": " << entries.size() << " words, " << strayReadings
              << " one-character rows with a reading Unihan does not give left out\n";
    return 0;
}
