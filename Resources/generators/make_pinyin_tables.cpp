// Builds py2hz.plist (syllable -> its characters, most frequent first) and
// pyfreq.plist (syllable -> share of all syllables in running text).
//
// The characters are those of the standard simplified set (Unihan
// kTGHZ2013) under the readings Unihan gives them, ordered by the weights of
// the word list. Bare initials list the
// most frequent characters of all their syllables; the letters i, u and v,
// which begin no syllable, stand for ch, sh and zh as on most double-pinyin
// layouts.
//
// usage: make_pinyin_tables <lexicon.tsv> <Unihan_Readings.txt> <out py2hz.plist> <out pyfreq.plist>

#include "Resources/generators/GeneratorSupport.h"

#include "InputMethod/Core/PyString.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace taviro;
using namespace taviro::resgen;

namespace {

constexpr std::string_view kProgram = "make_pinyin_tables";
// Characters listed for a bare initial.
constexpr std::size_t kInitialListLength = 120;

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5)
        return fail(kProgram, "usage: make_pinyin_tables <lexicon.tsv> <Unihan_Readings.txt> <py2hz.plist> <pyfreq.plist>");
    auto lexicon = readLexicon(argv[1]);
    if (!lexicon) return fail(kProgram, std::string("cannot read ") + argv[1]);
    auto unihan = readWholeFile(argv[2]);
    if (!unihan) return fail(kProgram, std::string("cannot read ") + argv[2]);
    const auto unihanReadings = readUnihanReadings(*unihan);
    const auto& standard = unihanReadings.standard;
    if (standard.size() != kStandardSetSize) return fail(kProgram, "the standard character set is incomplete");

    // Weight of each (character, syllable) from the one-character words, and
    // the number of times each syllable occurs in text (word weights).
    std::map<std::pair<char32_t, std::string>, std::int64_t> charWeight;
    std::map<std::string, double> syllableCount;
    for (const auto& e : *lexicon) {
        for (const auto& s : e.syllables) syllableCount[s] += static_cast<double>(e.weight);
        if (e.syllables.size() != 1) continue;
        auto cps = decodeUtf8(e.word);
        if (!cps || cps->size() != 1) continue;
        // Only readings that Unihan gives the character (the word list has
        // stray ones, such as 汉 read "nv").
        if (!unihanReadings.allowsReading((*cps)[0], e.syllables[0])) continue;
        auto& w = charWeight[{(*cps)[0], e.syllables[0]}];
        w = std::max(w, e.weight);
    }

    // syllable -> (weight, character) for the standard characters.
    std::map<std::string, std::vector<std::pair<std::int64_t, char32_t>>> bySyllable;
    for (const auto& [cp, readings] : standard) {
        std::set<std::string> all = readings;
        for (auto it = charWeight.lower_bound({cp, std::string()}); it != charWeight.end() && it->first.first == cp; ++it)
            all.insert(it->first.second);
        for (const auto& s : all) {
            auto it = charWeight.find({cp, s});
            bySyllable[s].emplace_back(it == charWeight.end() ? 0 : it->second, cp);
        }
    }
    auto heaviestFirst = [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    };

    std::map<std::string, std::string> py2hz;
    std::map<std::string, std::vector<std::pair<std::int64_t, char32_t>>> byInitial;
    for (auto& [syllable, list] : bySyllable) {
        std::sort(list.begin(), list.end(), heaviestFirst);
        std::string chars;
        for (const auto& [w, cp] : list) chars += encodeUtf8(cp);
        py2hz[syllable] = chars;
        const int initial = initialOf(*PyString::syllableCodeForText(syllable));
        if (initial != 0) {
            auto& into = byInitial[std::string(PyString::syllableTextForCode(initial))];
            into.insert(into.end(), list.begin(), list.end());
        }
    }
    for (auto& [initial, list] : byInitial) {
        std::sort(list.begin(), list.end(), heaviestFirst);
        std::string chars;
        std::set<char32_t> seen;
        for (const auto& [w, cp] : list) {
            if (seen.size() == kInitialListLength) break;
            if (seen.insert(cp).second) chars += encodeUtf8(cp);
        }
        py2hz[initial] = chars;
    }
    for (auto [letter, initial] : {std::pair{"i", "ch"}, {"u", "sh"}, {"v", "zh"}})
        py2hz[letter] = py2hz[initial];

    for (const auto& [key, chars] : py2hz) {
        auto code = PyString::syllableCodeForText(key);
        if (!code && key != "i" && key != "u" && key != "v") return fail(kProgram, "not a syllable: " + key);
        if (chars.empty()) return fail(kProgram, "no characters for " + key);
    }

    // Frequencies as shares of the total: every syllable of the model, the
    // unseen ones at a tenth of the rarest seen one, and bare initials far
    // below any syllable so a split uses them only where nothing else fits.
    double total = 0, rarest = 0;
    for (const auto& [s, n] : syllableCount) {
        total += n;
        if (n > 0 && (rarest == 0 || n < rarest)) rarest = n;
    }
    if (total <= 0) return fail(kProgram, "no syllable counts");
    std::map<std::string, double> pyfreq;
    for (const auto& entry : PyString::allSyllables()) {
        auto it = syllableCount.find(std::string(entry.text));
        const double n = it != syllableCount.end() && it->second > 0 ? it->second : rarest / 10;
        pyfreq[std::string(entry.text)] = n / total;
    }
    for (const auto& entry : PyString::bareInitials()) pyfreq[std::string(entry.text)] = rarest / 1000 / total;

    if (!writePlist(argv[3], plat::stringMapToPlist(py2hz)))
        return fail(kProgram, std::string("cannot write ") + argv[3]);
    if (!writePlist(argv[4], plistRealDictionary(pyfreq)))
        return fail(kProgram, std::string("cannot write ") + argv[4]);
    std::cerr << kProgram << ": " << py2hz.size() << " keys in py2hz, " << pyfreq.size() << " in pyfreq\n";
    return 0;
}
