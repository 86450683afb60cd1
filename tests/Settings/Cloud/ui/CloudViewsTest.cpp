#include "ImportTestSupport.h"
#include "Platform/Cloud/FolderStore.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "QtTestSupport.h"
#include "RecordingChannelFixture.h"
#include "Settings/App/SettingsController.h"
#include "Settings/Cloud/CloudStore.h"
#include "Settings/Cloud/UploadController.h"
#include "Settings/ConfigManager.h"
#include "Settings/ui/Cloud/CloudViews.h"
#include "Settings/ui/QtMainQueueDriver.h"
#include "Settings/ui/SettingsWindow.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QProgressBar>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTableWidget>

#include <chrono>
#include <sys/mount.h>
#include <thread>

namespace fs = std::filesystem;

namespace kelvane::test {
namespace {

// Serves Qt and the main queue until pred() holds, at most 20 s.
bool waitUntil(const std::function<bool()>& pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

template <class T>
T* find(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) {
            if (w->objectName() == name)
                if (auto* t = qobject_cast<T*>(w)) return t;
            if (auto* t = w->findChild<T*>(name); t && t->isVisible()) return t;
        }
    return nullptr;
}

// The store line at the foot of a tab: it fits the page and still ends with the account,
// the whole line being its tooltip.
void expectStoreLineShowsTheAccount(QWidget& view, const QString& account) {
    auto* line = view.findChild<QLabel*>("storeText");
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->toolTip().endsWith("账号：" + account)) << line->toolTip().toStdString();
    EXPECT_TRUE(line->text().endsWith("账号：" + account)) << line->text().toStdString();
    EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->contentsRect().width());
    EXPECT_LE(line->geometry().right(), view.width());
}

// The progress sheet once its job has failed or finished (Done enabled); null after 20 s.
QDialog* finishedSheet() {
    QDialog* sheet = nullptr;
    const bool done = waitUntil([&] {
        sheet = find<QDialog>("progress");
        auto* button = sheet ? sheet->findChild<QPushButton*>("doneButton") : nullptr;
        return button && button->isEnabled();
    });
    return done ? sheet : nullptr;
}

// Whether one of the sheet's labels holds every one of `words`.
bool sheetSays(QDialog& sheet, std::initializer_list<const char*> words) {
    for (auto* label : sheet.findChildren<QLabel*>()) {
        bool all = true;
        for (const char* w : words) all = all && label->text().contains(QString::fromUtf8(w));
        if (all) return true;
    }
    return false;
}

class CloudViewsTest : public RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        qtApp();
        driver_ = std::make_unique<ui::QtMainQueueDriver>(plat::MainQueue::shared());
        // Long enough that the store line does not fit the page.
        store_ = taviro::test::freshDir("store") / "团队共享的码表与备份-一个相当长的文件夹名字";
        fs::create_directories(store_);
        config_ = std::make_unique<ConfigManager>(taviro::test::freshDir("config"));
        useAccount("ann");
    }
    void TearDown() override {
        for (QWidget* w : QApplication::topLevelWidgets()) w->close();
        waitUntil([] { return !plat::MainQueue::shared().hasPendingBlocks(); });
        QApplication::processEvents();
        driver_.reset();
        RecordingChannelFixture::TearDown();
    }
    void useAccount(const std::string& name) {
        config_->configData[kCloudStoreFolderKey] = store_.string();
        config_->configData[kCloudAccountNameKey] = name;
    }
    std::unique_ptr<QWidget> tab(QWidget* (*factory)(const ui::PageContext&), QSize size) {
        std::unique_ptr<QWidget> view(factory(ui::PageContext{nullptr, config_.get(), nullptr}));
        view->resize(size);
        view->show();
        QApplication::processEvents();
        return view;
    }
    // Shares a table as `account` through the upload sheet's presenter.
    void share(const std::string& account, const std::string& name, const std::string& text) {
        const fs::path file = taviro::test::freshDir("share") / (name + ".txt");
        ASSERT_TRUE(plat::writeFileAtomically(file, text));
        auto sheet = UploadController::create(makeCloudContainer({store_, account, {}}), plat::Paths::userFolder());
        sheet->viewDidLoad();
        sheet->selectFile(file);
        sheet->name = name;
        sheet->nickname = account;
        sheet->des = name + " 的说明：常用字词，适合日常输入。";
        sheet->doUpload();
        ASSERT_TRUE(waitUntil([&] { return sheet->closed; }));
    }

    std::unique_ptr<ui::QtMainQueueDriver> driver_;
    fs::path store_;
    std::unique_ptr<ConfigManager> config_;
};

TEST_F(CloudViewsTest, SharingScreenListsDownloadsAndOpensItsSheets) {
    share("ann", "五笔86", "a\tb\nc\td\ne\tf\n");
    share("ann", "郑码", "x\ty\n");
    useAccount("bob");
    auto view = tab(ui::makeQvCloudView, {600, 390});
    auto* table = view->findChild<QTableWidget*>("tableView");
    ASSERT_TRUE(waitUntil([&] { return table->rowCount() == 2; }));
    EXPECT_EQ(view->findChild<QLabel*>("codeTableName")->text(), QString::fromUtf8(table->item(0, 0)->text().toUtf8()));
    EXPECT_FALSE(view->findChild<QPushButton*>("editButton")->isVisible());
    table->selectRow(0);
    QApplication::processEvents();
    EXPECT_TRUE(saveScreenshot(*view, "qvcloud"));
    expectStoreLineShowsTheAccount(*view, "bob");

    // Download: the file lands in the user folder, the sheet closes.
    const QString name = table->item(0, 0)->text();
    view->findChild<QPushButton*>("downloadButton")->click();
    const fs::path placed = plat::Paths::userFolder() / (name.toStdString() + "-ann.txt");
    EXPECT_TRUE(waitUntil([&] { return fs::exists(placed) && !find<QDialog>("progress"); }));

    // The progress sheet as a transfer shows it.
    auto sheet = ui::presentProgressSheet(view.get());
    sheet->setStringValue("正在下载...");
    sheet->setDoubleValue(40);
    QApplication::processEvents();
    auto* progress = find<QDialog>("progress");
    ASSERT_TRUE(progress);
    EXPECT_TRUE(saveScreenshot(*progress, "qvcloud-progress-sheet"));
    sheet->dismiss();

    // A new share: the sheet of the current kind.
    view->findChild<QTabBar*>("kindSelector")->setCurrentIndex(2);
    ASSERT_TRUE(waitUntil([&] { return table->rowCount() == 0; }));
    view->findChild<QPushButton*>("uploadButton")->click();
    auto* uploader = find<QDialog>("uploader");
    ASSERT_TRUE(uploader);
    EXPECT_EQ(uploader->findChild<QLabel*>("hit")->text(), "分享一份输入方案表");
    EXPECT_EQ(uploader->findChild<QLabel*>("pathIndicator")->text(), "...");
    uploader->findChild<QPushButton*>("uploadButton")->click();
    auto* alert = find<QMessageBox>("alert");
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "不能留空");
    EXPECT_TRUE(saveScreenshot(*alert, "qvcloud-upload-empty-alert"));
    alert->close();
    EXPECT_TRUE(saveScreenshot(*uploader, "qvcloud-upload-sheet"));
    uploader->findChild<QPushButton*>("closeButton")->click();
    EXPECT_TRUE(waitUntil([&] { return !find<QDialog>("uploader"); }));
}

// A download the store refuses says why in the progress sheet.
TEST_F(CloudViewsTest, ARefusedDownloadSaysWhyInTheSheet) {
    share("ann", "五笔86", "a\tb\n");
    const fs::path assets = store_ / kCloudContainerIdentifier / "Public" / "Assets";
    const fs::path asset = fs::directory_iterator(fs::directory_iterator(assets)->path())->path();
    const fs::path outside = taviro::test::freshDir("outside") / "secret.txt";
    ASSERT_TRUE(plat::writeFileAtomically(outside, "secret"));
    fs::remove(asset);
    fs::create_hard_link(outside, asset);
    useAccount("bob");
    auto view = tab(ui::makeQvCloudView, {600, 390});
    auto* table = view->findChild<QTableWidget*>("tableView");
    ASSERT_TRUE(waitUntil([&] { return table->rowCount() == 1; }));
    table->selectRow(0);
    QApplication::processEvents();
    view->findChild<QPushButton*>("downloadButton")->click();
    QDialog* sheet = finishedSheet();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheetSays(*sheet, {"另有硬链接"}));
    EXPECT_TRUE(saveScreenshot(*sheet, "qvcloud-refused-download"));
}

TEST_F(CloudViewsTest, OwnRecordsOpenTheEditSheetAndNoAccountCoversTheScreen) {
    share("ann", "我的双拼", "x\ty\n");
    auto view = tab(ui::makeQvCloudView, {600, 390});
    auto* table = view->findChild<QTableWidget*>("tableView");
    ASSERT_TRUE(waitUntil([&] { return table->rowCount() == 1; }));
    auto* edit = view->findChild<QPushButton*>("editButton");
    ASSERT_TRUE(edit->isVisible());
    edit->click();
    auto* uploader = find<QDialog>("uploader");
    ASSERT_TRUE(uploader);
    ASSERT_TRUE(waitUntil([&] { return uploader->findChild<QLabel*>("pathIndicator")->text() == "不变更"; }));
    EXPECT_EQ(uploader->findChild<QLineEdit*>("name")->text(), "我的双拼");
    EXPECT_EQ(uploader->findChild<QPushButton*>("uploadButton")->text(), "保存");
    EXPECT_TRUE(uploader->findChild<QPushButton*>("deleteButton")->isVisible());
    EXPECT_TRUE(saveScreenshot(*uploader, "qvcloud-edit-sheet"));
    uploader->findChild<QLineEdit*>("name")->setText("改名");
    Q_EMIT uploader->findChild<QLineEdit*>("name")->textEdited("改名");
    uploader->findChild<QPushButton*>("uploadButton")->click();
    ASSERT_TRUE(waitUntil([&] { return !find<QDialog>("uploader"); }));
    EXPECT_EQ(view->findChild<QLabel*>("codeTableName")->text(), "改名");

    useAccount("");
    auto blocked = tab(ui::makeQvCloudView, {600, 390});
    EXPECT_TRUE(blocked->findChild<QLabel*>("blockBox")->isVisible());
    EXPECT_TRUE(saveScreenshot(*blocked, "qvcloud-no-account"));
}

TEST_F(CloudViewsTest, BackupsPageBacksUpListsAndRestores) {
    // The settings store of the per-user folder, which the restore replaces.
    const fs::path per = plat::Paths::perUserFolder();
    fs::create_directories(per);
    ASSERT_TRUE(plat::writePlistFile(per / "config.plist",
                                     plat::PlistValue(plat::PlistValue::Dictionary{{kCloudStoreFolderKey, store_.string()},
                                                                                   {kCloudAccountNameKey, "ann"},
                                                                                   {"CodeTableName", "不使用主码表"},
                                                                                   {"AssistPlanName", "不使用辅码"},
                                                                                   {"BootButtonName", "BootButtons.plist"},
                                                                                   {"DisableDatabase", true},
                                                                                   {"InputPlanName", "小鹤"},
                                                                                   {"FontSize", 16}})));
    ASSERT_TRUE(plat::writeFileAtomically(per / "silence.plist", "<plist><dict/></plist>"));
    config_ = std::make_unique<ConfigManager>(per);
    auto view = tab(ui::makeBackupsView, {450, 300});
    auto* table = view->findChild<QTableWidget*>("tableView");
    view->findChild<QPushButton*>("backupButton")->click();
    auto* prompt = find<QDialog>("prompt");
    ASSERT_TRUE(prompt);
    EXPECT_TRUE(saveScreenshot(*prompt, "backups-prompt"));
    prompt->findChild<QLineEdit*>("promptField")->setText("换电脑之前");
    prompt->findChild<QPushButton*>("promptOK")->click();
    ASSERT_TRUE(waitUntil([&] { return table->rowCount() == 1; }));
    EXPECT_EQ(table->item(0, 1)->text(), "Linux");
    EXPECT_EQ(table->item(0, 2)->text(), "换电脑之前");
    table->selectRow(0);
    QApplication::processEvents();
    EXPECT_TRUE(saveScreenshot(*view, "backups"));
    expectStoreLineShowsTheAccount(*view, "ann");

    view->findChild<QPushButton*>("recoverButton")->click();
    auto* confirm = find<QMessageBox>("alert");
    ASSERT_TRUE(confirm);
    EXPECT_EQ(confirm->text(), "即将从存储取回备份");
    EXPECT_TRUE(saveScreenshot(*confirm, "backups-restore-confirm"));
    channel_->clear();
    confirm->buttons().at(0)->text() == "确定" ? confirm->buttons().at(0)->click() : confirm->buttons().at(1)->click();
    ASSERT_TRUE(waitUntil([&] { return posted().size() >= 6; })) << ::testing::PrintToString(posted());
    EXPECT_EQ(posted(), (std::vector<std::string>{"okToUse=false", "closeDatabase", "needsReloadDBLink",
                                                  "configNeedsReload", "okToUse=true", "setFontSize=16"}));

    useAccount("");
    auto blocked = tab(ui::makeBackupsView, {450, 300});
    EXPECT_TRUE(blocked->findChild<QLabel*>("block")->isVisible());
    EXPECT_TRUE(saveScreenshot(*blocked, "backups-no-account"));
}

// The store's refusal in the status line wraps within the page, whatever its length;
// with no refusal the line takes no room.
TEST_F(CloudViewsTest, TheStatusLineWrapsTheStoresRefusal) {
    const fs::path container = store_ / kCloudContainerIdentifier;
    fs::create_directories(container / "Private-renamed" / plat::cloud::userRecordNameForAccount("ann"));
    auto view = tab(ui::makeBackupsView, {450, 300});
    auto* status = view->findChild<QLabel*>("statusText");
    ASSERT_TRUE(status);
    ASSERT_TRUE(waitUntil([&] { return status->isVisible() && !status->text().isEmpty(); }));
    QApplication::processEvents();
    EXPECT_TRUE(status->text().contains("改回 Private")) << status->text().toStdString();
    EXPECT_LE(status->geometry().right(), view->width());
    EXPECT_GE(status->geometry().left(), 0);
    // All of it shows: as many lines as it needs, none cut.
    EXPECT_GE(status->height(), status->heightForWidth(status->width()));
    EXPECT_GT(status->height(), 2 * status->fontMetrics().lineSpacing());
    EXPECT_LE(view->minimumSizeHint().width(), view->width());
    EXPECT_TRUE(saveScreenshot(*view, "backups-refused"));
    expectStoreLineShowsTheAccount(*view, "ann");

    fs::rename(container / "Private-renamed", container / "Private");
    auto fine = tab(ui::makeBackupsView, {450, 300});
    auto* none = fine->findChild<QLabel*>("statusText");
    ASSERT_TRUE(waitUntil([&] { return !fine->findChild<QProgressBar*>("indicator")->isVisible(); }));
    EXPECT_TRUE(none->text().isEmpty());
    EXPECT_FALSE(none->isVisible());
}

// A store folder set with a control character is not used: both tabs say so in their
// status line once the list is read, and the store line names the default place in use.
TEST_F(CloudViewsTest, AStoreFolderWithAControlCharacterIsToldInTheStatusLine) {
    config_->configData[kCloudStoreFolderKey] = store_.string() + "\n";
    struct Tab {
        const char* name;
        QWidget* (*factory)(const ui::PageContext&);
        QSize size;
        const char* busy;
    };
    for (const Tab& t : {Tab{"backups", ui::makeBackupsView, {450, 300}, "indicator"},
                         Tab{"qvcloud", ui::makeQvCloudView, {600, 390}, "loading"}}) {
        SCOPED_TRACE(t.name);
        auto view = tab(t.factory, t.size);
        auto* status = view->findChild<QLabel*>("statusText");
        ASSERT_TRUE(status);
        QProgressBar* busy = view->findChild<QProgressBar*>(t.busy);
        ASSERT_TRUE(busy);
        ASSERT_TRUE(waitUntil([&] { return !busy->isVisible(); }));
        QApplication::processEvents();
        EXPECT_TRUE(status->isVisible());
        EXPECT_TRUE(status->text().startsWith("设置中的存储位置（CloudStoreFolder）含控制字符")) << status->text().toStdString();
        EXPECT_TRUE(view->findChild<QLabel*>("storeText")->toolTip().contains(
            QString::fromStdString(CloudStoreSettings::defaultFolder().string())));
        EXPECT_TRUE(saveScreenshot(*view, std::string(t.name) + "-store-folder-refused"));
    }
}

// A backup into a store mounted read-only says in its sheet what the folder needs.
TEST_F(CloudViewsTest, ABackupIntoAReadOnlyStoreSaysWhatTheFolderNeeds) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
    if (::mount("tmpfs", store_.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount";
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{store_};
    const fs::path per = plat::Paths::perUserFolder();
    fs::create_directories(per);
    ASSERT_TRUE(plat::writePlistFile(per / "config.plist",
                                     plat::PlistValue(plat::PlistValue::Dictionary{{kCloudStoreFolderKey, store_.string()},
                                                                                   {kCloudAccountNameKey, "ann"}})));
    config_ = std::make_unique<ConfigManager>(per);
    auto view = tab(ui::makeBackupsView, {450, 300});
    ASSERT_TRUE(waitUntil([&] { return !view->findChild<QProgressBar*>("indicator")->isVisible(); }));
    ASSERT_EQ(::mount(nullptr, store_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    view->findChild<QPushButton*>("backupButton")->click();
    auto* prompt = find<QDialog>("prompt");
    ASSERT_TRUE(prompt);
    prompt->findChild<QPushButton*>("promptOK")->click();
    QDialog* sheet = finishedSheet();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheetSays(*sheet, {"只能读取", "CloudStoreFolder"}));
    EXPECT_TRUE(saveScreenshot(*sheet, "backups-read-only-store"));
}

TEST_F(CloudViewsTest, TheSettingsWindowShowsBothTabs) {
    ui::registerPages();
    SettingsController controller(*config_);
    ui::SettingsWindow window(controller, *config_);
    window.show();
    for (int i : {3, 4}) {
        window.tabBar()->setCurrentIndex(i);
        QApplication::processEvents();
        QWidget* page = window.findChild<QWidget*>(i == 3 ? "qvcloud" : "backups");
        ASSERT_TRUE(page);
        EXPECT_TRUE(page->findChild<QPushButton*>(i == 3 ? "downloadButton" : "backupButton"));
        EXPECT_TRUE(saveScreenshot(window, i == 3 ? "window-qvcloud" : "window-backups"));
    }
}

} // namespace
} // namespace kelvane::test
