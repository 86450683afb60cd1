// Builds dag.db from the word list:
//   "w1".."w7"   words of 1 to 7 syllables: "p1".."pN" the syllable codes,
//                "Word" the word and its weight joined by "|";
//   "jw2".."jw5" the heaviest words for each sequence of initials, with the
//                initials' codes in "p1".."pN" (abbreviated typing);
//   "CodeTable"  every word under its full pinyin without separators, with
//                its frequency rank as "Weight" (smaller is more frequent).
//
// Words made only of characters of the standard simplified set (Unihan
// kTGHZ2013) come before every word with another character (妳, 後, 冇):
// they are sorted first and their stored weights are raised above the
// heaviest of the others.
//
// usage: make_dag <lexicon.tsv> <Unihan_Readings.txt> <out dag.db>

#include "Resources/generators/GeneratorSupport.h"

#include "InputMethod/Core/PyString.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <string>
#include <vector>

using namespace taviro;
using namespace taviro::resgen;

namespace {

constexpr std::string_view kProgram = "make_dag";
constexpr std::size_t kMaxSyllables = 7;
constexpr std::size_t kMinAbbreviated = 2;
constexpr std::size_t kMaxAbbreviated = 5;
// Words kept per sequence of initials; the abbreviated lookup shows two.
constexpr std::size_t kPerInitials = 4;

struct Word {
    std::string text;
    std::string code; // full pinyin, no separators
    std::vector<int> syllables;
    std::int64_t weight;
    bool standard;
};

// The codes that one typed key per syllable stands for: the bare initial; for
// a syllable without an initial both the syllable of its first letter (a, o,
// e: a key the scheme does not list stands for its own spelling) and 0 (a key
// the scheme lists as the zero initial).
std::vector<std::vector<int>> abbreviations(const std::vector<int>& syllables)
{
    std::vector<std::vector<int>> out{{}};
    for (int syllable : syllables) {
        std::vector<int> choices;
        if (const int initial = initialOf(syllable)) {
            choices = {initial};
        } else {
            std::string_view text = PyString::syllableTextForCode(syllable);
            choices = {PyString::syllableCodeForText(text.substr(0, 1)).value_or(0), 0};
        }
        std::vector<std::vector<int>> next;
        for (const auto& prefix : out) {
            for (int c : choices) {
                next.push_back(prefix);
                next.back().push_back(c);
            }
        }
        out = std::move(next);
    }
    return out;
}

std::string columnList(std::size_t n, std::string_view type)
{
    std::string out;
    for (std::size_t i = 1; i <= n; ++i) {
        out += "\"p" + std::to_string(i) + "\"";
        if (!type.empty()) out += " " + std::string(type);
        out += ", ";
    }
    return out;
}

bool createWordTable(SqliteBuilder& db, const std::string& name, std::size_t n)
{
    return db.exec("CREATE TABLE \"" + name + "\" (" + columnList(n, "INTEGER NOT NULL") +
                   "\"Word\" TEXT NOT NULL);");
}

bool indexWordTable(SqliteBuilder& db, const std::string& name, std::size_t n)
{
    std::string cols = columnList(n, "");
    cols.resize(cols.size() - 2);
    return db.exec("CREATE INDEX \"" + name + "_index\" ON \"" + name + "\" (" + cols + ");");
}

bool insertRows(SqliteBuilder& db, const std::string& name, std::size_t n,
                const std::vector<std::pair<std::vector<int>, std::string>>& rows)
{
    std::string sql = "INSERT INTO \"" + name + "\" VALUES (";
    for (std::size_t i = 0; i <= n; ++i) sql += i ? ",?" : "?";
    sql += ")";
    Statement insert(db.handle(), sql);
    if (!insert.ok()) return false;
    for (const auto& [codes, value] : rows) {
        for (std::size_t i = 0; i < n; ++i) insert.bind(static_cast<int>(i + 1), std::int64_t{codes[i]});
        insert.bind(static_cast<int>(n + 1), value);
        if (!insert.step()) return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) return fail(kProgram, "usage: make_dag <lexicon.tsv> <Unihan_Readings.txt> <out dag.db>");
    auto lexicon = readLexicon(argv[1]);
    if (!lexicon) return fail(kProgram, std::string("cannot read ") + argv[1]);
    auto unihanText = readWholeFile(argv[2]);
    if (!unihanText) return fail(kProgram, std::string("cannot read ") + argv[2]);
    const UnihanReadings unihan = readUnihanReadings(*unihanText);
    unihanText.reset();
    if (unihan.standard.size() != kStandardSetSize) return fail(kProgram, "the standard character set is incomplete");

    std::vector<Word> words;
    for (const auto& e : *lexicon) {
        if (e.syllables.empty() || e.syllables.size() > kMaxSyllables) continue;
        // Words nobody has been seen to use only crowd the lists.
        if (e.weight < 1) continue;
        Word w{e.word, {}, {}, e.weight, unihan.isStandardText(e.word)};
        bool valid = true;
        for (const auto& s : e.syllables) {
            auto code = PyString::syllableCodeForText(s);
            if (!code || PyString::isBareInitialCode(*code)) {
                valid = false;
                break;
            }
            w.syllables.push_back(*code);
            w.code += s;
        }
        if (!valid) return fail(kProgram, "not a syllable in the word list: " + e.word);
        words.push_back(std::move(w));
    }
    if (words.empty()) return fail(kProgram, "empty word list");

    // Standard words above the heaviest other one.
    std::int64_t heaviestOther = 0;
    std::size_t others = 0;
    for (const auto& w : words) {
        if (w.standard) continue;
        heaviestOther = std::max(heaviestOther, w.weight);
        ++others;
    }
    for (auto& w : words)
        if (w.standard) w.weight += heaviestOther;

    // Standard first, then heaviest first; ties by pinyin and word so the
    // output is reproducible.
    std::sort(words.begin(), words.end(), [](const Word& a, const Word& b) {
        if (a.standard != b.standard) return a.standard;
        if (a.weight != b.weight) return a.weight > b.weight;
        if (a.code != b.code) return a.code < b.code;
        return a.text < b.text;
    });

    SqliteBuilder db(argv[3]);
    if (!db.ok()) return fail(kProgram, "cannot create the database");
    db.exec("BEGIN");

    for (std::size_t n = 1; n <= kMaxSyllables; ++n) {
        std::vector<std::pair<std::vector<int>, std::string>> rows;
        for (const auto& w : words)
            if (w.syllables.size() == n) rows.emplace_back(w.syllables, w.text + "|" + std::to_string(w.weight));
        std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        const std::string name = "w" + std::to_string(n);
        if (!createWordTable(db, name, n) || !insertRows(db, name, n, rows) || !indexWordTable(db, name, n))
            return fail(kProgram, "cannot fill " + name);
    }

    for (std::size_t n = kMinAbbreviated; n <= kMaxAbbreviated; ++n) {
        std::map<std::vector<int>, std::vector<const Word*>> byInitials;
        for (const auto& w : words) {
            if (w.syllables.size() != n) continue;
            for (const auto& initials : abbreviations(w.syllables)) {
                auto& list = byInitials[initials];
                if (list.size() < kPerInitials) list.push_back(&w); // words are heaviest first
            }
        }
        std::vector<std::pair<std::vector<int>, std::string>> rows;
        for (const auto& [initials, list] : byInitials)
            for (const Word* w : list) rows.emplace_back(initials, w->text + "|" + std::to_string(w->weight));
        const std::string name = "jw" + std::to_string(n);
        if (!createWordTable(db, name, n) || !insertRows(db, name, n, rows) || !indexWordTable(db, name, n))
            return fail(kProgram, "cannot fill " + name);
    }

    if (!db.exec("CREATE TABLE CodeTable (\"Code\" TEXT NOT NULL, \"Table\" TEXT NOT NULL, "
                 "\"Weight\" INTEGER NOT NULL DEFAULT 0);"))
        return fail(kProgram, "cannot create CodeTable");
    {
        std::vector<std::size_t> order(words.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return words[a].code < words[b].code; });
        Statement insert(db.handle(), "INSERT INTO CodeTable VALUES (?,?,?)");
        for (std::size_t i : order) {
            insert.bind(1, words[i].code);
            insert.bind(2, words[i].text);
            insert.bind(3, static_cast<std::int64_t>(i + 1)); // rank, 1 = most frequent
            if (!insert.step()) return fail(kProgram, "cannot fill CodeTable");
        }
    }
    if (!db.exec("CREATE INDEX CodeTable_index ON CodeTable (\"Code\" ASC, \"Weight\" ASC);"))
        return fail(kProgram, "cannot index CodeTable");

    if (!db.exec("COMMIT") || !db.exec("ANALYZE") || !db.exec("VACUUM") || !db.commit())
        return fail(kProgram, std::string("cannot write ") + argv[3]);
    std::cerr << kProgram << ": " << words.size() << " words, " << others
              << " with characters outside the standard set ranked last\n";
    return 0;
}
