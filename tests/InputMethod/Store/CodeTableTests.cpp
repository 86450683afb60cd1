#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "InputMethod/Core/Database/CodeTable.h"
#include "InputMethod/Core/Database/CodeTableLists.h"

namespace taviro {
namespace {

using From = CodeTableFromType;

TEST(CodeTable, IdentityIsTheWordAlone) {
    CodeTable a("ab", "词", 5, From::user);
    CodeTable b("xyz", "词", 9, From::custom);
    b.assistedCode = "q";
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<CodeTable>{}(a), std::hash<CodeTable>{}(b));
    EXPECT_EQ(CodeTable(), CodeTable("code", ""));
    EXPECT_NE(CodeTable("a", "词"), CodeTable("a", "字"));
}

TEST(CodeTable, SetKeepsTheFirstRecordOfAWord) {
    auto set = makeSetFromCodeTables({CodeTable("a", "p", 5), CodeTable("f", "p", 9), CodeTable("b", "q", 1)});
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(set.find(CodeTable("", "p"))->weight, 5);

    auto [added, member] = insertIntoCodeTableSet(set, CodeTable("g", "p", 7));
    EXPECT_FALSE(added);
    EXPECT_EQ(member.code, "a");
    auto [added2, member2] = insertIntoCodeTableSet(set, CodeTable("h", "r", 7));
    EXPECT_TRUE(added2);
    EXPECT_EQ(member2.code, "h");
}

TEST(CodeTable, CopyIsIndependent) {
    CodeTable original("code", "词", 2, From::user);
    CodeTable copy = original;
    copy.code = "other";
    copy.from.insert(From::assisted);
    EXPECT_EQ(original.code, "code");
    EXPECT_EQ(original.from, From::user);
}

TEST(CodeTableFromType, Members) {
    EXPECT_EQ(From{}.rawValue, 0);
    EXPECT_TRUE(From({}).isEmpty());
    EXPECT_TRUE(From::user.contains(From{}));
    EXPECT_TRUE(From::textReplacement.contains(From::custom));
    EXPECT_TRUE(From::textReplacement.contains(From::mainCodeTable));
    EXPECT_FALSE(From::textReplacement.contains(From::user));
    EXPECT_EQ((From::user | From::mainCodeTable).rawValue, 3);
    EXPECT_EQ(From({From::english, From::emoji}).rawValue, 24);
}

TEST(CodeTableFromType, Algebra) {
    From s{5};  // user + custom
    EXPECT_EQ(s.intersection(From{6}).rawValue, 4);
    EXPECT_EQ(s.symmetricDifference(From{6}).rawValue, 3);
    EXPECT_EQ(s.subtracting(From::custom).rawValue, 1);
    EXPECT_TRUE(From::user.isSubset(s));
    EXPECT_TRUE(s.isSuperset(From::user));
    EXPECT_TRUE(s.isDisjoint(From::english));

    auto [missing, m] = s.insert(From::user);
    EXPECT_FALSE(missing);
    EXPECT_EQ(m, From::user);
    EXPECT_TRUE(s.insert(From::assisted).first);
    EXPECT_EQ(s.rawValue, 37);

    EXPECT_EQ(s.remove(From{3}), std::nullopt);  // mainCodeTable was not set
    EXPECT_EQ(s.rawValue, 36);
    EXPECT_EQ(s.remove(From::custom), From::custom);
    EXPECT_EQ(s.rawValue, 32);

    EXPECT_EQ(s.update(From::english), std::nullopt);
    EXPECT_EQ(s.update(From{48}), From{48});
}

TEST(CodeTableLists, MergeDropsWordsOfTheFirstListOnly) {
    std::vector<CodeTable> x = {CodeTable("a", "p"), CodeTable("b", "q")};
    std::vector<CodeTable> y = {CodeTable("c", "q"), CodeTable("d", "r"), CodeTable("e", "r")};
    auto merged = mergeWithoutDuplicates(x, y);
    std::vector<std::string> codes;
    for (const auto& r : merged) codes.push_back(r.code);
    EXPECT_EQ(codes, (std::vector<std::string>{"a", "b", "d", "e"}));
}

TEST(CodeTableLists, SortAndSlice) {
    std::vector<CodeTable> v = {CodeTable("", "a", 1), CodeTable("", "b", 3), CodeTable("", "c", 2)};
    sortByWeight(v);
    EXPECT_EQ(v[0].table, "b");
    EXPECT_EQ(v[1].table, "c");
    EXPECT_EQ(v[2].table, "a");
    EXPECT_EQ(arraySliceToArray(v, 1, 10).size(), 2u);
    EXPECT_TRUE(arraySliceToArray(v, 5, 9).empty());
}

TEST(CodeTableLists, IntToString) {
    EXPECT_EQ(intToString(-7), "-7");
    EXPECT_EQ(intToString(0), "0");
    EXPECT_EQ(intToString(1234567), "1234567");
}

TEST(CodeTableLists, WeightTexts) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"12.5", 12.5}, {"1e3", 1000}, {"-4", -4}, {"+2", 2}, {"0x10", 16},
        {"", std::nullopt}, {" 12", std::nullopt}, {"\t12", std::nullopt}, {"12 ", std::nullopt},
        {"12abc", std::nullopt}, {"1,5", std::nullopt}, {"abc", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(weightFromText(c.text), c.value);
    }
    ASSERT_TRUE(weightFromText("nan").has_value());
    EXPECT_TRUE(std::isnan(*weightFromText("nan")));
    EXPECT_EQ(weightFromText(std::string_view("1\0" "2", 3)), std::nullopt);
}

} // namespace
} // namespace taviro
