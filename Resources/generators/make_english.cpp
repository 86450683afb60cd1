// Builds english.db from the American English word lists, smallest (most
// common words) first. "Code" is the word in lower case, "Table" the word as
// spelled, "Weight" ascending means preferred: the size tier of the first
// list that holds the word, then its length, so common short words come
// first among the completions of a prefix.
//
// usage: make_english <out english.db> <word list>... (smallest list first)

#include "Resources/generators/GeneratorSupport.h"

#include <algorithm>
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

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return fail(kProgram, "usage: make_english <english.db> <word list>...");
    std::map<std::string, std::int64_t> weightOf; // word as spelled -> weight
    for (int i = 2; i < argc; ++i) {
        auto text = readWholeFile(argv[i]);
        if (!text) return fail(kProgram, std::string("cannot read ") + argv[i]);
        const std::int64_t tier = i - 1;
        forEachLine(*text, [&](std::string_view line) {
            // Possessives and words with other characters are left out.
            if (!plainWord(line)) return;
            weightOf.emplace(std::string(line), tier * 100 + static_cast<std::int64_t>(line.size()));
        });
    }
    if (weightOf.empty()) return fail(kProgram, "no words read");

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
        insert.bind(1, code);
        insert.bind(2, word);
        insert.bind(3, weight);
        if (!insert.step()) return fail(kProgram, "insert failed");
    }
    }
    if (!db.exec("CREATE INDEX CodeTable_index ON CodeTable (\"Code\" ASC, \"Weight\" ASC);") ||
        !db.exec("COMMIT") || !db.exec("ANALYZE") || !db.exec("VACUUM") || !db.commit())
        return fail(kProgram, std::string("cannot write ") + argv[1]);
    std::cerr << kProgram << ": " << weightOf.size() << " words\n";
    return 0;
}
