#include "QtTestSupport.h"
#include "RecordingChannelFixture.h"
#include "Settings/App/AppDelegate.h"
#include "Settings/App/AppLifecycle.h"
#include "Settings/App/SettingsController.h"
#include "Settings/ConfigManager.h"
#include "Platform/Dispatch/ManualDriver.h"
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/FileUtil.h"
#include "Settings/Pages/PbarController.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/SettingsWindow.h"
#include "support/BlockedLock.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>

#include <chrono>
#include <thread>

namespace kelvane {
namespace {

class SettingsWindowViewTest : public test::RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        test::qtApp();
        ui::registerPages();
        config_ = std::make_unique<ConfigManager>(taviro::test::freshDir("config"));
        controller_ = std::make_unique<SettingsController>(*config_);
        window_ = std::make_unique<ui::SettingsWindow>(*controller_, *config_);
        URLSchemeProcessor::setKeyWindow(controller_.get());
        window_->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        URLSchemeProcessor::setKeyWindow(nullptr);
        window_.reset();
        RecordingChannelFixture::TearDown();
    }

    QSize pageSize() const { return window_->page(controller_->selectedIndex())->parentWidget()->size(); }

    std::unique_ptr<ConfigManager> config_;
    std::unique_ptr<SettingsController> controller_;
    std::unique_ptr<ui::SettingsWindow> window_;
};

TEST_F(SettingsWindowViewTest, EveryTabOpensAtItsSizeAndIsPhotographed) {
    ASSERT_EQ(window_->tabBar()->count(), 5);
    const char* titles[] = {"偏好", "码表与方案", "系统", "栾舟云", "备份恢复"};
    const QSize sizes[] = {{550, 478}, {530, 172}, {500, 390}, {600, 390}, {450, 300}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(window_->tabBar()->tabText(i), QString::fromUtf8(titles[i]));
        window_->tabBar()->setCurrentIndex(i); // a click on the tab
        QApplication::processEvents();
        EXPECT_EQ(controller_->selectedIndex(), i);
        EXPECT_EQ(pageSize(), sizes[i]) << i;
        EXPECT_EQ(window_->size(), QSize(sizes[i].width(), sizes[i].height() + window_->tabBar()->sizeHint().height()));
        EXPECT_TRUE(test::saveScreenshot(*window_, std::string("tab-") +
                                                       std::string(kSettingsTabs[static_cast<size_t>(i)].identifier)));
    }
}

// What the input method stored in "config.plist" meanwhile shows when a page is shown
// again: on a return to its tab, and when the window comes back to the front.
TEST_F(SettingsWindowViewTest, PagesShowWhatTheInputMethodStoredMeanwhile) {
    config_->save();
    auto* s2t = window_->page(0)->findChild<QCheckBox*>("s2t");
    ASSERT_NE(s2t, nullptr);
    EXPECT_FALSE(s2t->isChecked());
    auto storeS2T = [&](bool on) {
        auto file = plat::readPlistFile(config_->configPath, plat::PlistValue::Type::Dictionary);
        ASSERT_TRUE(file.has_value());
        (*file)["S2T"] = on;
        ASSERT_TRUE(plat::writePlistFile(config_->configPath, *file));
    };

    storeS2T(true);
    window_->tabBar()->setCurrentIndex(1);
    window_->tabBar()->setCurrentIndex(0);
    QApplication::processEvents();
    EXPECT_TRUE(s2t->isChecked());
    EXPECT_TRUE(config_->s2t);

    storeS2T(false);
    QEvent activation(QEvent::ActivationChange);
    QApplication::setActiveWindow(window_.get());
    QApplication::sendEvent(window_.get(), &activation);
    QApplication::processEvents();
    EXPECT_FALSE(s2t->isChecked());
    EXPECT_FALSE(config_->s2t);
}

// A settings file found damaged when a page is shown again: an alert over the window
// says where the old file was kept.
TEST_F(SettingsWindowViewTest, ADamagedSettingsFileIsToldInAnAlert) {
    ASSERT_TRUE(plat::writeFileAtomically(config_->configPath, std::string("\xff\xfe not a property list")));
    window_->tabBar()->setCurrentIndex(1);
    QApplication::processEvents();
    QMessageBox* box = window_->findChild<QMessageBox*>("settingsNotice");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(box->text().contains("config.plist.damaged-")) << box->text().toStdString();
    // Why, in Chinese; the English detail is for the log only.
    EXPECT_TRUE(box->text().contains("不是 UTF-8 文本")) << box->text().toStdString();
    EXPECT_FALSE(box->text().contains("it is")) << box->text().toStdString();
    EXPECT_TRUE(window_->sheetOpen());
    EXPECT_TRUE(test::saveScreenshot(*box, "settings-notice"));
    box->accept();
    QApplication::processEvents();
    window_->tabBar()->setCurrentIndex(0);
    QApplication::processEvents();
    for (auto* other : window_->findChildren<QMessageBox*>("settingsNotice")) EXPECT_FALSE(other->isVisible());
}

// Quitting while the settings lock cannot be had: the alert left standing says the
// change was lost.
TEST_F(SettingsWindowViewTest, AChangeThatCannotBeSavedAtExitIsToldInAnAlert) {
    using namespace std::chrono_literals;
    config_->save();
    taviro::test::BlockedLock blocked(plat::configLockPath(config_->folder()), taviro::test::LockBlock::folder, "");
    ASSERT_TRUE(blocked.ready());
    config_->s2t = !config_->s2t;
    config_->save();
    const std::string unsaved = kelvane::saveSettingsBeforeExit(*config_, 200ms);
    ASSERT_FALSE(unsaved.empty());
    QMessageBox* box = ui::makeExitAlert(unsaved);
    box->show();
    QApplication::processEvents();
    EXPECT_TRUE(box->text().contains("设置未能保存")) << box->text().toStdString();
    EXPECT_TRUE(test::saveScreenshot(*box, "exit-alert-unsaved"));
    box->close();
}

#ifdef LOCK_HOLDER
// Another program holds the lock at quit: the alert says the change was lost without
// naming the input method as the holder; when a retry writes the change while the
// alert stands, the alert says it was saved after all.
TEST_F(SettingsWindowViewTest, TheExitAlertSaysWhenARetrySavedTheChange) {
    using namespace std::chrono_literals;
    config_->save();
    plat::ManualDriver driver(plat::MainQueue::shared());
    taviro::test::BlockedLock blocked(plat::configLockPath(config_->folder()),
                                      taviro::test::LockBlock::otherProcess, LOCK_HOLDER);
    ASSERT_TRUE(blocked.ready());
    config_->s2t = !config_->s2t;
    config_->save();
    const std::string unsaved = kelvane::saveSettingsBeforeExit(*config_, 200ms);
    ASSERT_FALSE(unsaved.empty());
    QMessageBox* box = ui::makeExitAlert([this, unsaved] { return kelvane::exitAlertText(*config_, unsaved); });
    QPointer<QMessageBox> alive(box);
    box->show();
    QApplication::processEvents();
    EXPECT_TRUE(box->text().contains("设置未能保存")) << box->text().toStdString();
    EXPECT_FALSE(box->text().contains("输入法")) << box->text().toStdString();
    EXPECT_TRUE(test::saveScreenshot(*box, "exit-alert-lock-held"));

    blocked.release();
    driver.advance(30s);
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (alive && !box->text().contains("设置已保存") && std::chrono::steady_clock::now() < until) {
        QApplication::processEvents();
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(alive);
    EXPECT_TRUE(box->text().contains("设置已保存")) << box->text().toStdString();
    EXPECT_TRUE(ConfigManager(config_->folder()).s2t == config_->s2t);
    EXPECT_TRUE(test::saveScreenshot(*box, "exit-alert-saved-after-all"));
    box->close();
}
#endif

// A click that saves while a folder stands where the settings lock belongs: the
// window answers at once, keeps the value, and tells the user once in an alert.
TEST_F(SettingsWindowViewTest, ASaveThatKeepsFailingIsToldInAnAlert) {
    using namespace std::chrono_literals;
    config_->save();
    channel_->clear();
    plat::ManualDriver driver(plat::MainQueue::shared());
    taviro::test::BlockedLock blocked(plat::configLockPath(config_->folder()), taviro::test::LockBlock::folder, "");
    ASSERT_TRUE(blocked.ready());
    auto* s2t = window_->page(0)->findChild<QCheckBox*>("s2t");
    ASSERT_NE(s2t, nullptr);
    const auto start = std::chrono::steady_clock::now();
    s2t->click();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_TRUE(config_->s2t);
    EXPECT_TRUE(channel_->log().empty());

    driver.advance(20s);
    QApplication::processEvents();
    const auto boxes = window_->findChildren<QMessageBox*>("settingsNotice");
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0]->isVisible());
    EXPECT_TRUE(boxes[0]->text().contains("设置暂时无法保存")) << boxes[0]->text().toStdString();
    EXPECT_TRUE(s2t->isChecked());
    EXPECT_TRUE(test::saveScreenshot(*boxes[0], "settings-save-failing"));
    boxes[0]->accept();

    blocked.release();
    driver.advance(6s);
    QApplication::processEvents();
    EXPECT_EQ(channel_->log(), std::vector<std::string>{"configNeedsReload"});
    EXPECT_TRUE(ConfigManager(config_->folder()).s2t);
}

TEST_F(SettingsWindowViewTest, URLsSelectTabsAndOpenSubPagesInTheWindow) {
    AppDelegate delegate;
    delegate.routeURL("taviromac2://tab/four");
    EXPECT_EQ(window_->tabBar()->currentIndex(), 3);
    EXPECT_EQ(pageSize(), QSize(600, 390));
    ui::registerSubPage("testPage", "测试", [](const ui::PageContext&) {
        auto* page = new QLabel("测试页");
        page->setObjectName("testPage");
        return page;
    });
    delegate.routeURL("taviromac2://functions/testPage");
    QApplication::processEvents();
    EXPECT_EQ(window_->tabBar()->currentIndex(), 2);
    QPointer<QDialog> sheet = window_->findChild<QDialog*>("testPageSheet");
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(sheet->findChild<QLabel*>("testPage"));
    // Under the open sheet a URL changes nothing.
    delegate.routeURL("taviromac2://tab/one");
    delegate.routeURL("taviromac2://functions/testPage");
    QApplication::processEvents();
    EXPECT_EQ(window_->tabBar()->currentIndex(), 2);
    EXPECT_EQ(window_->findChildren<QDialog*>("testPageSheet").size(), 1);
    ui::closeSheet(sheet->findChild<QLabel*>("testPage"));
    QApplication::processEvents();
    EXPECT_TRUE(!sheet || !sheet->isVisible());
    delegate.routeURL("taviromac2://tab/one");
    EXPECT_EQ(window_->tabBar()->currentIndex(), 0);
}

TEST_F(SettingsWindowViewTest, ProgressSheetFollowsItsPresenter) {
    auto model = ui::presentProgressSheet(window_.get());
    QApplication::processEvents();
    QPointer<QDialog> sheet = window_->findChild<QDialog*>("progress");
    ASSERT_TRUE(sheet);
    model->setStringValue("导入中...");
    model->setDoubleValue(37);
    auto* bar = sheet->findChild<QProgressBar*>("pbar");
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->value(), 370);
    EXPECT_EQ(sheet->findChild<QLabel*>("text")->text(), QString::fromUtf8("导入中..."));
    EXPECT_FALSE(sheet->findChild<QPushButton*>("doneButton")->isEnabled());
    EXPECT_TRUE(test::saveScreenshot(*sheet, "sheet-progress"));
    model->fail("码表编码格式错误");
    EXPECT_TRUE(sheet->findChild<QPushButton*>("doneButton")->isEnabled());
    EXPECT_TRUE(test::saveScreenshot(*sheet, "sheet-progress-failed"));
    sheet->findChild<QPushButton*>("doneButton")->click();
    QApplication::processEvents();
    EXPECT_TRUE(model->dismissed());
}

} // namespace
} // namespace kelvane
