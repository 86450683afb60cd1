#include "CandidateFixture.h"

#include "InputMethod/TavCandidates/TouchBarCandidateController.h"
#include "InputMethod/TavCandidates/TouchBarPresentation.h"
#include "Platform/Foundation/Plist.h"

namespace taviro::test {
namespace {

using Words = std::vector<std::string>;

class Strip : public CandidateFixture {
protected:
    Strip() {
        TouchBarCandidateController::Environment env;
        env.host = &host;
        env.window = [this]() -> CandidateWindow* { return window.get(); };
        env.measurer = std::make_shared<FakeMeasurer>();
        env.loadHints = [this] {
            ++loads;
            return hints;
        };
        strip = std::make_unique<TouchBarCandidateController>(env);
        auto windowEnv = environment();
        windowEnv.strip = strip.get();
        window = std::make_unique<CandidatesHController>(windowEnv);
        window->setDelegate(&delegate);
    }

    Words shown() const {
        Words out;
        for (const auto& item : host.scrubber(TouchBarCandidateController::kItemIdentifier)) out.push_back(item.title);
        return out;
    }

    plat::RecordingTouchBarHost host;
    TouchBarCandidateController::HintTable hints{
        {"你好", {"吗", "啊", "吗"}}, {"hello", {"world"}}, {"好", {"的", "了"}}, {"O", {"ok"}}, {"空的", {}},
        {"中国", {"人", "的"}}};
    int loads = 0;
    std::unique_ptr<TouchBarCandidateController> strip;
    std::unique_ptr<CandidatesHController> window;
};

TEST_F(Strip, HintsForTheTextBeforeTheCaret) {
    struct Case {
        const char* name;
        std::optional<std::string> text; // none: no client
        Words expected;
    };
    const Words common = TouchBarCandidateController::commonWords();
    const Case cases[] = {
        {"no client", std::nullopt, common},
        {"empty document", "", common},
        {"a word of the table, whole and in order", "我说你好", {"吗", "啊", "吗"}},
        {"a Latin word in lower case", "say Hello", {"world"}},
        {"a miss tries the last character unchanged", "FoO", {"ok"}},
        {"a one-character word goes to the character", "很好", {"的", "了"}},
        {"an empty entry gives the common words", "空的", common},
        {"nothing at all", "天气", common},
    };
    for (const auto& c : cases) {
        plat::ScriptedClient text;
        if (c.text) text.setText(*c.text);
        delegate.client = c.text ? &text : nullptr;
        strip->updateCandidates();
        EXPECT_TRUE(strip->isThinking()) << c.name;
        EXPECT_EQ(shown(), c.expected) << c.name;
        EXPECT_EQ(strip->candidateCache(), c.expected) << c.name;
    }
    EXPECT_EQ(common, (Words{"我", "你", "在", "这", "一", "不", "是", "有", "我们", "今天", "就", "好", "他", "那", "但", "也"}));
    EXPECT_EQ(loads, 1); // read once
}

TEST_F(Strip, WithoutATouchBarNoHintTableIsRead) {
    // Nothing is shown on such a machine: the table is never read (it would
    // cost the first commit a large read) and the hints are the common words.
    plat::NullTouchBarHost none;
    TouchBarCandidateController::Environment env;
    env.host = &none;
    env.measurer = std::make_shared<FakeMeasurer>();
    env.loadHints = [this] {
        ++loads;
        return hints;
    };
    TouchBarCandidateController bare(env);
    bare.setDelegate(&delegate);
    plat::ScriptedClient text;
    text.setText("我说你好");
    delegate.client = &text;
    bare.updateCandidates();
    EXPECT_TRUE(bare.isThinking());
    EXPECT_EQ(bare.candidateCache(), TouchBarCandidateController::commonWords());
    EXPECT_TRUE(bare.smartHint().empty());
    EXPECT_EQ(loads, 0);
    // The strip with a Touch Bar reads its table, once, at its first lookup.
    strip->setDelegate(&delegate);
    strip->updateCandidates();
    EXPECT_EQ(shown(), (Words{"吗", "啊", "吗"}));
    EXPECT_EQ(loads, 1);
}

TEST_F(Strip, ItemSizes) {
    const std::vector<std::tuple<std::string, Words, std::vector<double>>> cases{
        {"甲", {"我"}, {490}},                             // one item: the whole strip
        {"乙", {"我", "你"}, {245, 245}},                  // equal shares
        {"丙", {"我", std::string(50, 'x')}, {245, 530}}}; // a long word widens its own item
    for (const auto& [key, words, widths] : cases) hints[key] = words;
    for (const auto& [key, words, widths] : cases) {
        client.setText(key);
        strip->updateCandidates();
        const auto items = host.scrubber(TouchBarCandidateController::kItemIdentifier);
        ASSERT_EQ(items.size(), widths.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].width, widths[i]) << words[i];
            EXPECT_EQ(items[i].height, 60);
            EXPECT_EQ(items[i].background, TouchBarCandidateController::unSelectedBackGroundColor());
        }
    }
}

TEST_F(Strip, TappedHintIsInsertedAndTheNextHintsFollowIt) {
    client.setText("我说");
    hints["说"] = {"你好", "话"};
    strip->updateCandidates();
    ASSERT_EQ(shown(), (Words{"你好", "话"}));
    strip->didSelectItemAtIndex(0);
    EXPECT_EQ(delegate.inserted, (Words{"你好"}));
    EXPECT_EQ(client.committedText(), "我说你好");
    EXPECT_EQ(delegate.commits, 0); // the engine learns nothing
    EXPECT_EQ(shown(), (Words{"吗", "啊", "吗"}));
}

TEST_F(Strip, MirrorsTheWindowPageAndTapsSelectThroughIt) {
    delegate.list = {"aadj%dA8.Cx", "ab", "ac", "ad", "ae", "af", "ag", "ah", "ai"};
    window->showAtCaret(&client);
    strip->loadVisibleCandidates();
    EXPECT_FALSE(strip->isThinking());
    EXPECT_EQ(shown(), (Words{"aa x", "ab", "ac", "ad", "ae", "af", "ag"}));
    // A page turn brings the new page.
    window->nextPage();
    EXPECT_EQ(shown(), (Words{"ah", "ai"}));
    // Highlighting an item moves the window's highlight; the item is coloured.
    strip->didHighlightItemAtIndex(1);
    EXPECT_EQ(window->selectedIndex(), 1);
    EXPECT_EQ(delegate.selections.back(), "ai");
    EXPECT_EQ(host.scrubber(TouchBarCandidateController::kItemIdentifier)[1].background,
              TouchBarCandidateController::selectedBackGroundColor());
    strip->didFinishInteracting();
    EXPECT_EQ(host.scrubber(TouchBarCandidateController::kItemIdentifier)[1].background,
              TouchBarCandidateController::unSelectedBackGroundColor());
    // A tap selects: the window commits, closes, and the strip turns to hints.
    client.setText("");
    strip->didSelectItemAtIndex(0);
    EXPECT_EQ(delegate.commits, 1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(strip->isThinking());
    EXPECT_EQ(shown(), TouchBarCandidateController::commonWords());
}

TEST_F(Strip, EmptyWindowGivesAnEmptyStripAndHighlightsOfHintsStayOnTheStrip) {
    strip->loadVisibleCandidates();
    EXPECT_TRUE(shown().empty());
    EXPECT_FALSE(strip->isThinking());
    delegate.list = {"aa", "ab"};
    window->showAtCaret(&client);
    strip->updateCandidates();
    strip->didHighlightItemAtIndex(1);
    EXPECT_EQ(window->selectedIndex(), 0);
    strip->didHighlightItemAtIndex(99); // no such item
    EXPECT_EQ(strip->lastHighlightIndex(), 1);
}

class Bar : public Strip {
protected:
    Bar() {
        TouchBarPresentation::Environment env;
        env.host = &host;
        env.config = &config;
        env.strip = strip.get();
        env.window = [this]() -> CandidateWindow* { return window.get(); };
        env.abandonComposition = [this] {
            ++abandoned;
            delegate.list.clear();
        };
        bar = std::make_unique<TouchBarPresentation>(env);
    }
    int abandoned = 0;
    std::unique_ptr<TouchBarPresentation> bar;
};

TEST_F(Bar, ItemsAndTheGroupBar) {
    using K = plat::TouchBarItem::Kind;
    EXPECT_EQ(bar->makeItemForIdentifier(TouchBarPresentation::kS2tIdentifier),
              (plat::TouchBarItem{TouchBarPresentation::kS2tIdentifier, K::button, "简"}));
    EXPECT_EQ(bar->makeItemForIdentifier(TouchBarPresentation::kVoridIdentifier),
              (plat::TouchBarItem{TouchBarPresentation::kVoridIdentifier, K::button, "塔"}));
    EXPECT_EQ(bar->makeItemForIdentifier(TouchBarPresentation::kCandidateIdentifier)->kind, K::scrubber);
    EXPECT_FALSE(bar->makeItemForIdentifier("com.quorvel.inputmethod.TaviroMac2.S2T"));
    EXPECT_FALSE(bar->makeItemForIdentifier(""));
    const auto& group = bar->groupTouchBar();
    ASSERT_EQ(group.items.size(), 4u);
    EXPECT_EQ(group.items[0].identifier, TouchBarPresentation::kS2tIdentifier);
    EXPECT_EQ(group.items[1].kind, K::fixedSpaceLarge);
    EXPECT_EQ(group.items[2].kind, K::fixedSpaceLarge);
    EXPECT_EQ(group.items[3].identifier, TouchBarPresentation::kCandidateIdentifier);
    set([](Settings& s) { s.s2t = true; });
    EXPECT_EQ(bar->makeItemForIdentifier(TouchBarPresentation::kS2tIdentifier)->title, "繁");
}

TEST_F(Bar, PresentLoadsTheStripAndMinimiseKeepsIt) {
    bar->start();
    delegate.list = {"aa", "ab"};
    window->showAtCaret(&client);
    bar->showTouchBar();
    EXPECT_TRUE(host.isPresented());
    EXPECT_EQ(shown(), (Words{"aa", "ab"}));
    bar->dismissTouchBar();
    EXPECT_FALSE(host.isPresented());
    const auto calls = host.calls();
    EXPECT_EQ(calls.front(), std::string("controlStrip:") + TouchBarPresentation::kVoridIdentifier + ":1");
    EXPECT_NE(std::find(calls.begin(), calls.end(),
                        std::string("present:") + TouchBarPresentation::kGroupIdentifier + ":" +
                            TouchBarPresentation::kVoridIdentifier),
              calls.end());
    // The product mark presents again.
    bar->buttonTapped(TouchBarPresentation::kVoridIdentifier);
    EXPECT_TRUE(host.isPresented());
}

TEST_F(Bar, S2tTogglesSavesAndRetitles) {
    bar->buttonTapped(TouchBarPresentation::kS2tIdentifier);
    EXPECT_TRUE(config.settings()->s2t);
    EXPECT_EQ(host.calls().back(), std::string("title:") + TouchBarPresentation::kS2tIdentifier + ":繁");
    EXPECT_TRUE(ConfigManager(configDir).settings()->s2t); // saved at once
    bar->s2t(TouchBarPresentation::kS2tIdentifier);
    EXPECT_FALSE(config.settings()->s2t);
    EXPECT_EQ(host.calls().back(), std::string("title:") + TouchBarPresentation::kS2tIdentifier + ":简");
    EXPECT_FALSE(ConfigManager(configDir).settings()->s2t);
}

TEST_F(Bar, EscAbandonsClosesShowsHintsAndMinimises) {
    for (const bool open : {true, false}) {
        delegate.list = {"aa", "ab"};
        if (open) window->showAtCaret(&client);
        else window->close();
        bar->showTouchBar();
        client.setText("");
        bar->esc();
        EXPECT_FALSE(window->isVisible()) << open;
        EXPECT_TRUE(strip->isThinking()) << open;
        EXPECT_EQ(shown(), TouchBarCandidateController::commonWords()) << open;
        EXPECT_FALSE(host.isPresented()) << open;
    }
    EXPECT_EQ(abandoned, 2);
}

} // namespace
} // namespace taviro::test
