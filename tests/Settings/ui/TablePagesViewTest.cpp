#include "QtTestSupport.h"
#include "RecordingChannelFixture.h"
#include "Platform/Foundation/Paths.h"
#include "Settings/App/SettingsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/SettingsWindow.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>

#include <fstream>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

class TablePagesViewTest : public test::RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        test::qtApp();
        ui::registerPages();
        folder_ = taviro::test::freshDir("peruser");
        config_ = std::make_unique<ConfigManager>(folder_);
        controller_ = std::make_unique<SettingsController>(*config_);
        window_ = std::make_unique<ui::SettingsWindow>(*controller_, *config_);
        window_->show();
        QApplication::processEvents();
        channel_->clear();
    }
    void TearDown() override {
        window_.reset();
        QApplication::processEvents();
        RecordingChannelFixture::TearDown();
    }
    // The input-mode pages share control names: the page in front is searched first.
    template <class T> T* find(const char* name) const {
        auto* tabs = window_->findChild<QTabWidget*>("inputModeTabView");
        if (tabs && tabs->currentWidget())
            if (T* found = tabs->currentWidget()->findChild<T*>(name)) return found;
        return window_->findChild<T*>(name);
    }

    fs::path folder_;
    std::unique_ptr<ConfigManager> config_;
    std::unique_ptr<SettingsController> controller_;
    std::unique_ptr<ui::SettingsWindow> window_;
};

TEST_F(TablePagesViewTest, PageListsTheUserTablesAndSavesItsControls) {
    fs::create_directories(plat::Paths::userFolder());
    std::ofstream(plat::Paths::userFolder() / "mine.TXT") << "你\tn\n";
    controller_->selectTabViewItemAtIndex(1);
    auto* tabs = window_->findChild<QTabWidget*>("inputModeTabView");
    ASSERT_TRUE(tabs);
    tabs->setCurrentIndex(2);
    QApplication::processEvents();

    auto* tables = find<QComboBox>("mainSelector");
    ASSERT_TRUE(tables);
    EXPECT_GE(tables->findText("mine"), 0);
    auto* rules = find<QComboBox>("upMethods");
    ASSERT_TRUE(rules);
    ASSERT_EQ(rules->count(), 5);
    EXPECT_EQ(rules->itemText(2), QString("统一第五码顶"));

    auto* length = find<QComboBox>("codeLength");
    ASSERT_TRUE(length);
    length->setCurrentIndex(0);
    emit length->activated(0);
    EXPECT_EQ(rules->itemText(1), QString("三码唯一上屏"));
    EXPECT_EQ(ConfigManager(folder_).codeLength, 3);

    auto* reveal = find<QCheckBox>("revealCode");
    ASSERT_TRUE(reveal);
    reveal->click();
    EXPECT_EQ(ConfigManager(folder_).revealCode, reveal->isChecked());
    EXPECT_TRUE(test::saveScreenshot(*window_, "tab-codetable-codetables"));
}

TEST_F(TablePagesViewTest, DoublePinyinPageShowsAssistOffAndTurnsItOn) {
    fs::create_directories(plat::Paths::userFolder() / "KeyMaps");
    std::ofstream(plat::Paths::userFolder() / "KeyMaps" / "测试方案.plist") << "x";
    std::ofstream(plat::Paths::userFolder() / "KeyMaps" / "测试方案_rev.plist") << "x";
    controller_->selectTabViewItemAtIndex(1);
    auto* tabs = window_->findChild<QTabWidget*>("inputModeTabView");
    ASSERT_TRUE(tabs);
    tabs->setCurrentIndex(1);
    QApplication::processEvents();

    auto* schemes = find<QComboBox>("spSelector");
    ASSERT_TRUE(schemes);
    EXPECT_GE(schemes->findText("测试方案"), 0);
    EXPECT_LT(schemes->findText("测试方案_rev"), 0);
    auto* assist = find<QCheckBox>("assistCheckBox");
    auto* tables = find<QComboBox>("assistSelector");
    ASSERT_TRUE(assist && tables);
    EXPECT_FALSE(assist->isChecked());
    EXPECT_FALSE(tables->isEnabled());
    channel_->clear();
    assist->click();
    EXPECT_TRUE(tables->isEnabled());
    EXPECT_EQ(tables->currentIndex(), -1);
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(test::saveScreenshot(*window_, "tab-codetable-doublepinyin-assist"));
}

TEST_F(TablePagesViewTest, CombinedPageShowsTheSettingsAndSwitchesTheMode) {
    const fs::path user = plat::Paths::userFolder();
    fs::create_directories(user / "KeyMaps");
    std::ofstream(user / "KeyMaps" / "测试方案.plist") << "x";
    std::ofstream(user / "KeyMaps" / "测试方案_rev.plist") << "x";
    std::ofstream(user / "mine.TXT") << "你\tn\n";
    controller_->selectTabViewItemAtIndex(1);
    auto* tabs = window_->findChild<QTabWidget*>("inputModeTabView");
    ASSERT_TRUE(tabs);
    tabs->setCurrentIndex(3);
    QApplication::processEvents();
    ASSERT_TRUE(find<QWidget>("mixView"));

    // Defaults: full pinyin, no main table, no assist table.
    auto* quanpinView = find<QWidget>("quanpinView");
    auto* shuangpinView = find<QWidget>("shuangpinView");
    auto* main = find<QCheckBox>("mainCheckBox");
    auto* tables = find<QComboBox>("mainSelector");
    auto* rules = find<QComboBox>("upMethods");
    auto* schemes = find<QComboBox>("spSelector");
    auto* shuangpin = find<QRadioButton>("shuangpinButton");
    ASSERT_TRUE(quanpinView && shuangpinView && main && tables && rules && schemes && shuangpin);
    EXPECT_TRUE(quanpinView->isVisible());
    EXPECT_FALSE(shuangpinView->isVisible());
    EXPECT_FALSE(main->isChecked());
    EXPECT_FALSE(tables->isEnabled());
    EXPECT_FALSE(rules->isEnabled());
    EXPECT_GE(tables->findText("mine"), 0);
    EXPECT_EQ(rules->count(), 5);
    EXPECT_EQ(rules->itemText(1), QString("四码唯一上屏"));
    EXPECT_GE(schemes->findText("测试方案"), 0);
    EXPECT_LT(schemes->findText("测试方案_rev"), 0);
    EXPECT_TRUE(test::saveScreenshot(*window_, "tab-codetable-combined-quanpin"));

    channel_->clear();
    shuangpin->click();
    EXPECT_FALSE(quanpinView->isVisible());
    EXPECT_TRUE(shuangpinView->isVisible());
    EXPECT_FALSE(ConfigManager(folder_).quanPin);
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "configNeedsReload", "needsReloadDBLink"}));

    channel_->clear();
    main->click();
    EXPECT_TRUE(tables->isEnabled());
    EXPECT_TRUE(rules->isEnabled());
    EXPECT_EQ(tables->currentIndex(), -1);
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(test::saveScreenshot(*window_, "tab-codetable-combined"));
}

TEST_F(TablePagesViewTest, CustomPhraseEditorAddsARowAndRefusesAnEmptyCode) {
    ASSERT_TRUE(ui::openSubPageSheet({window_.get(), config_.get(), controller_.get()}, "customCodetable"));
    QApplication::processEvents();
    QTableWidget* table = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (!table) table = top->findChild<QTableWidget*>("customTable");
    ASSERT_TRUE(table);
    const int before = table->rowCount();
    QApplication::clipboard()->setText("剪贴板里的字");
    auto* add = table->parentWidget()->findChild<QPushButton*>("addRow");
    ASSERT_TRUE(add);
    add->click();
    ASSERT_EQ(table->rowCount(), before + 1);
    EXPECT_EQ(table->item(before, 0)->text(), QString("Code Here!"));
    EXPECT_EQ(table->item(before, 1)->text(), QString("剪贴板里的字"));
    table->item(before, 0)->setText("");
    EXPECT_EQ(table->item(before, 0)->text(), QString("Code Here!"));
    table->item(before, 2)->setText("3");
    EXPECT_EQ(table->item(before, 2)->text(), QString("3"));
    EXPECT_TRUE(test::saveScreenshot(*table->window(), "sheet-custom-phrases"));
}

TEST_F(TablePagesViewTest, KeyStatisticsShowSixCountsAndReset) {
    ASSERT_TRUE(ui::openSubPageSheet({window_.get(), config_.get(), controller_.get()}, "keyLogger"));
    QApplication::processEvents();
    QLabel* total = nullptr;
    QPushButton* reset = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!total) total = top->findChild<QLabel*>("l6");
        if (!reset) reset = top->findChild<QPushButton*>("reset");
    }
    ASSERT_TRUE(total && reset);
    reset->click();
    EXPECT_EQ(total->text(), QString("0"));
    EXPECT_TRUE(test::saveScreenshot(*total->window(), "sheet-key-statistics"));
}

} // namespace
} // namespace kelvane
