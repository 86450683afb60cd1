#include "Resources/generators/DoublePinyinLayout.h"

#include "Resources/generators/GeneratorSupport.h"

#include "InputMethod/Core/PyString.h"

#include <algorithm>
#include <set>

namespace taviro::resgen {

namespace {

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string initialText(int code) { return std::string(PyString::syllableTextForCode(initialOf(code))); }

std::string finalText(int index)
{
    for (const auto& f : PyString::allFinals())
        if (f.code == index) return std::string(f.text);
    return {};
}

std::string joined(const std::vector<std::string>& pieces)
{
    std::string out;
    for (const auto& p : pieces) out += (out.empty() ? "" : "|") + p;
    return out;
}

// For each group, the keys used most often (all that tie), in key order.
template <typename Group>
std::map<Group, std::vector<std::string>> favouriteKeys(const std::map<std::pair<Group, std::string>, int>& counts)
{
    std::map<Group, int> best;
    for (const auto& [k, n] : counts) best[k.first] = std::max(best[k.first], n);
    std::map<Group, std::vector<std::string>> out;
    for (const auto& [k, n] : counts)
        if (n == best[k.first]) out[k.first].push_back(k.second);
    return out;
}

std::vector<int> codesOf(const std::string& value, bool finals)
{
    std::vector<int> out;
    for (auto piece : splitFields(value, '|')) {
        if (finals) {
            if (auto f = PyString::finalIndexForText(piece)) out.push_back(*f);
        } else if (auto c = PyString::syllableCodeForText(piece)) {
            out.push_back(*c);
        }
    }
    return out;
}

} // namespace

std::optional<DoublePinyinLayout> layoutFromPrism(std::string_view text)
{
    DoublePinyinLayout layout;
    forEachLine(text, [&](std::string_view line) {
        auto f = splitFields(line, '\t');
        if (f.size() < 2 || f[0].size() != 2) return;
        const std::string s = normalizeSyllable(f[1]);
        if (s.empty()) return;
        layout.codes.emplace_back(lower(f[0]), *PyString::syllableCodeForText(s));
    });
    if (layout.codes.empty()) return std::nullopt;
    return layout;
}

std::optional<DoublePinyinLayout> layoutFromSpDat(std::string_view text, std::string_view schemeName)
{
    bool inScheme = false, found = false;
    std::string section;
    std::string zeroKey;
    std::map<std::string, std::string> initials;
    std::map<std::string, std::vector<std::string>> finals; // "ue" and "ve" may have keys of their own
    forEachLine(text, [&](std::string_view line) {
        if (line.empty() || line[0] == '#') return;
        if (line.front() == '[' && line.back() == ']') {
            section = std::string(line.substr(1, line.size() - 2));
            if (section == "方案") inScheme = false;
            return;
        }
        auto eq = line.find('=');
        if (eq == std::string_view::npos) return;
        const std::string key(line.substr(0, eq));
        const std::string value = lower(line.substr(eq + 1));
        if (section == "方案" && key == "方案名称") {
            inScheme = value == schemeName && !found;
            found = found || inScheme;
            return;
        }
        if (!inScheme) return;
        if (section == "零声母标识") zeroKey = value;
        else if (section == "声母") initials[key] = value;
        else if (section == "韵母") finals[key == "ve" ? "ue" : key].push_back(value);
    });
    if (!found || zeroKey.size() != 1) return std::nullopt;

    auto finalKeys = [&](const std::string& final) -> std::vector<std::string> {
        if (auto it = finals.find(final); it != finals.end()) return it->second;
        if (final.size() == 1) return {final};
        return {};
    };
    DoublePinyinLayout layout;
    for (const auto& entry : PyString::allSyllables()) {
        const int initial = initialOf(entry.code);
        std::string ik;
        if (initial == 0) {
            ik = zeroKey;
        } else {
            const std::string spelled = initialText(entry.code);
            auto it = initials.find(spelled);
            ik = it != initials.end() ? it->second : spelled;
        }
        if (ik.size() != 1) continue;
        for (const auto& fk : finalKeys(finalText(finalOf(entry.code))))
            if (fk.size() == 1) layout.codes.emplace_back(ik + fk, entry.code);
    }
    if (layout.codes.empty()) return std::nullopt;
    return layout;
}

DoublePinyinScheme schemeFromLayout(const DoublePinyinLayout& layout)
{
    std::map<std::pair<int, std::string>, int> initialCounts, finalCounts;
    for (const auto& [code, syllable] : layout.codes) {
        if (initialOf(syllable) == 0) continue;
        ++initialCounts[{initialOf(syllable), code.substr(0, 1)}];
        ++finalCounts[{finalOf(syllable), code.substr(1, 1)}];
    }
    std::map<std::string, std::vector<std::string>> sheng, yun;
    for (const auto& [initial, keys] : favouriteKeys(initialCounts))
        for (const auto& k : keys) sheng[k].push_back(initialText(initial));
    for (const auto& [final, keys] : favouriteKeys(finalCounts))
        for (const auto& k : keys) yun[k].push_back(finalText(final));

    DoublePinyinScheme scheme;
    for (const auto& [k, v] : sheng) scheme.sheng[k] = joined(v);
    for (const auto& [k, v] : yun) scheme.yun[k] = joined(v);

    // Codes the two tables do not reach go into "Special" with everything
    // the layout gives them, since a "Special" entry hides the tables.
    std::map<std::string, std::vector<int>> byCode;
    for (const auto& [code, syllable] : layout.codes) {
        auto& list = byCode[code];
        if (std::find(list.begin(), list.end(), syllable) == list.end()) list.push_back(syllable);
    }
    for (const auto& [code, syllables] : byCode) {
        const auto reached = syllablesForCode(scheme, code);
        const bool all = std::all_of(syllables.begin(), syllables.end(), [&](int s) {
            return std::find(reached.begin(), reached.end(), s) != reached.end();
        });
        if (all) continue;
        std::vector<std::string> texts;
        for (int s : syllables) texts.emplace_back(PyString::syllableTextForCode(s));
        scheme.special[code] = joined(texts);
    }

    // The first code of each syllable that the scheme types it with: the
    // favourite keys where they reach it, else the layout's first code.
    auto favouriteInitial = favouriteKeys(initialCounts);
    auto favouriteFinal = favouriteKeys(finalCounts);
    for (const auto& [code, syllable] : layout.codes) {
        if (scheme.codeOf.count(syllable)) continue;
        if (initialOf(syllable) != 0) {
            const std::string k = favouriteInitial[initialOf(syllable)].front() + favouriteFinal[finalOf(syllable)].front();
            const auto reached = syllablesForCode(scheme, k);
            if (std::find(reached.begin(), reached.end(), syllable) != reached.end()) {
                scheme.codeOf[syllable] = k;
                continue;
            }
        }
        scheme.codeOf[syllable] = code;
    }
    return scheme;
}

std::vector<int> syllablesForCode(const DoublePinyinScheme& scheme, std::string_view code)
{
    if (code.size() != 2) return {};
    const std::string first(code.substr(0, 1)), second(code.substr(1, 1));
    if (auto it = scheme.special.find(std::string(code)); it != scheme.special.end()) return codesOf(it->second, false);
    std::vector<int> initials, finals;
    if (auto it = scheme.sheng.find(first); it != scheme.sheng.end()) initials = codesOf(it->second, false);
    if (auto it = scheme.yun.find(second); it != scheme.yun.end()) finals = codesOf(it->second, true);
    // Keys the scheme does not list: a bare initial, or a zero-initial syllable.
    if (initials.empty())
        if (auto c = PyString::syllableCodeForText(first); c && PyString::isBareInitialCode(*c)) initials.push_back(*c);
    if (finals.empty())
        if (auto c = PyString::syllableCodeForText(second); c && initialOf(*c) == 0) finals.push_back(*c);
    std::vector<int> out;
    for (int i : initials)
        for (int f : finals)
            if (PyString::isSyllableCode(i | f)) out.push_back(i | f);
    return out;
}

std::map<std::string, std::map<std::string, std::string>> schemeSections(const DoublePinyinScheme& scheme)
{
    return {{"Special", scheme.special}, {"Sheng", scheme.sheng}, {"Yun", scheme.yun}};
}

} // namespace taviro::resgen
