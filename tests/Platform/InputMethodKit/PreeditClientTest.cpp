#include "Platform/InputMethodKit/PreeditClient.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

using namespace plat;

// Records what a host would send, and draws what it was last sent as a
// client that keeps it (GTK's IBus module) would.
class SentTo : public PreeditClient {
public:
    std::vector<std::string> sent;
    std::string drawn;
    bool reach = true;

    std::optional<std::string> bundleIdentifier() const override { return std::nullopt; }

protected:
    bool reachable() const override { return reach; }
    void sendPreedit(const std::string& text, bool visible) override {
        sent.push_back(visible ? "preedit:" + text : "hide");
        drawn = visible ? text : "";
    }
    void sendCommit(const std::string& text) override { sent.push_back("commit:" + text); }
};

void mark(SentTo& c, const std::string& text) {
    c.setMarkedText(text, {}, TextRange::notFound(), TextRange::notFound());
}

TEST(PreeditClient, CommitHidesTheDrawnPreeditBeforeTheText) {
    SentTo c;
    mark(c, "women");
    c.insertText("我们", TextRange::notFound());
    EXPECT_EQ(c.sent, (std::vector<std::string>{"preedit:women", "hide", "commit:我们"}));
    EXPECT_EQ(c.drawn, "");
    EXPECT_FALSE(c.drawsPreedit());
    EXPECT_EQ(c.markedRange(), (TextRange{kNotFound, 0}));
}

TEST(PreeditClient, OnlyADrawnPreeditIsHidden) {
    struct Case {
        const char* name;
        std::vector<std::string> marks;  // before the commit
        std::vector<std::string> sent;
    };
    const std::vector<Case> cases{
        {"nothing composed", {}, {"commit:，"}},
        {"composition already ended", {"ni", ""}, {"preedit:ni", "hide", "commit:，"}},
        {"rest of a partial commit", {"hao"}, {"preedit:hao", "hide", "commit:，"}},
    };
    for (const auto& k : cases) {
        SentTo c;
        for (const auto& m : k.marks) mark(c, m);
        c.insertText("，", TextRange::notFound());
        EXPECT_EQ(c.sent, k.sent) << k.name;
        EXPECT_EQ(c.drawn, "") << k.name;
    }
}

// An empty commit sends no text, but the marked text still ends.
TEST(PreeditClient, EmptyCommitStillEndsThePreedit) {
    SentTo c;
    mark(c, "ni");
    c.insertText("", TextRange::notFound());
    EXPECT_EQ(c.sent, (std::vector<std::string>{"preedit:ni", "hide"}));
    EXPECT_EQ(c.drawn, "");
}

// Out of reach (no focus) nothing is sent; the preedit still drawn is hidden
// at the next commit that can reach the client.
TEST(PreeditClient, PreeditLeftDrawnWhileOutOfReachIsHiddenAtTheNextCommit) {
    SentTo c;
    mark(c, "ni");
    c.reach = false;
    c.insertText("你", TextRange::notFound());
    EXPECT_EQ(c.sent, (std::vector<std::string>{"preedit:ni"}));
    EXPECT_EQ(c.markedRange(), (TextRange{kNotFound, 0}));
    c.reach = true;
    c.insertText("好", TextRange::notFound());
    EXPECT_EQ(c.sent, (std::vector<std::string>{"preedit:ni", "hide", "commit:好"}));
    EXPECT_EQ(c.drawn, "");
}

TEST(PreeditClient, RangesFollowTheSurroundingTextAndThePreedit) {
    SentTo c;
    c.before = "ab";
    c.after = "z";
    c.hasSurrounding = true;
    mark(c, "ni");
    EXPECT_EQ(c.markedRange(), (TextRange{2, 2}));
    EXPECT_EQ(c.selectedRange(), (TextRange{4, 0}));
    EXPECT_EQ(c.stringFromRange({0, 5}, nullptr), "abniz");
    c.insertText("你", TextRange::notFound());
    EXPECT_EQ(c.selectedRange(), (TextRange{3, 0}));
    EXPECT_EQ(c.stringFromRange({0, 10}, nullptr), "ab你z");
}

// Without the text around the caret the host still knows the marked text
// it sent: a range within it reads back, any other range reads nothing.
TEST(PreeditClient, MarkedTextReadsBackWithoutTheSurroundingText) {
    SentTo c;
    c.before = "ab";
    EXPECT_FALSE(c.stringFromRange({0, 2}, nullptr)) << "nothing marked";
    mark(c, "中guo");
    const struct {
        TextRange range;
        std::optional<std::string> text;
    } cases[] = {
        {{2, 4}, "中guo"}, {{3, 2}, "gu"}, {{2, 1}, "中"},
        {{0, 2}, std::nullopt}, {{1, 3}, std::nullopt}, {{4, 3}, std::nullopt},
        {{2, 0}, std::nullopt}, {{kNotFound, 4}, std::nullopt},
        {{3, std::numeric_limits<std::int64_t>::max()}, std::nullopt},
    };
    for (const auto& k : cases) {
        TextRange actual{-1, -1};
        EXPECT_EQ(c.stringFromRange(k.range, &actual), k.text) << k.range.location << "," << k.range.length;
        if (k.text) EXPECT_EQ(actual, k.range);
    }
    c.insertText("中国", TextRange::notFound());
    EXPECT_FALSE(c.stringFromRange({2, 2}, nullptr)) << "the marked text ended";
}

// The host hears only the caret, which moves along the preedit as the
// client draws it: the marked text begins where the caret stood before it.
TEST(PreeditClient, MarkedTextBeginsWhereTheCaretStoodBeforeIt) {
    SentTo c;
    c.before = "ab";
    c.caret = TextRect{100, 500, 2, 20};
    EXPECT_FALSE(c.firstRectForCharacterRange({2, 0}, nullptr)) << "nothing marked";
    mark(c, "z");
    c.caret = TextRect{110, 500, 2, 20};
    mark(c, "zh");
    c.caret = TextRect{120, 500, 2, 20};
    TextRange actual;
    EXPECT_EQ(c.firstRectForCharacterRange({2, 2}, &actual), (TextRect{100, 500, 0, 20}));
    EXPECT_EQ(actual, (TextRange{2, 0}));
    EXPECT_FALSE(c.firstRectForCharacterRange({3, 1}, nullptr)) << "only the start is known";
    TextRect line;
    c.attributesForCharacterIndex(0, &line);
    EXPECT_EQ(line, (TextRect{120, 500, 2, 20})) << "the caret stays the caret";

    // A commit ends it; the next marked text begins at the caret of then.
    c.insertText("中", TextRange::notFound());
    EXPECT_FALSE(c.firstRectForCharacterRange({3, 0}, nullptr));
    mark(c, "g");
    EXPECT_EQ(c.firstRectForCharacterRange({3, 1}, nullptr), (TextRect{120, 500, 0, 20}));
    mark(c, "");
    EXPECT_FALSE(c.firstRectForCharacterRange({3, 0}, nullptr));

    // No caret heard yet: no start either.
    SentTo fresh;
    mark(fresh, "a");
    EXPECT_FALSE(fresh.firstRectForCharacterRange({0, 1}, nullptr));
}

} // namespace
