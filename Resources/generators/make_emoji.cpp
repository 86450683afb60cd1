// Builds emoji.plist: pinyin key ("kai'xin") -> emoji, most fitting first.
// Sources: a Chinese word-to-emoji list (traditional script, converted to
// simplified with OpenCC) and the Chinese CLDR annotations (names and
// keywords). Words are turned into pinyin through the word list; only words
// of two or more characters become keys, so single syllables stay free of
// emoji. Every emoji is written in its fully-qualified form, without skin
// tones.
//
// usage: make_emoji <lexicon.tsv> <emoji_word.txt> <cldr zh.xml> <cldr derived zh.xml>
//                   <emoji-test.txt> <out emoji.plist>

#include "Resources/generators/GeneratorSupport.h"

#include <opencc/SimpleConverter.hpp>

#include <algorithm>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace taviro::resgen;

namespace {

constexpr std::string_view kProgram = "make_emoji";
constexpr std::size_t kMaxPerKey = 8;
constexpr std::size_t kMaxKeySyllables = 7;

bool isSkinTone(char32_t cp) { return cp >= 0x1F3FB && cp <= 0x1F3FF; }

// The emoji without variation selectors and skin tones, as a lookup key.
std::string bareForm(std::string_view emoji)
{
    auto cps = decodeUtf8(emoji);
    if (!cps) return {};
    std::string out;
    for (char32_t cp : *cps)
        if (cp != 0xFE0F && cp != 0xFE0E && !isSkinTone(cp)) out += encodeUtf8(cp);
    return out;
}

// bare form -> fully-qualified emoji without skin tone, from emoji-test.txt.
std::map<std::string, std::string> readQualified(const std::string& text)
{
    std::map<std::string, std::string> out;
    forEachLine(text, [&](std::string_view line) {
        if (line.empty() || line[0] == '#') return;
        auto semi = line.find(';');
        if (semi == std::string_view::npos || line.find("fully-qualified", semi) == std::string_view::npos) return;
        std::string emoji;
        bool toned = false;
        for (auto hex : splitFields(line.substr(0, semi), ' ')) {
            if (hex.empty()) continue;
            const char32_t cp = static_cast<char32_t>(std::stoul(std::string(hex), nullptr, 16));
            toned = toned || isSkinTone(cp);
            emoji += encodeUtf8(cp);
        }
        if (!toned && !emoji.empty()) out.emplace(bareForm(emoji), emoji);
    });
    return out;
}

std::string unescapeXml(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            static const std::pair<std::string_view, char> kEntities[] = {
                {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
            bool done = false;
            for (auto [name, c] : kEntities) {
                if (text.substr(i, name.size()) == name) {
                    out += c;
                    i += name.size() - 1;
                    done = true;
                    break;
                }
            }
            if (done) continue;
        }
        out += text[i];
    }
    return out;
}

std::string trim(std::string_view s)
{
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return std::string(s);
}

struct Annotation {
    std::string emoji;
    std::vector<std::string> words; // name first, then keywords
};

// <annotation cp="X">a | b</annotation> and <annotation cp="X" type="tts">name</annotation>
void readCldr(const std::string& text, std::vector<Annotation>& out, std::map<std::string, std::size_t>& index)
{
    forEachLine(text, [&](std::string_view line) {
        auto start = line.find("<annotation cp=\"");
        if (start == std::string_view::npos) return;
        start += 16;
        auto quote = line.find('"', start);
        auto close = line.find('>', quote);
        auto end = line.find("</annotation>", close);
        if (quote == std::string_view::npos || close == std::string_view::npos || end == std::string_view::npos)
            return;
        const std::string emoji = unescapeXml(line.substr(start, quote - start));
        const bool tts = line.substr(quote, close - quote).find("type=\"tts\"") != std::string_view::npos;
        const std::string body = unescapeXml(line.substr(close + 1, end - close - 1));
        auto [it, inserted] = index.emplace(emoji, out.size());
        if (inserted) out.push_back({emoji, {}});
        auto& words = out[it->second].words;
        if (tts) {
            // Derived names read "category: name" (flags: "旗: 中国").
            auto colon = body.find(": ");
            words.insert(words.begin(), trim(colon == std::string::npos ? body : body.substr(colon + 2)));
        } else {
            for (auto k : splitFields(body, '|')) words.push_back(trim(k));
        }
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 7)
        return fail(kProgram, "usage: make_emoji <lexicon.tsv> <emoji_word.txt> <zh.xml> <derived zh.xml> "
                              "<emoji-test.txt> <emoji.plist>");
    auto lexicon = readLexicon(argv[1]);
    auto words = readWholeFile(argv[2]);
    auto cldr = readWholeFile(argv[3]);
    auto derived = readWholeFile(argv[4]);
    auto tests = readWholeFile(argv[5]);
    if (!lexicon || !words || !cldr || !derived || !tests) return fail(kProgram, "cannot read the sources");

    // word -> pinyin key of its most frequent reading.
    std::map<std::string, std::pair<std::int64_t, std::string>> pinyinOf;
    for (const auto& e : *lexicon) {
        if (e.syllables.size() < 2 || e.syllables.size() > kMaxKeySyllables) continue;
        std::string key;
        for (const auto& s : e.syllables) key += (key.empty() ? "" : "'") + s;
        auto [it, inserted] = pinyinOf.emplace(e.word, std::pair{e.weight, key});
        if (!inserted && e.weight > it->second.first) it->second = {e.weight, key};
    }
    const auto qualified = readQualified(*tests);

    std::map<std::string, std::vector<std::string>> table;
    auto add = [&](const std::string& word, std::string_view emoji) {
        auto p = pinyinOf.find(word);
        if (p == pinyinOf.end()) return;
        auto q = qualified.find(bareForm(emoji));
        if (q == qualified.end()) return;
        auto& list = table[p->second.second];
        if (list.size() < kMaxPerKey && std::find(list.begin(), list.end(), q->second) == list.end())
            list.push_back(q->second);
    };

    // The word list first: "word<TAB>word emoji emoji ...".
    std::vector<std::pair<std::string, std::vector<std::string>>> pairs;
    std::string joined;
    forEachLine(*words, [&](std::string_view line) {
        auto f = splitFields(line, '\t');
        if (f.size() != 2) return;
        std::vector<std::string> emoji;
        auto pieces = splitFields(f[1], ' ');
        for (std::size_t i = 1; i < pieces.size(); ++i)
            if (!pieces[i].empty()) emoji.emplace_back(pieces[i]);
        pairs.push_back({std::string(f[0]), std::move(emoji)});
        joined += std::string(f[0]) + "\n";
    });
    std::string converted;
    try {
        converted = opencc::SimpleConverter("t2s.json").Convert(joined);
    } catch (const std::exception& e) {
        return fail(kProgram, std::string("OpenCC t2s: ") + e.what());
    }
    auto simplified = splitFields(converted, '\n');
    if (simplified.size() != pairs.size() + 1) return fail(kProgram, "conversion changed the number of words");
    for (std::size_t i = 0; i < pairs.size(); ++i)
        for (const auto& emoji : pairs[i].second) add(std::string(simplified[i]), emoji);

    // Then the CLDR names and keywords, in file order.
    std::vector<Annotation> annotations;
    std::map<std::string, std::size_t> index;
    readCldr(*cldr, annotations, index);
    readCldr(*derived, annotations, index);
    for (const auto& a : annotations)
        for (const auto& w : a.words) add(w, a.emoji);

    for (const auto& [key, list] : table)
        for (auto s : splitFields(key, '\''))
            if (normalizeSyllable(s) != s) return fail(kProgram, "not a syllable in key " + key);

    if (!writePlist(argv[6], plistArrayDictionary(table)))
        return fail(kProgram, std::string("cannot write ") + argv[6]);
    std::cerr << kProgram << ": " << table.size() << " keys\n";
    return 0;
}
