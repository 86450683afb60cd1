// Builds english.db from word lists graded by how common their words are
// (the size levels of SCOWL: 10 holds the most common words, 80 rare ones).
// "Code" is the word in lower case, "Table" the word as spelled, "Weight"
// ascending means preferred: 100 x the smallest level that lists the word,
// plus its length, so common short words come first among the completions of
// a prefix.
//
// Romanised Chinese is left out: a word spelled wholly in pinyin syllables that
// is capitalised (Beijing, Wang) or longer than six letters (shanghai), and a
// rare word that starts with more than six letters of pinyin (shanghais), would
// otherwise be offered before the Chinese words of a long pinyin buffer.
//
// usage: make_english <out english.db> <level>:<word list>...

#include "Resources/generators/GeneratorSupport.h"
#include "InputMethod/Core/PyString.h"

#include <algorithm>
#include <charconv>
#include <iostream>
#include <map>
#include <string>

using namespace taviro::resgen;

namespace {

constexpr std::string_view kProgram = "make_english";

bool plainWord(std::string_view w)
{
    if (w.empty() || w.size() > 40) return false;
    return std::all_of(w.begin(), w.end(), [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
}

// How far the lower-case word splits into full syllables of the model from its
// start: the end of the longest such prefix (the word's length when it is all
// pinyin).
std::size_t pinyinPrefixLength(const std::string& lower)
{
    std::vector<bool> reachable(lower.size() + 1, false);
    reachable[0] = true;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < lower.size(); ++i) {
        if (!reachable[i]) continue;
        for (std::size_t n = 1; n <= 6 && i + n <= lower.size(); ++n) {
            const auto code = taviro::PyString::syllableCodeForText(lower.substr(i, n));
            if (code && !taviro::PyString::isBareInitialCode(*code)) {
                reachable[i + n] = true;
                longest = std::max(longest, i + n);
            }
        }
    }
    return longest;
}

// Levels of 50 and above hold the rarer words.
constexpr std::int64_t kRareWeight = 5000;

bool romanisedChinese(const std::string& word, const std::string& lower, std::int64_t weight)
{
    const std::size_t pinyin = pinyinPrefixLength(lower);
    if (pinyin == lower.size() && ((word[0] >= 'A' && word[0] <= 'Z') || lower.size() > 6)) return true;
    // A rare word that starts with a long pinyin spelling (shanghais, Nanjingese).
    return weight >= kRareWeight && pinyin > 6;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return fail(kProgram, "usage: make_english <english.db> <level>:<word list>...");
    std::map<std::string, std::int64_t> weightOf; // word as spelled -> weight
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto colon = arg.find(':');
        std::int64_t level = 0;
        if (colon == std::string::npos ||
            std::from_chars(arg.data(), arg.data() + colon, level).ptr != arg.data() + colon || level <= 0)
            return fail(kProgram, "not <level>:<path>: " + arg);
        auto text = readWholeFile(arg.substr(colon + 1));
        if (!text) return fail(kProgram, "cannot read " + arg.substr(colon + 1));
        forEachLine(*text, [&](std::string_view line) {
            // Possessives and words with other characters are left out.
            if (!plainWord(line)) return;
            const std::int64_t weight = level * 100 + static_cast<std::int64_t>(line.size());
            auto [it, inserted] = weightOf.emplace(std::string(line), weight);
            if (!inserted) it->second = std::min(it->second, weight);
        });
    }
    if (weightOf.empty()) return fail(kProgram, "no words read");

    std::size_t skipped = 0;
    SqliteBuilder db(argv[1]);
    if (!db.ok() || !db.exec("CREATE TABLE CodeTable (\"Code\" TEXT NOT NULL, \"Table\" TEXT NOT NULL, "
                             "\"Weight\" INTEGER NOT NULL DEFAULT 0);") ||
        !db.exec("BEGIN"))
        return fail(kProgram, "cannot create the database");
    {
    Statement insert(db.handle(), "INSERT INTO CodeTable VALUES (?,?,?)");
    for (const auto& [word, weight] : weightOf) {
        std::string code = word;
        std::transform(code.begin(), code.end(), code.begin(), [](char c) { return c | 0x20; });
        if (romanisedChinese(word, code, weight)) {
            ++skipped;
            continue;
        }
        insert.bind(1, code);
        insert.bind(2, word);
        insert.bind(3, weight);
        if (!insert.step()) return fail(kProgram, "insert failed");
    }
    }
    if (!db.exec("CREATE INDEX CodeTable_index ON CodeTable (\"Code\" ASC, \"Weight\" ASC);") ||
        !db.exec("COMMIT") || !db.exec("ANALYZE") || !db.exec("VACUUM") || !db.commit())
        return fail(kProgram, std::string("cannot write ") + argv[1]);
    std::cerr << kProgram << ": " << weightOf.size() - skipped << " words (" << skipped
              << " romanised Chinese left out)\n";
    return 0;
}
