#include "InputMethod/KeyCodeTranslation.h"
#include "InputMethod/KeyLogger.h"
#include "InputMethod/TextOutput.h"
#include "InputMethod/Core/Settings.h"
#include "Platform/InputMethodKit/ScriptedClient.h"

#include <gtest/gtest.h>

namespace taviro::test {
namespace {

TEST(TextOutput, AutomaticSpaceLooksAtTheLastCharacterBeforeTheCaret) {
    struct Case {
        const char* before;
        const char* text;
        bool space;
    };
    const Case cases[] = {
        {"abc", "你好", true},  {"你", "abc", true},   {"abc", "abc", false},  {"abc", "，", false},
        {"你", "好", false},    {"x|", "你", true},     {"abc", "a你", true},   {"", "你", false},
        {"abc\n", "你", false},  // a line break is not Latin
        {"你\n", "abc", false}, {"abc，", "你", false}, {"9", "号", true},
    };
    for (const auto& c : cases) EXPECT_EQ(TextOutput::needsAutoBlank(c.before, c.text), c.space) << c.before << "|" << c.text;
}

// "LockUpperCase" shows the composition with full Unicode case mapping.
TEST(TextOutput, UpperCaseMapsAllOfUnicode) {
    struct Case {
        const char* text;
        std::int64_t mode;
        const char* shown;
    };
    const Case cases[] = {
        {"lüe", 0, "LÜE"},     {"straße", 0, "STRASSE"}, {"ǆemal", 0, "ǄEMAL"},
        {"ni你", 0, "NI你"},   {"abcd", 2, "AB'CD"},      {"", 0, ""},
        {"ﬁx", 0, "FIX"},      {"ὀδυσσεύς", 0, "ὈΔΥΣΣΕΎΣ"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TextOutput::displayText(c.text, c.mode, true, {}), c.shown) << c.text;
    EXPECT_EQ(TextOutput::displayText("lüe", 0, false, {}), "lüe");
}

TEST(TextOutput, CommitConvertsSpacesAndRemembers) {
    struct Case {
        bool s2t;
        int s2tType;
        bool autoBlank;
        const char* before;
        const char* text;
        const char* inserted;
    };
    const Case cases[] = {
        {false, 0, false, "", "中国", "中国"},
        {true, 3, false, "", "中国", "中國"},
        {true, 0, true, "abc", "中国", " 中國"},
        {true, 2, false, "", "中國", "中国"},
        {true, 7, false, "", "中国", "中国"},   // unknown conversion: none
        {true, -1, false, "", "中国", "中国"},
    };
    for (const auto& c : cases) {
        plat::ScriptedClient client;
        client.setText(c.before);
        Settings s;
        s.s2t = c.s2t;
        s.s2tType = c.s2tType;
        s.autoBlank = c.autoBlank;
        TextOutput::insertText(c.text, std::nullopt, &client, s);
        ASSERT_EQ(client.insertions().size(), 1u);
        EXPECT_EQ(client.insertions()[0], c.inserted) << c.text << " " << c.s2tType;
        EXPECT_EQ(TextOutput::lastCommittedText(), c.inserted);
    }
    // An empty commit touches nothing.
    plat::ScriptedClient client;
    TextOutput::insertText("", std::nullopt, &client, Settings{});
    EXPECT_TRUE(client.calls().empty());
    EXPECT_EQ(TextOutput::lastCommittedText(), "中国");
}

TEST(TextOutput, NoTextBeforeTheCaretMeansNoSpace) {
    plat::ScriptedClient client;
    client.setText("abc");
    client.setGivesText(false);
    Settings s;
    s.autoBlank = true;
    TextOutput::insertText("你", std::nullopt, &client, s);
    EXPECT_EQ(client.insertions().back(), "你");
}

TEST(TextOutput, TextBeforeCaretAsksForAtMostAHundredUnits) {
    {
        plat::ScriptedClient client;
        client.setText(std::string(300, 'x'));
        client.select(250);
        client.clearLog();
        EXPECT_EQ(TextOutput::textBeforeCaret(&client)->size(), 100u);
        EXPECT_EQ(client.calls().back(), "stringFromRange:150,100");
    }
    {
        plat::ScriptedClient client;
        client.setText(std::string(35, 'x'));
        client.setMarkedText("abcde", {}, plat::TextRange::notFound(), plat::TextRange::notFound());
        client.clearLog();
        EXPECT_EQ(*TextOutput::textBeforeCaret(&client), std::string(35, 'x'));
        EXPECT_EQ(client.calls().back(), "stringFromRange:0,35");
    }
    {
        // A marked text longer than 99 units counts as none.
        plat::ScriptedClient client;
        client.setText("ab");
        client.setMarkedText(std::string(120, 'm'), {}, plat::TextRange::notFound(), plat::TextRange::notFound());
        client.clearLog();
        TextOutput::textBeforeCaret(&client);
        EXPECT_EQ(client.calls().back(), "stringFromRange:22,100");
    }
}

// A client whose ranges make no sense.
class OddClient : public plat::ScriptedClient {
public:
    plat::TextRange selected;
    plat::TextRange marked;
    plat::TextRange selectedRange() const override { return selected; }
    plat::TextRange markedRange() const override { return marked; }
};

TEST(TextOutput, NonsenseRangesGiveNoText) {
    struct Case {
        plat::TextRange selected;
        plat::TextRange marked;
    };
    const Case cases[] = {
        {{plat::kNotFound, 0}, {plat::kNotFound, 0}},
        {{-3, 0}, {plat::kNotFound, 0}},
        {{2, 0}, {0, 5}},  // caret inside the marked text
    };
    for (const auto& c : cases) {
        OddClient client;
        client.setText("abcdef");
        client.selected = c.selected;
        client.marked = c.marked;
        EXPECT_EQ(TextOutput::textBeforeCaret(&client), std::nullopt) << c.selected.location;
    }
}

TEST(KeyCodeTranslation, ChoosesByShiftAndCapsLock) {
    const VkToUSTable table = {{"0", "aA"}, {"18", "1!"}, {"24", "="}, {"99", ""}};
    namespace Flag = plat::ModifierFlag;
    struct Case {
        std::uint16_t code;
        std::uint64_t flags;
        std::optional<std::string> chars;
        std::optional<std::string> result;
    };
    const Case cases[] = {
        {0, 0, "ф", "a"},
        {0, Flag::shift, "Ф", "A"},
        {0, Flag::capsLock, "Ф", "A"},
        {0, Flag::shift | Flag::capsLock, "ф", "a"},
        {0, Flag::control, "\x01", "a"},
        {18, Flag::capsLock, "&", "1"},
        {18, Flag::shift | Flag::capsLock, "1", "!"},
        {24, Flag::shift, "+", "="},
        {50, 0, "ё", "ё"},            // no entry: the event's own characters
        {123, 0, std::nullopt, std::nullopt},
        {99, 0, "x", "x"},            // an empty entry counts as none
    };
    for (const auto& c : cases) {
        const auto event = plat::KeyEvent::keyDown(c.code, c.flags, c.chars);
        EXPECT_EQ(keyEventToUSCharacter(event, table), c.result) << c.code << " " << c.flags;
    }
}

TEST(KeyCodeTranslation, BundleTableCoversTheLetters) {
    const auto table = vkToUSTable();
    ASSERT_FALSE(table->empty());
    EXPECT_EQ(keyEventToUSCharacter(plat::KeyEvent::keyDown(0, 0, "ф")), "a");
    EXPECT_EQ(keyEventToUSCharacter(plat::KeyEvent::keyDown(41, plat::ModifierFlag::shift, "Ж")), ":");
}

TEST(KeyLogger, KeepsCountsUntilTheirWriteGoesThrough) {
    using Clock = KeyLogger::Clock;
    Clock::time_point now = Clock::time_point(std::chrono::hours(1000));
    bool enabled = true;
    std::vector<std::string> writes;
    std::vector<bool> answers;  // per write; true when empty
    KeyLogger logger(
        [&](Clock::time_point date, std::int64_t count, bool isChar) {
            const bool ok = answers.empty() ? true : answers.front();
            if (!answers.empty()) answers.erase(answers.begin());
            if (ok)
                writes.push_back(std::string(isChar ? "Char" : "Key") + "+" + std::to_string(count) + "@" +
                                 std::to_string(std::chrono::duration_cast<std::chrono::hours>(date.time_since_epoch()).count()));
            return ok;
        },
        [&] { return enabled; }, [&] { return now; });

    logger.countKey();
    logger.countKey();
    logger.countCharacters("你好");
    logger.countCharacters("👍🏽");  // one character of several code points
    now += std::chrono::hours(30);
    answers = {false, false};  // the databases are closed
    logger.flush();
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(logger.keyCount(), 2);
    EXPECT_EQ(logger.charCount(), 3);

    answers = {true, false};  // only "Char" goes through
    logger.flush();
    EXPECT_EQ(writes, (std::vector<std::string>{"Char+3@1000"}));
    EXPECT_EQ(logger.charCount(), 0);
    EXPECT_EQ(logger.keyCount(), 2);

    logger.flush();
    EXPECT_EQ(writes.back(), "Key+2@1000");
    EXPECT_EQ(logger.currentDate(), now);

    enabled = false;
    logger.countKey();
    logger.flush();
    EXPECT_EQ(logger.keyCount(), 0);
    EXPECT_EQ(writes.size(), 3u);
}

} // namespace
} // namespace taviro::test
