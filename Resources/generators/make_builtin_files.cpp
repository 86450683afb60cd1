// Builds the preferences application's built-in files: the double-pinyin
// scheme plists and the code and assist tables ("word<TAB>code" lines, most
// frequent first). Resources/README.md says what each file holds and where it
// comes from.
//
// usage: make_builtin_files schemes <out dir> <rime build dir> <sp.dat>
//        make_builtin_files tables <out dir> <lexicon.tsv> <Unihan_Readings.txt>
//                           <Unihan_DictionaryLikeData.txt> <rime dir> <rime build dir>
//                           <wubi-haifeng86.db> <traditional table.txt>

#include "Resources/generators/DoublePinyinLayout.h"
#include "Resources/generators/GeneratorSupport.h"

#include "InputMethod/Core/PyString.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace taviro;
using namespace taviro::resgen;
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kProgram = "make_builtin_files";

// Where each scheme's layout comes from: a Rime prism file or an sp.dat section.
struct SchemeSource {
    const char* file;
    const char* prism;  // Rime schema name, or nullptr
    const char* spDat;  // sp.dat scheme name, or nullptr
};
// Names without a published layout in open data carry the Xiaohe layout
// (Jiandao's pinyin keys are Xiaohe's) or Ziranma's.
constexpr SchemeSource kSchemes[] = {
    {"智能ABC.plist", "double_pinyin_abc", nullptr},
    {"小浪双拼.plist", "double_pinyin_flypy", nullptr},
    {"紫光拼音.plist", nullptr, "紫光"},
    {"自然码.plist", "double_pinyin", nullptr},
    {"拼音加加.plist", "double_pinyin_pyjj", nullptr},
    {"微软双拼2003.plist", "double_pinyin_mspy", nullptr},
    {"微软双拼2003标准版.plist", nullptr, "微软"},
    {"大牛双拼.plist", "double_pinyin_flypy", nullptr},
    {"星空键道.plist", "double_pinyin_flypy", nullptr},
    {"键道3.plist", "double_pinyin_flypy", nullptr},
    {"键道6.plist", "double_pinyin_flypy", nullptr},
    {"国标双拼.plist", "double_pinyin", nullptr},
};

std::optional<DoublePinyinScheme> loadScheme(const SchemeSource& s, const fs::path& rimeBuild, const std::string& spDat)
{
    std::optional<DoublePinyinLayout> layout;
    if (s.prism) {
        auto text = readWholeFile(rimeBuild / (std::string(s.prism) + ".prism.txt"));
        if (text) layout = layoutFromPrism(*text);
    } else {
        layout = layoutFromSpDat(spDat, s.spDat);
    }
    if (!layout) return std::nullopt;
    auto scheme = schemeFromLayout(*layout);
    // Every code of the layout must type its syllable through the scheme.
    for (const auto& [code, syllable] : layout->codes) {
        auto got = syllablesForCode(scheme, code);
        if (std::find(got.begin(), got.end(), syllable) == got.end()) {
            std::cerr << kProgram << ": " << s.file << ": " << code << " does not give "
                      << PyString::syllableTextForCode(syllable) << "\n";
            return std::nullopt;
        }
    }
    return scheme;
}

int makeSchemes(const fs::path& out, const fs::path& rimeBuild, const fs::path& spDatPath)
{
    auto spDat = readWholeFile(spDatPath);
    if (!spDat) return fail(kProgram, "cannot read " + spDatPath.string());
    for (const auto& s : kSchemes) {
        auto scheme = loadScheme(s, rimeBuild, *spDat);
        if (!scheme) return fail(kProgram, std::string("no layout for ") + s.file);
        plat::PlistValue root;
        root["Version"] = "2.0";
        for (const auto& [name, section] : schemeSections(*scheme)) root[name] = plat::stringMapToPlist(section);
        if (!writePlist(out / s.file, root)) return fail(kProgram, std::string("cannot write ") + s.file);
    }
    std::cerr << kProgram << ": " << std::size(kSchemes) << " scheme files\n";
    return 0;
}

// ---- tables ----

struct Line {
    std::string word;
    std::string code;
};

bool writeTable(const fs::path& path, const std::vector<Line>& lines)
{
    std::string text;
    std::set<std::pair<std::string, std::string>> seen;
    for (const auto& l : lines) {
        if (l.word.empty() || l.code.empty() || !seen.insert({l.word, l.code}).second) continue;
        text += l.word + "\t" + l.code + "\n";
    }
    return !text.empty() && writeFileAtomically(path, text);
}

// The body lines of a Rime ".dict.yaml" (after "..."), split at tabs; lines
// starting with "#" are commented-out entries.
std::vector<std::vector<std::string_view>> rimeRows(std::string_view text)
{
    std::vector<std::vector<std::string_view>> rows;
    bool body = false;
    forEachLine(text, [&](std::string_view line) {
        if (!body) {
            body = line == "...";
            return;
        }
        if (line.empty() || line[0] == '#') return;
        auto f = splitFields(line, '\t');
        if (f.size() >= 2 && !f[0].empty() && !f[1].empty()) rows.push_back(f);
    });
    return rows;
}

std::int64_t number(std::string_view s)
{
    std::int64_t v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

// Lower-case ASCII letters only.
bool isKeyCode(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

struct Sources {
    std::vector<LexiconEntry> lexicon;     // heaviest first
    UnihanReadings readings;
    std::map<char32_t, std::string> cangjie;  // Unihan kCangjie, lower case
    std::map<std::string, std::string> strokes; // character -> h/s/p/n/z strokes
    std::map<std::string, std::int64_t> charWeight; // one-character weights, both scripts
    std::vector<std::pair<std::string, std::string>> wubi86; // (word, code), heaviest first
};

std::string firstAndLast(const std::string& code) { return code.size() <= 1 ? code : code.substr(0, 1) + code.back(); }

// The double-pinyin code table of a scheme: one- and two-character words of
// the standard set, most frequent first; `strokeKeys` shape keys after a
// character's two keys.
std::vector<Line> doublePinyinTable(const Sources& src, const DoublePinyinScheme& scheme, std::size_t strokeKeys)
{
    constexpr std::size_t kTwoCharacterWords = 30000;
    std::vector<Line> lines;
    std::size_t twos = 0;
    for (const auto& e : src.lexicon) {
        if (e.weight < 1 || e.syllables.size() > 2 || !src.readings.isStandardText(e.word)) continue;
        if (e.syllables.size() == 2 && twos >= kTwoCharacterWords) continue;
        std::string code;
        for (const auto& s : e.syllables) {
            auto it = scheme.codeOf.find(*PyString::syllableCodeForText(s));
            if (it == scheme.codeOf.end()) {
                code.clear();
                break;
            }
            code += it->second;
        }
        if (code.empty()) continue;
        if (e.syllables.size() == 1 && strokeKeys) {
            auto it = src.strokes.find(e.word);
            if (it == src.strokes.end()) continue;
            code += it->second.substr(0, strokeKeys);
        }
        if (e.syllables.size() == 2) ++twos;
        lines.push_back({e.word, code});
    }
    return lines;
}

// Standard characters, most frequent first.
std::vector<std::string> standardCharacters(const Sources& src)
{
    std::vector<std::pair<std::int64_t, std::string>> order;
    for (const auto& [cp, readings] : src.readings.standard) {
        const std::string c = encodeUtf8(cp);
        auto it = src.charWeight.find(c);
        order.emplace_back(it == src.charWeight.end() ? 0 : it->second, c);
    }
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::vector<std::string> out;
    for (auto& [w, c] : order) out.push_back(std::move(c));
    return out;
}

// An assist table: every standard character with the code `of` gives it.
template <typename Fn> std::vector<Line> assistTable(const Sources& src, Fn of)
{
    std::vector<Line> lines;
    for (const auto& c : standardCharacters(src)) lines.push_back({c, of(c)});
    return lines;
}

int makeTables(char** argv)
{
    const fs::path out = argv[2];
    Sources src;
    auto lexicon = readLexicon(argv[3]);
    if (!lexicon) return fail(kProgram, std::string("cannot read ") + argv[3]);
    src.lexicon = std::move(*lexicon);
    std::stable_sort(src.lexicon.begin(), src.lexicon.end(),
                     [](const auto& a, const auto& b) { return a.weight > b.weight; });
    for (const auto& e : src.lexicon)
        if (e.syllables.size() == 1) src.charWeight.emplace(e.word, e.weight);

    auto readingsText = readWholeFile(argv[4]);
    if (!readingsText) return fail(kProgram, std::string("cannot read ") + argv[4]);
    src.readings = readUnihanReadings(*readingsText);
    if (src.readings.standard.size() != kStandardSetSize) return fail(kProgram, "the standard set is incomplete");

    auto dictLike = readWholeFile(argv[5]);
    if (!dictLike) return fail(kProgram, std::string("cannot read ") + argv[5]);
    forEachLine(*dictLike, [&](std::string_view line) {
        auto f = splitFields(line, '\t');
        if (f.size() != 3 || f[1] != "kCangjie" || f[0].substr(0, 2) != "U+") return;
        std::string code(f[2]);
        for (char& c : code) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!isKeyCode(code)) return;
        src.cangjie[static_cast<char32_t>(std::strtoul(std::string(f[0].substr(2)).c_str(), nullptr, 16))] = code;
    });

    const fs::path rime = argv[6];
    const fs::path rimeBuild = argv[7];
    auto strokeText = readWholeFile(rime / "stroke.dict.yaml");
    if (!strokeText) return fail(kProgram, "cannot read the stroke dictionary");
    for (const auto& r : rimeRows(*strokeText))
        if (isKeyCode(r[1])) src.strokes.emplace(std::string(r[0]), std::string(r[1]));
    auto wubiText = readWholeFile(rime / "wubi86.dict.yaml");
    if (!wubiText) return fail(kProgram, "cannot read the wubi86 dictionary");
    {
        std::vector<std::tuple<std::int64_t, std::size_t, std::string, std::string>> rows;
        for (const auto& r : rimeRows(*wubiText))
            if (isKeyCode(r[1]))
                rows.emplace_back(r.size() > 2 ? number(r[2]) : 0, rows.size(), std::string(r[0]), std::string(r[1]));
        std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
            return std::get<0>(a) != std::get<0>(b) ? std::get<0>(a) > std::get<0>(b) : std::get<1>(a) < std::get<1>(b);
        });
        for (auto& [w, i, word, code] : rows) src.wubi86.emplace_back(std::move(word), std::move(code));
    }
    // Traditional characters weigh by the traditional word list.
    if (auto trad = readWholeFile(argv[9])) {
        forEachLine(*trad, [&](std::string_view line) {
            auto f = splitFields(line, '\t');
            if (f.size() < 3 || utf8Characters(f[0]).size() != 1) return;
            auto& w = src.charWeight[std::string(f[0])];
            w = std::max(w, number(f[2]));
        });
    } else {
        return fail(kProgram, std::string("cannot read ") + argv[9]);
    }

    auto scheme = [&](const char* prism) -> std::optional<DoublePinyinScheme> {
        auto text = readWholeFile(rimeBuild / (std::string(prism) + ".prism.txt"));
        if (!text) return std::nullopt;
        auto layout = layoutFromPrism(*text);
        if (!layout) return std::nullopt;
        return schemeFromLayout(*layout);
    };
    const auto ziranma = scheme("double_pinyin");
    const auto xiaohe = scheme("double_pinyin_flypy");
    const auto abc = scheme("double_pinyin_abc");
    if (!ziranma || !xiaohe || !abc) return fail(kProgram, "cannot read the double-pinyin layouts");

    std::map<std::string, std::vector<Line>> tables;
    // Code tables.
    tables["自然码.txt"] = doublePinyinTable(src, *ziranma, 0);
    {
        std::vector<std::pair<std::int64_t, Line>> rows;
        for (const auto& [cp, code] : src.cangjie) {
            if (cp > 0xFFFF) continue; // the common planes only
            const std::string c = encodeUtf8(cp);
            auto it = src.charWeight.find(c);
            rows.push_back({it == src.charWeight.end() ? 0 : it->second, {c, code}});
        }
        std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        auto& t = tables["雅虎倉頡.txt"];
        for (auto& [w, l] : rows) t.push_back(std::move(l));
    }
    {
        auto& t = tables["五笔86.txt"];
        for (const auto& [word, code] : src.wubi86) t.push_back({word, code});
    }
    tables["大牛双拼.txt"] = doublePinyinTable(src, *xiaohe, 0);
    tables["键道3.txt"] = doublePinyinTable(src, *xiaohe, 1);
    tables["键道3音笔.txt"] = doublePinyinTable(src, *xiaohe, 2);
    {
        auto text = readWholeFile(rime / "cangjie5.dict.yaml");
        if (!text) return fail(kProgram, "cannot read the cangjie5 dictionary");
        auto& t = tables["仓颉五代.txt"];
        for (const auto& r : rimeRows(*text))
            if (isKeyCode(r[1])) t.push_back({std::string(r[0]), std::string(r[1])});
    }
    tables["五笔画.txt"] = assistTable(src, [&](const std::string& c) {
        auto it = src.strokes.find(c);
        return it == src.strokes.end() ? std::string() : it->second;
    });
    tables["星空键道6.2.txt"] = doublePinyinTable(src, *xiaohe, 2);
    {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(argv[8], &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return fail(kProgram, std::string("cannot open ") + argv[8]);
        }
        sqlite3_stmt* st = nullptr;
        auto& t = tables["09五笔第一代.txt"];
        if (sqlite3_prepare_v2(db, "SELECT tabkeys, phrase FROM phrases ORDER BY freq DESC, id", -1, &st, nullptr) ==
            SQLITE_OK) {
            while (sqlite3_step(st) == SQLITE_ROW) {
                auto code = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
                auto word = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
                if (code && word && isKeyCode(code) && decodeUtf8(word)) t.push_back({word, code});
            }
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        if (t.empty()) return fail(kProgram, std::string("no rows in ") + argv[8]);
    }
    tables["智能 ABC 固顶码.txt"] = doublePinyinTable(src, *abc, 0);

    // Assist tables: two shape keys per character (one for the "-纯单辅" ones).
    std::map<std::string, std::string> wubiFull;
    for (const auto& [word, code] : src.wubi86)
        if (utf8Characters(word).size() == 1 && code.size() > wubiFull[word].size()) wubiFull[word] = code;
    auto strokeOf = [&](const std::string& c) {
        auto it = src.strokes.find(c);
        return it == src.strokes.end() ? std::string() : it->second;
    };
    auto cangjieOf = [&](const std::string& c) {
        auto it = src.cangjie.find(decodeUtf8(c)->front());
        return it == src.cangjie.end() ? std::string() : it->second;
    };
    tables["86版五笔辅码.txt"] = assistTable(src, [&](const std::string& c) { return wubiFull[c].substr(0, 2); });
    tables["自然码辅码.txt"] = assistTable(src, [&](const std::string& c) { return strokeOf(c).substr(0, 2); });
    tables["速成辅码.txt"] = assistTable(src, [&](const std::string& c) { return firstAndLast(cangjieOf(c)); });
    tables["小牛形码.txt"] = assistTable(src, [&](const std::string& c) { return firstAndLast(strokeOf(c)); });
    tables["速成辅码-纯单辅.txt"] = assistTable(src, [&](const std::string& c) { return cangjieOf(c).substr(0, 1); });
    tables["小牛形码-纯单辅.txt"] = assistTable(src, [&](const std::string& c) { return strokeOf(c).substr(0, 1); });

    for (const auto& [name, lines] : tables) {
        if (lines.size() < 1000) return fail(kProgram, name + " is nearly empty");
        if (!writeTable(out / name, lines)) return fail(kProgram, "cannot write " + name);
    }
    std::cerr << kProgram << ": " << tables.size() << " tables\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "schemes" && argc == 5) return makeSchemes(argv[2], argv[3], argv[4]);
    if (mode == "tables" && argc == 10) return makeTables(argv);
    return fail(kProgram,
                "usage: make_builtin_files schemes <out dir> <rime build dir> <sp.dat>\n"
                "       make_builtin_files tables <out dir> <lexicon.tsv> <Unihan_Readings.txt> "
                "<Unihan_DictionaryLikeData.txt> <rime dir> <rime build dir> <wubi-haifeng86.db> <traditional table.txt>");
}
