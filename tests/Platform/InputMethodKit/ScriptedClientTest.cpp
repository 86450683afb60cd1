#include "Platform/InputMethodKit/ScriptedClient.h"
#include "Platform/InputMethodKit/Utf16.h"

#include <gtest/gtest.h>

namespace {

using namespace plat;

TEST(ScriptedClient, MarkedTextIsReplacedByTheCommit) {
    ScriptedClient c;
    c.setText("ab");
    c.setMarkedText("ni", {}, TextRange::notFound(), TextRange::notFound());
    EXPECT_EQ(c.markedRange(), (TextRange{2, 2}));
    c.setMarkedText("nihao", {}, TextRange::notFound(), TextRange::notFound());
    EXPECT_EQ(c.text(), "abnihao");
    c.insertText("你好", TextRange::notFound());
    EXPECT_EQ(c.text(), "ab你好");
    EXPECT_EQ(c.markedRange(), (TextRange{kNotFound, 0}));
    EXPECT_EQ(c.selectedRange(), (TextRange{4, 0}));
    c.setMarkedText("x", {}, TextRange::notFound(), TextRange::notFound());
    c.setMarkedText("", {}, TextRange::notFound(), TextRange::notFound());
    EXPECT_EQ(c.text(), "ab你好");
    EXPECT_EQ(c.insertions(), (std::vector<std::string>{"你好"}));
}

TEST(ScriptedClient, RangesCountUtf16Units) {
    ScriptedClient c;
    c.setText("a😀你");  // 1 + 2 + 1 units
    EXPECT_EQ(c.selectedRange(), (TextRange{4, 0}));
    EXPECT_EQ(c.stringFromRange({1, 2}, nullptr), "😀");
    TextRange actual;
    EXPECT_EQ(c.stringFromRange({3, 50}, &actual), "你");
    EXPECT_EQ(actual, (TextRange{3, 1}));
    EXPECT_EQ(c.stringFromRange({0, -1}, nullptr), std::nullopt);
    c.setGivesText(false);
    EXPECT_EQ(c.stringFromRange({0, 1}, nullptr), std::nullopt);
}

TEST(ScriptedClient, SyntheticKeysEditLikeAnEditor) {
    ScriptedClient c;
    c.setText("《》");
    c.applyKeyPress(123);
    c.insertText("书", TextRange::notFound());
    EXPECT_EQ(c.text(), "《书》");
    c.applyKeyPress(124);
    c.applyKeyPress(51);
    c.applyKeyPress(51);
    EXPECT_EQ(c.text(), "《");
    c.setText("a😀");
    c.applyKeyPress(51);
    EXPECT_EQ(c.text(), "a");
}

TEST(ScriptedClient, CallLogKeepsOnlyTheLatestCalls) {
    ScriptedClient c;
    const std::size_t many = ScriptedClient::kCallLogLimit * 3 + 7;
    for (std::size_t i = 0; i < many; ++i) c.selectedRange();
    c.markedRange();
    EXPECT_LE(c.calls().size(), ScriptedClient::kCallLogLimit);
    ASSERT_FALSE(c.calls().empty());
    EXPECT_EQ(c.calls().back(), "markedRange");
}

TEST(Utf16, RoundTripsAndRepairs) {
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16("a你😀")), "a你😀");
    EXPECT_EQ(utf16Length("a你😀"), 4u);
    EXPECT_EQ(utf8ToUtf16("\xE4\xBD"), u"\uFFFD");  // cut short
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

} // namespace
