// Phrase, prediction and abbreviated lookups over dag.db.
#include <atomic>
#include <chrono>
#include <string_view>

#include "InputMethod/Core/Database/CodeTableLists.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Database/StoreSql.h"
#include "InputMethod/Core/Database/TimedGather.h"
#include "InputMethod/Core/FuzzyPinyin.h"
#include "InputMethod/Core/PyString.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

#include "InputMethod/Core/Double2Pinyin.h"

using sqlkit::SQLDatabase;

namespace taviro {

namespace {

// Positions whose last one is usable: not empty, first text not empty.
bool usablePositions(const SyllableAlternatives& s) {
    return !s.empty() && !s.back().empty() && !s.back().front().empty();
}

// The table of words of `count` syllables: "w3", or "jw3" for abbreviations.
std::string dagTable(const char* prefix, std::size_t count) {
    std::string name = prefix;
    name += std::to_string(count);
    return name;
}

std::string dagStatement(const std::string& table, const std::string& conditions) {
    return "SELECT Word FROM " + storesql::quoteIdentifier(table) + " WHERE " + conditions + " ";
}

// One "Word" value: word|weight pairs. A row whose pairs do not parse gives
// nothing; a word left without a weight at the end is dropped.
void appendDagRow(std::string_view value, std::vector<CodeTable>& out) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t bar = value.find('|', start);
        if (bar == std::string_view::npos) bar = value.size();
        if (bar > start) pieces.push_back(value.substr(start, bar - start));
        start = bar + 1;
    }
    std::vector<CodeTable> row;
    for (std::size_t i = 0; i + 1 < pieces.size(); i += 2) {
        auto weight = weightFromText(pieces[i + 1]);
        if (!weight) return;
        row.emplace_back("", std::string(pieces[i]), *weight, CodeTableFromType{});
    }
    out.insert(out.end(), row.begin(), row.end());
}

} // namespace

SyllableAlternatives Database::syllablesFromKey(const std::string& key, const Settings& settings) const {
    auto converter = d2f();
    if (!converter) return {};
    return PyString::syllableTextsForCodes(converter->convertDoublePinyin(key, settings));
}

SyllableAlternatives Database::initialsFromKey(const std::string& key) const {
    auto converter = d2f();
    if (!converter) return {};
    return PyString::syllableTextsForCodes(converter->convertDoublePinyinSyllables(key));
}

std::string Database::pinyinColumnConditions(const SyllableAlternatives& syllables) const {
    return pinyinColumnConditions(syllables, *currentSettings());
}

std::string Database::pinyinColumnConditions(const SyllableAlternatives& syllables,
                                             const Settings& settings) const {
    const auto codes = expandFuzzySyllableCodes(PyString::syllableCodesForTexts(syllables), settings);
    std::string text = " ";
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        const auto& position = codes[i];
        if (i + 1 == codes.size() && !position.empty() && PyString::isBareInitialCode(position.front())) {
            const int low = position.front();
            const int high = (low & 0x80) ? (low | 0x3F) : (low | 0xFF);
            text += "p" + n + " >= '" + std::to_string(low) + "' and p" + n + " < '" + std::to_string(high) +
                    "'     ";
            break;
        }
        text += "p" + n + " in ('";
        for (std::size_t k = 0; k < position.size(); ++k) {
            if (k) text += "','";
            text += std::to_string(position[k]);
        }
        text += "') and ";
    }
    text.erase(text.size() >= 4 ? text.size() - 4 : 0);
    return text;
}

std::vector<CodeTable> Database::dagWordsForQuery(const std::string& sql) {
    std::vector<CodeTable> records;
    inQueue(Queue::dag, [&](SQLDatabase* db) {
        if (!db) return;
        auto rs = db->executeQuery(sql, sqlkit::SQLArguments{});
        if (!rs) return;
        while (rs->next()) {
            auto value = rs->stringForColumnIndex(0);
            if (value) appendDagRow(*value, records);
        }
        rs->close();
    });
    sortByWeight(records);
    return records;
}

namespace {

// Unit and record separators cannot occur in typed keys or syllable texts.
std::string phraseCacheKey(const std::string& key, int limit, const SyllableAlternatives& given) {
    std::string k = key;
    k += '\x1f';
    k += std::to_string(limit);
    for (const auto& position : given) {
        k += '\x1e';
        for (const auto& syllable : position) {
            k += syllable;
            k += '\x1f';
        }
    }
    return k;
}

} // namespace

std::vector<CodeTable> Database::phraseWordsByPinyinColumns(const std::string& key, int limit,
                                                            const SyllableAlternatives& given) {
    const auto settings = currentSettings();
    if (settings->disableDatabase && given.empty()) return {};

    // The answer depends on the syllables and the user-row limit as well as the
    // key: two callers asking the same key differently must not share an entry.
    const std::string cacheKey = phraseCacheKey(key, limit, given);
    std::uint64_t generation;
    {
        std::lock_guard lk(cacheMutex_);
        auto it = cache_.find(cacheKey);
        if (it != cache_.end()) return it->second;
        generation = cacheGeneration_;
    }

    const SyllableAlternatives syllables = given.empty() ? syllablesFromKey(key, *settings) : given;
    if (!usablePositions(syllables) || syllables.size() > 7) return {};
    const std::string sql =
        dagStatement(dagTable("w", syllables.size()), pinyinColumnConditions(syllables, *settings));

    const Hooks h = hooks();
    auto self = shared_from_this();
    auto before = [h](SubLookup which) {
        if (h.beforeSubLookup) h.beforeSubLookup(which);
    };
    // Sources that the settings leave empty start no task.
    std::vector<TimedGather::Lookup> lookups(3);
    // Rows left out because user.db was locked make the answer partial.
    auto userComplete = std::make_shared<std::atomic<bool>>(true);
    if (settings->userDict)
        lookups[0] = [self, before, key, limit, userComplete] {
            before(SubLookup::userRows);
            bool complete = true;
            auto rows = self->userRowsByPy(key, limit, &complete);
            if (!complete) *userComplete = false;
            return rows;
        };
    lookups[1] = [self, before, sql] {
        before(SubLookup::dagWords);
        return self->dagWordsForQuery(sql);
    };
    if (settings->extendedDict && syllables.size() >= 2)
        lookups[2] = [self, before, syllables] {
            before(SubLookup::extendedWords);
            return self->extendedLookup(syllables);
        };
    auto results = TimedGather::run(std::move(lookups), std::chrono::steady_clock::now() + h.phraseWait);

    bool complete = true;
    auto take = [&](std::size_t i) {
        if (!results[i]) {
            complete = false;
            return std::vector<CodeTable>{};
        }
        return std::move(*results[i]);
    };
    auto userRows = take(0);
    auto dagRows = take(1);
    auto extendedRows = take(2);
    auto merged = mergeWithoutDuplicates(mergeWithoutDuplicates(std::move(userRows), extendedRows), dagRows);

    // A partial answer is returned but never remembered.
    if (complete && *userComplete) storeCachedPhrases(cacheKey, merged, generation);
    return merged;
}

std::vector<CodeTable> Database::userTableLikeAndPhrase(const std::string& key,
                                                        const SyllableAlternatives& given) {
    for (char c : key)
        if (c >= 'A' && c <= 'Z') return {};
    const auto settings = currentSettings();
    if (settings->disableDatabase) return {};
    const SyllableAlternatives syllables = given.empty() ? syllablesFromKey(key, *settings) : given;
    if (!usablePositions(syllables)) return {};
    if (auto code = PyString::syllableCodeForText(syllables.back().front());
        code && PyString::isBareInitialCode(*code))
        return {};
    if (syllables.size() > 6) return {};

    const std::string userSql = storesql::userPatternStatement(userDictTableName(*settings));
    const std::string dagSql =
        dagStatement(dagTable("w", syllables.size() + 1), pinyinColumnConditions(syllables, *settings));

    const Hooks h = hooks();
    auto self = shared_from_this();
    std::vector<TimedGather::Lookup> lookups;
    // An empty key would match every two-character key: no user part then.
    if (!key.empty() && settings->userDict)
        lookups.push_back([self, h, userSql, key] {
            if (h.beforeSubLookup) h.beforeSubLookup(SubLookup::userRows);
            std::vector<CodeTable> rows;
            self->userWordExtendingKey(userSql, key, rows);
            return rows;
        });
    lookups.push_back([self, h, dagSql] {
        if (h.beforeSubLookup) h.beforeSubLookup(SubLookup::dagWords);
        return self->dagWordsForQuery(dagSql);
    });
    auto results = TimedGather::run(std::move(lookups), std::chrono::steady_clock::now() + h.predictionWait);

    for (auto& r : results)
        if (r && !r->empty()) return {r->front()};
    return {};
}

std::vector<CodeTable> Database::superSPWords(const std::string& key, const SyllableAlternatives& given) {
    const auto settings = currentSettings();
    if (settings->disableDatabase) return {};
    const SyllableAlternatives syllables = given.empty() ? initialsFromKey(key) : given;
    if (syllables.size() < 2 || syllables.size() > 5) return {};
    const std::string dagSql =
        dagStatement(dagTable("jw", syllables.size()), pinyinColumnConditions(syllables, *settings));

    const Hooks h = hooks();
    auto self = shared_from_this();
    std::vector<TimedGather::Lookup> lookups(2);
    if (settings->userDict)
        lookups[0] = [self, h, key] {
            if (h.beforeSubLookup) h.beforeSubLookup(SubLookup::userRows);
            std::vector<CodeTable> rows;
            self->userWordsByInitials(key, rows);
            return rows;
        };
    lookups[1] = [self, h, dagSql] {
        if (h.beforeSubLookup) h.beforeSubLookup(SubLookup::dagWords);
        return self->dagWordsForQuery(dagSql);
    };
    auto results = TimedGather::run(std::move(lookups), std::chrono::steady_clock::now() + h.predictionWait);

    std::vector<CodeTable> user = results[0] ? std::move(*results[0]) : std::vector<CodeTable>{};
    if (user.size() >= 2) {
        user.resize(2);
        return user;
    }
    const std::vector<CodeTable> dag = results[1] ? std::move(*results[1]) : std::vector<CodeTable>{};
    const auto present = makeSetFromCodeTables(user);
    const std::size_t wanted = 2 - user.size();
    for (std::size_t i = 0; i < wanted && i < dag.size(); ++i)
        if (!present.count(dag[i])) user.push_back(dag[i]);
    return user;
}

} // namespace taviro
