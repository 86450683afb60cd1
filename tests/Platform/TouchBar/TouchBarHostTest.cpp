#include "Platform/Foundation/Log.h"
#include "Platform/TouchBar/TouchBarHost.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace plat {
namespace {

// Every call of the null host is harmless, and the process hears once that
// there is no Touch Bar, not once per call.
TEST(NullTouchBarHost, SaysOnceThatThereIsNoTouchBar) {
    LogCapture capture;
    NullTouchBarHost host;
    EXPECT_FALSE(host.exists());
    const TouchBar bar{"bar", {{"a", TouchBarItem::Kind::button, "x"}}};
    host.setControlStripPresence("a", true);
    host.presentSystemModal(bar, "a");
    host.minimizeSystemModal(bar);
    host.setWindowTouchBar("w", bar);
    host.setButtonTitle("a", "y");
    host.reloadScrubber("s", {{"我", 40, 30, {}}});
    host.setScrubberItemBackground("s", 5, {});
    NullTouchBarHost other;
    other.reloadScrubber("s", {});
    const auto lines = capture.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string(NullTouchBarHost::kMessage)), 1);
}

TEST(TouchBarHost, SharedIsTheNullHostUntilOneIsInstalled) {
    EXPECT_FALSE(TouchBarHost::shared().exists());
    RecordingTouchBarHost recording;
    TouchBarHost::setShared(&recording);
    EXPECT_EQ(&TouchBarHost::shared(), &recording);
    TouchBarHost::setShared(nullptr);
    EXPECT_FALSE(TouchBarHost::shared().exists());
}

TEST(RecordingTouchBarHost, KeepsTheLastStateOfBarsAndScrubbers) {
    RecordingTouchBarHost host;
    const TouchBar bar{"group", {{"s2t", TouchBarItem::Kind::button, "简"}, {"strip", TouchBarItem::Kind::scrubber, ""}}};
    host.presentSystemModal(bar, "tray");
    host.setButtonTitle("s2t", "繁");
    host.reloadScrubber("strip", {{"我", 40, 30, {}}, {"你", 40, 30, {}}});
    host.setScrubberItemBackground("strip", 1, {1, 0, 0, 1});
    host.setScrubberItemBackground("strip", 7, {1, 0, 0, 1}); // no such item: recorded, nothing changes
    host.minimizeSystemModal(bar);

    EXPECT_EQ(host.calls(), (std::vector<std::string>{"present:group:tray", "title:s2t:繁", "reload:strip:2",
                                                      "background:strip:1", "background:strip:7", "minimize:group"}));
    EXPECT_FALSE(host.isPresented());
    EXPECT_EQ(host.presentedBar().items[0].title, "繁");
    ASSERT_EQ(host.scrubber("strip").size(), 2u);
    EXPECT_EQ(host.scrubber("strip")[1].background, (TouchBarColor{1, 0, 0, 1}));
    EXPECT_EQ(host.scrubber("strip")[0].background, TouchBarColor{});
    EXPECT_TRUE(host.scrubber("other").empty());

    host.setWindowTouchBar("settings", bar);
    EXPECT_EQ(host.windowBar("settings"), bar);
    EXPECT_TRUE(host.windowBar("none").items.empty());
}

} // namespace
} // namespace plat
