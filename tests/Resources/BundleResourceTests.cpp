// Shapes and invariants of the generated bundle files, read the way the input
// method and the preferences application read them.

#include "InputMethod/Core/PyString.h"
#include "Platform/Foundation/Plist.h"
#include "Resources/generators/GeneratorSupport.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

using taviro::PyString;
namespace fs = std::filesystem;

namespace {

const fs::path kTaviro = TAVIRO_RESOURCE_DIR;
const fs::path kKelvane = KELVANE_RESOURCE_DIR;

using Rows = std::vector<std::vector<std::string>>;

// A connection closed on scope exit.
class Db {
public:
    explicit Db(const fs::path& path, bool readOnly = true)
    {
        if (sqlite3_open_v2(path.c_str(), &db_, readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK) {
            sqlite3_close(db_);
            db_ = nullptr;
        }
    }
    ~Db() { sqlite3_close(db_); }
    bool ok() const { return db_ != nullptr; }

    // All rows as text (NULL as "<null>"); values bound as text.
    Rows query(const std::string& sql, const std::vector<std::string>& args = {}) const
    {
        Rows rows;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db_) << " in " << sql;
            return rows;
        }
        for (std::size_t i = 0; i < args.size(); ++i)
            sqlite3_bind_text(st, static_cast<int>(i + 1), args[i].c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                auto t = sqlite3_column_text(st, c);
                row.emplace_back(t ? reinterpret_cast<const char*>(t) : "<null>");
            }
            rows.push_back(std::move(row));
        }
        sqlite3_finalize(st);
        return rows;
    }
    bool exec(const std::string& sql) const { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK; }

private:
    sqlite3* db_ = nullptr;
};

std::size_t characterCount(const std::string& s)
{
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

struct WordRecord {
    std::string word;
    double weight;
};

// The dag.db reader: join the "Word" values each preceded by "|", split at
// "|" dropping empty pieces, read word/weight pairs; a weight must be a whole
// C-locale number. `malformed` counts pieces that break these rules.
std::vector<WordRecord> parseWordColumn(const Rows& rows, int* malformed = nullptr)
{
    std::string joined;
    for (const auto& r : rows) joined += "|" + r[0];
    std::vector<std::string> pieces;
    std::size_t pos = 0;
    while (pos <= joined.size()) {
        auto end = joined.find('|', pos);
        if (end == std::string::npos) end = joined.size();
        if (end > pos) pieces.push_back(joined.substr(pos, end - pos));
        pos = end + 1;
    }
    std::vector<WordRecord> out;
    for (std::size_t i = 0; i + 1 < pieces.size(); i += 2) {
        const std::string& w = pieces[i + 1];
        double v = 0;
        auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
        if (ec != std::errc{} || p != w.data() + w.size()) {
            if (malformed) ++*malformed;
            continue;
        }
        out.push_back({pieces[i], v});
    }
    if (pieces.size() % 2 && malformed) ++*malformed;
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.weight > b.weight; });
    return out;
}

// The condition the store builds for full syllables: p1 in ('c') and p2 in ('c') ...
std::string listCondition(const std::vector<std::string>& syllables)
{
    std::string cond = " ";
    for (std::size_t i = 0; i < syllables.size(); ++i) {
        auto code = PyString::syllableCodeForText(syllables[i]);
        EXPECT_TRUE(code) << syllables[i];
        cond += "p" + std::to_string(i + 1) + " in ('" + std::to_string(code.value_or(0)) + "') and ";
    }
    return cond.substr(0, cond.size() - 4);
}

std::vector<WordRecord> dagWords(const Db& db, const std::string& table, const std::string& condition)
{
    return parseWordColumn(db.query("SELECT Word FROM \"" + table + "\" WHERE " + condition + " "));
}

std::ptrdiff_t rankOf(const std::vector<WordRecord>& records, const std::string& word)
{
    auto it = std::find_if(records.begin(), records.end(), [&](const auto& r) { return r.word == word; });
    return it == records.end() ? -1 : it - records.begin();
}

std::optional<plat::PlistValue> readDictionary(const fs::path& path)
{
    return plat::readPlistFile(path, plat::PlistValue::Type::Dictionary);
}

bool isSyllableOrInitial(const std::string& text) { return PyString::syllableCodeForText(text).has_value(); }

// The Unihan readings the generators used (unpacked in the build folder).
const taviro::resgen::UnihanReadings& unihan()
{
    static const taviro::resgen::UnihanReadings readings = [] {
        auto text = plat::readWholeFile(RES_UNIHAN_FILE);
        EXPECT_TRUE(text) << RES_UNIHAN_FILE;
        return taviro::resgen::readUnihanReadings(text.value_or(""));
    }();
    return readings;
}

} // namespace

TEST(BundleResources, EveryFileIsThere)
{
    for (const char* name : {"dag.db", "english.db", "custom.db", "py2hz.plist", "pyfreq.plist", "emoji.plist",
                             "vk_to_us.plist", "Info.plist"})
        EXPECT_TRUE(fs::is_regular_file(kTaviro / name)) << name;
    for (const char* name : {"codetable.database", "assist.database", "BootButtons.plist"})
        EXPECT_TRUE(fs::is_regular_file(kKelvane / name)) << name;
}

TEST(BundleResources, Py2hzKeysAreSyllablesInitialsOrLetters)
{
    auto table = readDictionary(kTaviro / "py2hz.plist");
    ASSERT_TRUE(table);
    for (const auto& [key, value] : *table->asDictionary()) {
        EXPECT_TRUE(isSyllableOrInitial(key) || key == "i" || key == "u" || key == "v") << key;
        ASSERT_TRUE(value.isString()) << key;
        EXPECT_FALSE(value.asString().empty()) << key;
    }
    // Every single letter has characters, as the one-key lookups expect.
    for (char c = 'a'; c <= 'z'; ++c) EXPECT_TRUE(table->contains(std::string(1, c))) << c;
    for (const auto& initial : PyString::bareInitials()) EXPECT_TRUE(table->contains(initial.text)) << initial.text;
    EXPECT_EQ(table->find("i")->asString(), table->find("ch")->asString());
    EXPECT_EQ(table->find("u")->asString(), table->find("sh")->asString());
    EXPECT_EQ(table->find("v")->asString(), table->find("zh")->asString());
}

TEST(BundleResources, Py2hzPutsCommonCharactersFirst)
{
    auto table = readDictionary(kTaviro / "py2hz.plist");
    ASSERT_TRUE(table);
    const struct {
        const char* key;
        const char* common; // among the first three characters
        const char* rare;   // a character of the same reading, after it
    } cases[] = {
        {"de", "的", "锝"}, {"shi", "是", "莳"}, {"zhong", "中", "舯"}, {"guo", "国", "埚"},
        {"wo", "我", "肟"}, {"lv", "绿", "稆"},  {"nue", "虐", "疟"},   {"b", "不", "钵"},
    };
    for (const auto& c : cases) {
        const auto* entry = table->find(c.key);
        ASSERT_NE(entry, nullptr) << c.key;
        const std::string chars = entry->asString();
        const auto common = chars.find(c.common);
        EXPECT_LT(characterCount(chars.substr(0, common)), 3u) << c.key << ": " << chars.substr(0, 30);
        const auto rare = chars.find(c.rare);
        EXPECT_TRUE(rare == std::string::npos || rare > common) << c.key;
    }
}

TEST(BundleResources, Py2hzListsOnlyReadingsUnihanGives)
{
    auto table = readDictionary(kTaviro / "py2hz.plist");
    ASSERT_TRUE(table);
    ASSERT_EQ(unihan().standard.size(), taviro::resgen::kStandardSetSize);
    // Stray readings of the traditional word list that once slipped through.
    const struct {
        const char* key;
        const char* character;
        bool listed;
    } cases[] = {{"han", "汉", true}, {"nv", "汉", false}, {"rong", "荣", true}, {"ce", "荣", false},
                 {"en", "嗯", true}}; // Unihan reads 嗯 only "ng", outside the model: the word list's reading stays
    for (const auto& c : cases) {
        const auto* entry = table->find(c.key);
        ASSERT_NE(entry, nullptr) << c.key;
        EXPECT_EQ(entry->asString().find(c.character) != std::string::npos, c.listed) << c.key << " " << c.character;
    }
    std::size_t checked = 0;
    for (const auto& [key, value] : *table->asDictionary()) {
        const auto code = PyString::syllableCodeForText(key);
        if (!code || PyString::isBareInitialCode(*code)) continue; // initials and letters gather many syllables
        for (char32_t cp : taviro::resgen::decodeUtf8(value.asString()).value_or(std::vector<char32_t>{})) {
            ++checked;
            EXPECT_TRUE(unihan().isStandard(cp)) << key << " U+" << std::hex << static_cast<unsigned>(cp);
            EXPECT_TRUE(unihan().allowsReading(cp, key)) << key << " U+" << std::hex << static_cast<unsigned>(cp);
        }
    }
    EXPECT_GT(checked, taviro::resgen::kStandardSetSize);
}

TEST(BundleResources, PyfreqCoversTheInventoryWithProbabilities)
{
    auto table = readDictionary(kTaviro / "pyfreq.plist");
    ASSERT_TRUE(table);
    double lowestSyllable = 1, highestInitial = 0;
    for (const auto& [key, value] : *table->asDictionary()) {
        ASSERT_TRUE(isSyllableOrInitial(key)) << key;
        ASSERT_TRUE(value.isNumber()) << key;
        const double f = value.asNumber();
        EXPECT_GT(f, 0) << key;
        EXPECT_LT(f, 1) << key;
        if (PyString::isBareInitialCode(*PyString::syllableCodeForText(key))) highestInitial = std::max(highestInitial, f);
        else lowestSyllable = std::min(lowestSyllable, f);
    }
    for (const auto& s : PyString::allSyllables()) EXPECT_TRUE(table->contains(s.text)) << s.text;
    // Bare initials only fill gaps that no syllable covers.
    EXPECT_LT(highestInitial, lowestSyllable);
    // Splits into fewer, longer syllables win where the text is a word.
    auto f = [&](const char* k) { return table->find(k)->asNumber(); };
    EXPECT_GT(f("xian"), f("xi") * f("an"));
    EXPECT_GT(f("zhuang"), f("zhu") * f("ang"));
    EXPECT_GT(f("de"), f("fiao"));
}

TEST(BundleResources, DagTablesHoldValidCodesAndParsableWords)
{
    Db db(kTaviro / "dag.db");
    ASSERT_TRUE(db.ok());
    for (int n = 1; n <= 7; ++n) {
        const std::string table = "w" + std::to_string(n);
        std::string cols;
        for (int i = 1; i <= n; ++i) cols += "p" + std::to_string(i) + ",";
        const Rows rows = db.query("SELECT " + cols + "Word FROM \"" + table + "\"");
        EXPECT_GT(rows.size(), 100u) << table;
        int malformed = 0;
        std::size_t bad = 0;
        for (const auto& r : rows) {
            for (int i = 0; i < n; ++i) {
                const int code = std::atoi(r[i].c_str());
                if (!PyString::isSyllableCode(code) || PyString::isBareInitialCode(code)) ++bad;
            }
            const auto records = parseWordColumn({{r[n]}}, &malformed);
            if (records.size() != 1 || characterCount(records[0].word) != static_cast<std::size_t>(n) ||
                records[0].weight < 0)
                ++bad;
        }
        EXPECT_EQ(bad, 0u) << table;
        EXPECT_EQ(malformed, 0) << table;
        // The columns compare numerically, as the quoted codes of the lookups need.
        EXPECT_EQ(db.query("SELECT count(*) FROM \"" + table + "\" WHERE typeof(p1) != 'integer'")[0][0], "0");
    }
}

TEST(BundleResources, AbbreviationRowsMatchTheInitialsOfTheirWords)
{
    Db db(kTaviro / "dag.db");
    ASSERT_TRUE(db.ok());
    // One typed key per syllable: the initial; without an initial, the first
    // letter's syllable or the zero initial 0.
    auto keyCodes = [](int code) -> std::vector<int> {
        if (const int initial = taviro::initialOf(code)) return {initial};
        return {*PyString::syllableCodeForText(PyString::syllableTextForCode(code).substr(0, 1)), 0};
    };
    for (int n = 2; n <= 5; ++n) {
        std::string cols;
        for (int i = 1; i <= n; ++i) cols += "p" + std::to_string(i) + ",";
        // Every reading of each word, as its initials.
        std::map<std::string, std::set<std::vector<int>>> initialsOf;
        for (const auto& r : db.query("SELECT " + cols + "Word FROM \"w" + std::to_string(n) + "\"")) {
            std::vector<std::vector<int>> variants{{}};
            for (int i = 0; i < n; ++i) {
                std::vector<std::vector<int>> next;
                for (const auto& v : variants)
                    for (int c : keyCodes(std::atoi(r[i].c_str()))) {
                        next.push_back(v);
                        next.back().push_back(c);
                    }
                variants = std::move(next);
            }
            initialsOf[parseWordColumn({{r[n]}})[0].word].insert(variants.begin(), variants.end());
        }
        const Rows rows = db.query("SELECT " + cols + "Word FROM \"jw" + std::to_string(n) + "\"");
        EXPECT_GT(rows.size(), 100u);
        std::size_t mismatches = 0;
        for (const auto& r : rows) {
            std::vector<int> codes;
            for (int i = 0; i < n; ++i) codes.push_back(std::atoi(r[i].c_str()));
            const auto records = parseWordColumn({{r[n]}});
            ASSERT_EQ(records.size(), 1u);
            auto it = initialsOf.find(records[0].word);
            if (it == initialsOf.end() || !it->second.count(codes)) ++mismatches;
        }
        EXPECT_EQ(mismatches, 0u) << "jw" << n;
    }
}

TEST(BundleResources, WellKnownWordsRankAboveRareHomophones)
{
    Db db(kTaviro / "dag.db");
    ASSERT_TRUE(db.ok());
    const struct {
        std::vector<std::string> syllables;
        const char* word;
        const char* rarer;
    } cases[] = {
        {{"de"}, "的", "锝"},
        {{"zhong", "guo"}, "中国", "种过"},
        {{"shi", "jian"}, "时间", "尸检"},
        {{"wo", "men"}, "我们", nullptr},
        {{"ni", "hao"}, "你好", nullptr},
        {{"bei", "jing"}, "北京", "背景"},
        {{"dian", "nao"}, "电脑", nullptr},
        {{"ji", "suan", "ji"}, "计算机", nullptr},
        {{"zhong", "hua", "ren", "min", "gong", "he", "guo"}, "中华人民共和国", nullptr},
        {{"lv", "se"}, "绿色", nullptr},
        {{"lue", "wei"}, "略微", nullptr},
    };
    for (const auto& c : cases) {
        const auto records =
            dagWords(db, "w" + std::to_string(c.syllables.size()), listCondition(c.syllables));
        const auto rank = rankOf(records, c.word);
        EXPECT_EQ(rank, 0) << c.word;
        if (c.rarer) {
            const auto rarer = rankOf(records, c.rarer);
            EXPECT_GT(rarer, rank) << c.rarer;
        }
    }
}

TEST(BundleResources, WordsOutsideTheStandardSetRankBelowStandardWords)
{
    Db db(kTaviro / "dag.db");
    ASSERT_TRUE(db.ok());
    ASSERT_EQ(unihan().standard.size(), taviro::resgen::kStandardSetSize);
    // Variant and dialect characters that once ranked high.
    const struct {
        std::vector<std::string> syllables;
        const char* standard;
        const char* variant;
    } cases[] = {
        {{"ni", "hao"}, "你好", "妳好"}, {{"hou"}, "后", "後"}, {{"mao"}, "毛", "冇"}, {{"xian"}, "先", "咁"},
    };
    for (const auto& c : cases) {
        const auto records = dagWords(db, "w" + std::to_string(c.syllables.size()), listCondition(c.syllables));
        const auto variant = rankOf(records, c.variant);
        EXPECT_LT(rankOf(records, c.standard), 5) << c.standard;
        EXPECT_TRUE(variant == -1 || variant > rankOf(records, c.standard)) << c.variant;
        // Every standard word of the key comes first.
        bool seenOther = false;
        for (const auto& r : records) {
            const bool standard = unihan().isStandardText(r.word);
            EXPECT_FALSE(standard && seenOther) << r.word << " after a non-standard word";
            seenOther = seenOther || !standard;
        }
    }
    // The code-table ranks too: all standard words before any other.
    const Rows ranks = db.query("SELECT \"Table\" FROM CodeTable ORDER BY Weight");
    ASSERT_GT(ranks.size(), 100000u);
    std::size_t firstOther = ranks.size(), lastStandard = 0, others = 0;
    for (std::size_t i = 0; i < ranks.size(); ++i) {
        if (unihan().isStandardText(ranks[i][0])) {
            lastStandard = i;
        } else {
            firstOther = std::min(firstOther, i);
            ++others;
        }
    }
    EXPECT_GT(others, 0u);
    EXPECT_LT(lastStandard, firstOther);
}

TEST(BundleResources, LastBareInitialMatchesByRange)
{
    Db db(kTaviro / "dag.db");
    ASSERT_TRUE(db.ok());
    // zhong + g (code 3985, then the g range 2304..2559), as the store writes it.
    ASSERT_EQ(PyString::syllableCodeForText("zhong"), 3985);
    const auto words = dagWords(db, "w2", " p1 in ('3985') and p2 >= '2304' and p2 < '2559'     ");
    EXPECT_EQ(rankOf(words, "中国"), 0);
    // Abbreviated: zh then g.
    const auto abbreviated = dagWords(db, "jw2", " p1 in ('3968') and p2 >= '2304' and p2 < '2559'     ");
    EXPECT_GE(rankOf(abbreviated, "中国"), 0);
    EXPECT_LT(rankOf(abbreviated, "中国"), 2);
    // A syllable without an initial: its first letter's syllable (a = 28) or the zero initial 0.
    for (const char* first : {"28", "0"}) {
        const auto words = dagWords(db, "jw2", std::string(" p1 in ('") + first + "') and p2 >= '2304' and p2 < '2559'     ");
        EXPECT_GE(rankOf(words, "爱国"), 0) << first;
    }
    // A bare z also reaches zh words; a bare zh reaches no z word.
    EXPECT_GE(rankOf(dagWords(db, "w1", " p1 >= '3840' and p1 < '4095'     "), "中"), 0);
    EXPECT_EQ(rankOf(dagWords(db, "w1", " p1 >= '3968' and p1 < '4031'     "), "在"), -1);
}

TEST(BundleResources, DagCodeTableServesFullPinyinCodes)
{
    Db db(kTaviro / "dag.db");
    ASSERT_TRUE(db.ok());
    const struct {
        const char* code;
        const char* first;
    } cases[] = {{"zhongguo", "中国"}, {"shijian", "时间"}, {"de", "的"}, {"nihao", "你好"}};
    for (const auto& c : cases) {
        const Rows exact = db.query("SELECT \"Code\",\"Table\" FROM CodeTable WHERE Code=? ORDER BY Weight", {c.code});
        ASSERT_FALSE(exact.empty()) << c.code;
        EXPECT_EQ(exact[0][1], c.first) << c.code;
    }
    // The prefix form leaves the exact code out and stays inside the range.
    const Rows longer = db.query(
        "SELECT \"Code\",\"Table\" FROM CodeTable WHERE Code > ? and Code < ? ORDER BY Weight", {"zhongg", "zhonggzzzzzzzzzz"});
    ASSERT_FALSE(longer.empty());
    EXPECT_EQ(longer[0][1], "中国");
    for (const auto& r : longer) EXPECT_EQ(r[0].rfind("zhongg", 0), 0u) << r[0];
    EXPECT_EQ(db.query("SELECT count(*) FROM CodeTable WHERE typeof(Weight) != 'integer'")[0][0], "0");
    EXPECT_EQ(db.query("SELECT count(*) FROM CodeTable WHERE Code GLOB '*[^a-z]*' OR Code = ''")[0][0], "0");
}

TEST(BundleResources, EnglishWordsByPrefixAndExactCode)
{
    Db db(kTaviro / "english.db");
    ASSERT_TRUE(db.ok());
    const std::string upper(20, 'z');
    const Rows prefix = db.query(
        "SELECT \"Table\",\"Code\" FROM CodeTable WHERE Code >= ? and Code < ? ORDER BY Weight", {"hell", "hell" + upper});
    ASSERT_FALSE(prefix.empty());
    EXPECT_TRUE(std::any_of(prefix.begin(), prefix.end(), [](const auto& r) { return r[0] == "hello"; }));
    for (const auto& r : prefix) EXPECT_EQ(r[1].rfind("hell", 0), 0u);
    // Common short words come before long rare ones.
    EXPECT_EQ(prefix[0][0].size(), 4u);

    const Rows exact = db.query("SELECT \"Table\",\"Code\" FROM CodeTable WHERE Code=? ORDER BY Weight", {"paris"});
    ASSERT_FALSE(exact.empty());
    EXPECT_EQ(exact[0][0], "Paris");
    // Romanised Chinese never competes with the Chinese words of its pinyin.
    for (const char* code : {"beijing", "shanghai", "shanghais", "nanjing"})
        EXPECT_TRUE(db.query("SELECT \"Table\" FROM CodeTable WHERE Code=?", {code}).empty()) << code;
    EXPECT_TRUE(db.query("SELECT \"Table\" FROM CodeTable WHERE \"Table\"='Wang'").empty());
    for (const char* code : {"women", "hang", "change"})
        EXPECT_FALSE(db.query("SELECT \"Table\" FROM CodeTable WHERE Code=?", {code}).empty()) << code;
    EXPECT_EQ(db.query("SELECT count(*) FROM CodeTable WHERE Code != lower(\"Table\")")[0][0], "0");
    EXPECT_EQ(db.query("SELECT count(*) FROM CodeTable WHERE typeof(Weight) != 'integer'")[0][0], "0");
}

TEST(BundleResources, UsLayoutByVirtualKeyCode)
{
    auto table = readDictionary(kTaviro / "vk_to_us.plist");
    ASSERT_TRUE(table);
    const struct {
        const char* code;
        const char* chars;
    } cases[] = {{"0", "aA"}, {"1", "sS"}, {"6", "zZ"}, {"12", "qQ"}, {"18", "1!"}, {"29", "0)"}, {"27", "-_"},
                 {"39", "'\""}, {"41", ";:"}, {"42", "\\|"}, {"49", " "}, {"50", "`~"}, {"82", "0"}, {"92", "9"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(table->contains(c.code)) << c.code;
        EXPECT_EQ(table->find(c.code)->asString(), c.chars) << c.code;
    }
    for (const auto& [key, value] : *table->asDictionary()) {
        EXPECT_EQ(std::to_string(std::atoi(key.c_str())), key); // decimal, no leading zeros
        EXPECT_FALSE(value.asString().empty()) << key;
    }
    // Non-printing keys have no entry, so their events pass through.
    for (const char* code : {"36", "48", "51", "53", "56"}) EXPECT_FALSE(table->contains(code)) << code;
}

TEST(BundleResources, EmojiKeysAreJoinedSyllables)
{
    auto table = readDictionary(kTaviro / "emoji.plist");
    ASSERT_TRUE(table);
    EXPECT_GT(table->size(), 500u);
    for (const auto& [key, value] : *table->asDictionary()) {
        std::size_t pieces = 0, pos = 0;
        while (pos <= key.size()) {
            auto end = std::min(key.find('\'', pos), key.size());
            EXPECT_TRUE(PyString::syllableCodeForText(key.substr(pos, end - pos)).has_value()) << key;
            ++pieces;
            pos = end + 1;
        }
        EXPECT_GE(pieces, 2u) << key;
        ASSERT_TRUE(value.isArray()) << key;
        EXPECT_GT(value.size(), 0u) << key;
        for (const auto& e : *value.asArray()) EXPECT_FALSE(e.asString().empty()) << key;
    }
    for (const char* key : {"kai'xin", "xiao'lian", "ai'xin"}) EXPECT_TRUE(table->contains(key)) << key;
}

TEST(BundleResources, InfoPlistCarriesIdentifierAndVersion)
{
    auto info = readDictionary(kTaviro / "Info.plist");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->find("CFBundleIdentifier")->asString(), "com.quorvel.inputmethod.TaviroMac2");
    EXPECT_EQ(info->find("CFBundleVersion")->asString(), TAVIRO_PROJECT_VERSION);
    EXPECT_EQ(info->find("CFBundleShortVersionString")->asString(), TAVIRO_PROJECT_VERSION);
}

namespace {

struct Column {
    std::string name;
    std::string type;
};

std::vector<Column> columnsOf(const Db& db, const std::string& table)
{
    std::vector<Column> out;
    for (const auto& r : db.query("PRAGMA table_info(\"" + table + "\")")) out.push_back({r[1], r[2]});
    return out;
}

} // namespace

TEST(BundleResources, TemplatesHaveTheirSchemasAndNoRows)
{
    const struct {
        fs::path file;
        const char* table;
        std::vector<std::string> columns;
        const char* index;
    } cases[] = {
        {kTaviro / "custom.db", "CodeTable", {"Code", "Table", "Weight"}, "CodeTable_index"},
        {kKelvane / "codetable.database", "CodeTable", {"Code", "Table", "Weight"}, "CodeTable_index"},
        {kKelvane / "assist.database", "CodeTable", {"Code", "Table", "Weight"}, "CodeTable_index"},
        {kKelvane / "assist.database", "TableCode", {"Table", "Code", "Weight"}, "TableCode_index"},
    };
    for (const auto& c : cases) {
        Db db(c.file);
        ASSERT_TRUE(db.ok()) << c.file;
        std::vector<std::string> names;
        for (const auto& col : columnsOf(db, c.table)) names.push_back(col.name);
        EXPECT_EQ(names, c.columns) << c.file << " " << c.table;
        EXPECT_EQ(db.query("SELECT count(*) FROM \"" + std::string(c.table) + "\"")[0][0], "0") << c.file;
        EXPECT_EQ(db.query("SELECT count(*) FROM sqlite_master WHERE type='index' AND name=?", {c.index})[0][0], "1")
            << c.file << " " << c.index;
    }
}

TEST(BundleResources, ImportedTextWeightsSortNumerically)
{
    // What the code-table importer does to a fresh copy of the template.
    const fs::path dir = taviro::test::freshDir("template");
    for (const fs::path& source : {kKelvane / "codetable.database", kTaviro / "custom.db"}) {
        const fs::path copy = dir / source.filename();
        fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
        Db db(copy, false);
        ASSERT_TRUE(db.ok());
        ASSERT_TRUE(db.exec("BEGIN EXCLUSIVE"));
        ASSERT_TRUE(db.exec("insert into CodeTable values ('wq','你','1000001')"));
        ASSERT_TRUE(db.exec("insert into CodeTable values ('wq','他','12')"));
        ASSERT_TRUE(db.exec("insert into CodeTable values ('wq','它','')"));
        ASSERT_TRUE(db.exec("reindex CodeTable_index"));
        ASSERT_TRUE(db.exec("COMMIT"));
        const Rows rows = db.query("SELECT \"Code\",\"Table\" FROM CodeTable WHERE Code=? ORDER BY Weight", {"wq"});
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[0][1], "他") << source;
        EXPECT_EQ(rows[1][1], "你") << source;
    }
    const fs::path assist = dir / "assist.database";
    fs::copy_file(kKelvane / "assist.database", assist);
    Db db(assist, false);
    ASSERT_TRUE(db.exec("insert into TableCode values ('阿','ab',0)"));
    ASSERT_TRUE(db.exec("insert into CodeTable values ('ab','阿啊',0)"));
    EXPECT_EQ(db.query("SELECT \"Code\" FROM TableCode WHERE \"Table\"=?", {"阿"})[0][0], "ab");
    EXPECT_EQ(db.query("SELECT \"Table\" FROM CodeTable WHERE Code=?", {"ab"})[0][0], "阿啊");
}
