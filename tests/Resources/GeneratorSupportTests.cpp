#include "Resources/generators/GeneratorSupport.h"

#include "Platform/Foundation/Plist.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace taviro::resgen;
namespace fs = std::filesystem;

TEST(GeneratorSupport, NormalizesSyllableSpellings)
{
    const struct {
        const char* raw;
        const char* expected;
    } cases[] = {
        {"zhōng", "zhong"}, {"guó", "guo"},  {"lǜ", "lv"},     {"nǚ", "nv"},   {"lüè", "lue"},
        {"nve", "nue"},     {"lve", "lue"},  {"Xian1", "xian"}, {"ér", "er"},  {"yo", "yo"},
        {"lo", ""},         {"zh", ""},      {"ng", ""},       {"lvan", ""},   {"", ""},
        {"a-b", ""},        {"hm", ""},      {"fiao", "fiao"},
    };
    for (const auto& c : cases) EXPECT_EQ(normalizeSyllable(c.raw), c.expected) << c.raw;
}

TEST(GeneratorSupport, ParsesPinyinIntoModelSyllables)
{
    EXPECT_EQ(parsePinyin("zhong guo"), (std::vector<std::string>{"zhong", "guo"}));
    EXPECT_EQ(parsePinyin("kai'xin"), (std::vector<std::string>{"kai", "xin"}));
    EXPECT_EQ(parsePinyin("nve  er"), (std::vector<std::string>{"nue", "er"}));
    EXPECT_FALSE(parsePinyin("zhong lo"));
    EXPECT_FALSE(parsePinyin(""));
    EXPECT_FALSE(parsePinyin("  "));
}

TEST(GeneratorSupport, SplitsUtf8AndRecognisesHan)
{
    EXPECT_EQ(utf8Characters("中a国"), (std::vector<std::string>{"中", "a", "国"}));
    EXPECT_TRUE(utf8Characters("\xE4\xB8").empty()); // cut in the middle of a character
    EXPECT_FALSE(decodeUtf8("\xC0\x80"));            // overlong
    auto cps = decodeUtf8("〇中𠀀A");
    ASSERT_TRUE(cps);
    EXPECT_TRUE(isHanCodePoint((*cps)[0]));
    EXPECT_TRUE(isHanCodePoint((*cps)[1]));
    EXPECT_TRUE(isHanCodePoint((*cps)[2]));
    EXPECT_FALSE(isHanCodePoint((*cps)[3]));
}

TEST(GeneratorSupport, PlistTextReadsBackThroughThePlatformReader)
{
    const fs::path dir = taviro::test::freshDir("plist");
    const std::map<std::string, std::string> strings = {{"a&b", "<x>"}, {"quote", "\"'"}, {"中", "国"}};
    const std::map<std::string, std::vector<std::string>> arrays = {{"kai'xin", {"😁", "🥳"}}, {"empty", {}}};
    const std::map<std::string, double> reals = {{"de", 0.017}, {"zh", 7.4e-10}};
    ASSERT_TRUE(writePlist(dir / "s.plist", plat::stringMapToPlist(strings)));
    ASSERT_TRUE(writePlist(dir / "a.plist", plistArrayDictionary(arrays)));
    ASSERT_TRUE(writePlist(dir / "r.plist", plistRealDictionary(reals)));

    auto s = plat::readPlistFile(dir / "s.plist", plat::PlistValue::Type::Dictionary);
    ASSERT_TRUE(s);
    for (const auto& [k, v] : strings) EXPECT_EQ(s->find(k)->asString(), v) << k;
    auto a = plat::readPlistFile(dir / "a.plist", plat::PlistValue::Type::Dictionary);
    ASSERT_TRUE(a);
    ASSERT_NE(a->find("kai'xin"), nullptr);
    EXPECT_EQ(a->find("kai'xin")->size(), 2u);
    EXPECT_EQ(a->find("kai'xin")->at(1)->asString(), "🥳");
    auto r = plat::readPlistFile(dir / "r.plist", plat::PlistValue::Type::Dictionary);
    ASSERT_TRUE(r);
    EXPECT_DOUBLE_EQ(r->find("de")->asNumber(), 0.017);
    EXPECT_DOUBLE_EQ(r->find("zh")->asNumber(), 7.4e-10);
}

TEST(GeneratorSupport, AtomicWriteReplacesAndLeavesNoTemporaryFile)
{
    const fs::path dir = taviro::test::freshDir("atomic");
    ASSERT_TRUE(writeFileAtomically(dir / "f", "first"));
    ASSERT_TRUE(writeFileAtomically(dir / "f", "second"));
    EXPECT_EQ(readWholeFile(dir / "f"), "second");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    // A folder that cannot be created fails cleanly.
    std::ofstream(dir / "plain") << "x";
    EXPECT_FALSE(writeFileAtomically(dir / "plain" / "f", "x"));
}

TEST(GeneratorSupport, SqliteBuilderAppearsOnlyOnCommit)
{
    const fs::path dir = taviro::test::freshDir("sqlite");
    {
        SqliteBuilder db(dir / "dropped.db");
        ASSERT_TRUE(db.ok());
        EXPECT_TRUE(db.exec("CREATE TABLE t (x INTEGER);"));
    }
    EXPECT_TRUE(fs::is_empty(dir)); // no half file without commit
    SqliteBuilder db(dir / "kept.db");
    ASSERT_TRUE(db.exec("CREATE TABLE t (x INTEGER);"));
    EXPECT_FALSE(db.exec("not sql"));
    ASSERT_TRUE(db.commit());
    EXPECT_TRUE(fs::exists(dir / "kept.db"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST(GeneratorSupport, LexiconRoundTripsAndRejectsBadLines)
{
    const fs::path dir = taviro::test::freshDir("lexicon");
    const std::vector<LexiconEntry> entries = {{"中国", {"zhong", "guo"}, 107458}, {"的", {"de"}, 0}};
    ASSERT_TRUE(writeLexicon(dir / "l.tsv", entries));
    auto back = readLexicon(dir / "l.tsv");
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 2u);
    EXPECT_EQ((*back)[0].word, "中国");
    EXPECT_EQ((*back)[0].syllables, (std::vector<std::string>{"zhong", "guo"}));
    EXPECT_EQ((*back)[0].weight, 107458);
    ASSERT_TRUE(writeFileAtomically(dir / "bad.tsv", "中国\tzhong guo\t12x\n"));
    EXPECT_FALSE(readLexicon(dir / "bad.tsv"));
    EXPECT_FALSE(readLexicon(dir / "missing.tsv"));
}

TEST(GeneratorSupport, UnihanReadingsGatherEveryFieldAndTheStandardSet)
{
    // Lines in the forms Unihan_Readings.txt uses for each field.
    const std::string text = "# comment\n"
                             "U+6C49\tkHanyuPinlu\thàn(227)\n"
                             "U+6C49\tkMandarin\thàn\n"
                             "U+6C49\tkTGHZ2013\t130.160:hàn\n"
                             "U+4E07\tkTGHZ2013\t242.120:mò 318.040:wàn\n"
                             "U+4E07\tkXHC1983\t0780.010,0781.020:mò\n"
                             "U+59B3\tkHanyuPinyin\t10949.060:nǐ,nǎi\n"
                             "U+59B3\tkDefinition\tyou (feminine)\n"
                             "U+5F8C\tkMandarin\thòu\n"
                             "U+55EF\tkMandarin\tń\n";
    const UnihanReadings u = readUnihanReadings(text);
    const struct {
        char32_t cp;
        bool standard;
        std::set<std::string> readings;
    } cases[] = {
        {U'汉', true, {"han"}},
        {U'万', true, {"mo", "wan"}},
        {U'妳', false, {"ni", "nai"}},
        {U'後', false, {"hou"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(u.isStandard(c.cp), c.standard) << static_cast<unsigned>(c.cp);
        ASSERT_TRUE(u.all.count(c.cp)) << static_cast<unsigned>(c.cp);
        EXPECT_EQ(u.all.at(c.cp), c.readings) << static_cast<unsigned>(c.cp);
    }
    EXPECT_EQ(u.standard.at(U'万'), (std::set<std::string>{"mo", "wan"}));
    EXPECT_TRUE(u.isStandardText("汉万"));
    EXPECT_FALSE(u.isStandardText("妳好"));
    EXPECT_FALSE(u.allowsReading(U'汉', "nv"));
    EXPECT_TRUE(u.allowsReading(U'汉', "han"));
    EXPECT_TRUE(u.allowsReading(U'中', "zhong")); // no readings known: nothing to refuse
    EXPECT_TRUE(u.allowsReading(U'嗯', "en"));    // only readings outside the model
}
