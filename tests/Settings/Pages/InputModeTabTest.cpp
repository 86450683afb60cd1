#include "RecordingChannelFixture.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/App/SettingsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/Pages/QuanPinView.h"
#include "Settings/Pages/Tab2Controller.h"
#include "support/TestHome.h"

namespace kelvane {
namespace {

class NullWindow : public SettingsWindowView {
public:
    void showTab(int) override {}
    void setContentSize(Size size) override { sizes.push_back(size); }
    bool hasSubPage(std::string_view) const override { return false; }
    void openSubPage(std::string_view) override {}
    std::vector<Size> sizes;
};

class InputModeTabTest : public test::RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        folder_ = taviro::test::freshDir("config");
        config_ = std::make_unique<ConfigManager>(folder_);
        window_ = std::make_unique<SettingsController>(*config_);
        window_->windowDidLoad(&view_);
    }
    // The settings as a fresh load of the files sees them.
    std::unique_ptr<ConfigManager> reloaded() const { return std::make_unique<ConfigManager>(folder_); }
    std::vector<std::string> reloads(size_t n) const { return std::vector<std::string>(n, "configNeedsReload"); }

    std::filesystem::path folder_;
    std::unique_ptr<ConfigManager> config_;
    std::unique_ptr<SettingsController> window_;
    NullWindow view_;
};

TEST_F(InputModeTabTest, InitialPageFollowsTheStoredSettingsAndPostsNothing) {
    struct Case {
        const char* table;
        bool disableDatabase;
        bool quanPin;
        int page;
    } cases[] = {
        {kNoMainCodeTable, false, true, 0}, {kNoMainCodeTable, false, false, 1}, {"wubi", true, true, 2},
        {"wubi", true, false, 2},           {"wubi", false, true, 3},            {"wubi", false, false, 3},
    };
    for (const auto& c : cases) {
        config_->codeTableName = c.table;
        config_->disableDatabase = c.disableDatabase;
        config_->quanPin = c.quanPin;
        Tab2Controller tab(*config_, window_.get());
        EXPECT_EQ(tab.viewDidLoad(), c.page) << c.table << c.disableDatabase << c.quanPin;
    }
    EXPECT_TRUE(posted().empty());
}

TEST_F(InputModeTabTest, ChoosingAPageRewritesTheModeSettingsAndResizes) {
    config_->codeTableName = "wubi";
    config_->assistPlanName = "cangjie";
    config_->assistCodePlan = 1;
    config_->revealAssist = true;
    config_->fourCode = 3;
    config_->save();
    channel_->clear();
    Tab2Controller tab(*config_, window_.get());
    tab.viewDidLoad();

    tab.didSelectPage(Tab2Controller::doublePinyin);
    auto saved = reloaded();
    EXPECT_FALSE(saved->quanPin);
    EXPECT_EQ(saved->codeTableName, kNoMainCodeTable);
    EXPECT_EQ(saved->fourCode, 0);
    EXPECT_EQ(saved->codeTableVersion, -1);
    EXPECT_EQ(saved->assistPlanName, "cangjie"); // assist settings stay
    EXPECT_EQ(saved->assistCodePlan, 1);
    EXPECT_TRUE(saved->revealAssist);
    auto expected = reloads(8);
    expected.push_back("needsReloadDBLink");
    EXPECT_EQ(posted(), expected);
    EXPECT_EQ(window_->contentSize(), (Size{530, 253}));

    channel_->clear();
    tab.didSelectPage(Tab2Controller::fullPinyin);
    saved = reloaded();
    EXPECT_TRUE(saved->quanPin);
    EXPECT_EQ(saved->assistPlanName, kNoAssistTable);
    EXPECT_EQ(saved->assistCodePlan, -1);
    EXPECT_FALSE(saved->revealAssist);
    expected = reloads(11);
    expected.push_back("needsReloadDBLink");
    EXPECT_EQ(posted(), expected);
    EXPECT_EQ(window_->contentSize(), (Size{530, 172}));

    channel_->clear();
    tab.didSelectPage(Tab2Controller::combined);
    expected = reloads(1);
    expected.push_back("needsReloadDBLink");
    EXPECT_EQ(posted(), expected);
    EXPECT_EQ(window_->contentSize(), (Size{530, 440}));

    channel_->clear();
    config_->codeTableName = "wubi";
    tab.didSelectPage(Tab2Controller::codeTablesAlone);
    saved = reloaded();
    EXPECT_TRUE(saved->disableDatabase);
    EXPECT_FALSE(saved->quanPin);
    EXPECT_EQ(saved->codeTableName, "wubi");
    expected = reloads(5);
    expected.push_back("needsReloadDBLink");
    EXPECT_EQ(posted(), expected);
    EXPECT_EQ(window_->contentSize(), (Size{530, 253}));

    channel_->clear();
    tab.didSelectPage(9);
    EXPECT_EQ(posted(), (std::vector<std::string>{"needsReloadDBLink"}));
}

TEST_F(InputModeTabTest, EachCorrectionBoxSavesOnlyItsOwnSetting) {
    QuanPinView page(*config_);
    for (size_t i = 0; i < QuanPinView::boxes().size(); ++i) EXPECT_FALSE(page.state(i));
    for (size_t i = 0; i < QuanPinView::boxes().size(); ++i) {
        channel_->clear();
        page.toggle(i, true);
        EXPECT_EQ(posted(), reloads(1));
        auto saved = reloaded();
        for (size_t j = 0; j < QuanPinView::boxes().size(); ++j)
            EXPECT_EQ((*saved).*(QuanPinView::boxes()[j].field), j <= i) << i << " " << j;
    }
    EXPECT_TRUE(reloaded()->gn2ng);
    EXPECT_TRUE(reloaded()->iou2iu);
}

} // namespace
} // namespace kelvane
