#include "SettingsWindowFixture.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Foundation/Paths.h"
#include "Settings/App/SettingsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/DatabaseFile.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/PopOver.h"
#include "Settings/ui/QtMainQueueDriver.h"
#include "Settings/ui/SettingsWindow.h"
#include "SharedLib/contract/ApplicationName.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include <fstream>
#include <optional>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

class PagesViewTest : public test::SettingsWindowFixture {
protected:
    template <class T> T* find(const char* name) const { return findAnywhere<T>(name); }
    std::unique_ptr<ConfigManager> saved() const { return std::make_unique<ConfigManager>(folder_); }

    // An install of the uninstall script of its own, found by Kelvane, and a stand-in for
    // pkexec (a shell script body: "$1" the shell, "$2" the script, then its arguments)
    // first on the PATH, for as long as it lives.
    struct FakeInstall {
        FakeInstall(const std::string& pkexec) {
            const fs::path install = taviro::test::freshDir("install");
            const auto script = plat::Paths::resourcePath(plat::Bundle::Kelvane, "uninstall", "sh");
            EXPECT_TRUE(script);
            fs::create_directories(install / "share" / "Kelvane");
            fs::create_directories(install / "fakebin");
            if (script) fs::copy_file(*script, install / "share" / "Kelvane" / "uninstall.sh");
            std::ofstream(install / "fakebin" / "pkexec") << "#!/bin/sh\n" << pkexec;
            fs::permissions(install / "fakebin" / "pkexec", fs::perms::owner_all);
            resourcesWere = std::getenv("KELVANE_RESOURCES") ? std::getenv("KELVANE_RESOURCES") : "";
            pathWas = std::getenv("PATH") ? std::getenv("PATH") : "";
            ::setenv("KELVANE_RESOURCES", (install / "share" / "Kelvane").c_str(), 1);
            ::setenv("PATH", ((install / "fakebin").string() + ":" + pathWas).c_str(), 1);
        }
        ~FakeInstall() {
            ::setenv("PATH", pathWas.c_str(), 1);
            if (resourcesWere.empty()) ::unsetenv("KELVANE_RESOURCES");
            else ::setenv("KELVANE_RESOURCES", resourcesWere.c_str(), 1);
        }
        std::string resourcesWere, pathWas;
    };
};

TEST_F(PagesViewTest, GeneralTabControlsReachTheSettingsAndTheInputMethod) {
    auto* emoji = find<QCheckBox>("noEmojiCandidate");
    ASSERT_TRUE(emoji);
    EXPECT_TRUE(emoji->isChecked());
    emoji->click();
    EXPECT_TRUE(saved()->noEmoji);
    auto* layout = find<QComboBox>("candidateBarLayout");
    ASSERT_TRUE(layout);
    layout->setCurrentIndex(1);
    emit layout->activated(1);
    EXPECT_TRUE(saved()->verticalCandidates);
    EXPECT_FALSE(find<QComboBox>("candidateNumber")->isEnabled());
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "configNeedsReload", "switchCandidatesPanel=竖排候选栏"}));
    EXPECT_FALSE(find<QPushButton>("candidateFontButton")->isEnabled());
    EXPECT_FALSE(find<QComboBox>("s2tType")->isEnabled());
    find<QCheckBox>("s2t")->click();
    EXPECT_TRUE(find<QComboBox>("s2tType")->isEnabled());

    // Help pop-over: 20 points larger than its text, the text 10 points in.
    auto* helpButton = find<QPushButton>("autoSpaceHelp");
    ASSERT_TRUE(helpButton);
    helpButton->click();
    QApplication::processEvents();
    auto* popover = find<QWidget>("popOver");
    ASSERT_TRUE(popover);
    auto* text = popover->findChild<QLabel*>("popOverText");
    EXPECT_EQ(popover->size(), text->size() + QSize(20, 20));
    EXPECT_EQ(text->pos(), QPoint(10, 10));
    EXPECT_TRUE(test::saveScreenshot(*popover, "popover-autoSpaceHelp"));
    popover->close();
    EXPECT_FALSE(ui::showPopOver("x", nullptr));
}

TEST_F(PagesViewTest, ColourButtonOpensTheColourDialogAndStoresEachPick) {
    find<QCheckBox>("candidateColorBox")->click();
    auto* dark = find<QPushButton>("candidateColorButtonDark");
    ASSERT_TRUE(dark->isEnabled());
    dark->click();
    QApplication::processEvents();
    auto* panel = find<QColorDialog>("colorPanel");
    ASSERT_TRUE(panel);
    channel_->clear();
    panel->setCurrentColor(QColor(30, 144, 255));
    EXPECT_EQ(saved()->candidateFontColorDark, 30 * 65536 + 144 * 256 + 255);
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload"}));
    EXPECT_TRUE(test::saveScreenshot(*window_, "tab-general-custom-colours"));
    panel->close();
}

TEST_F(PagesViewTest, InputModePagesSwitchTheModeAndTheWindowHeight) {
    controller_->selectTabViewItemAtIndex(1);
    auto* tabs = find<QTabWidget>("inputModeTabView");
    ASSERT_TRUE(tabs);
    EXPECT_EQ(tabs->currentIndex(), 0);
    tabs->setCurrentIndex(1);
    EXPECT_FALSE(saved()->quanPin);
    EXPECT_EQ(controller_->contentSize(), (Size{530, 253}));
    EXPECT_TRUE(test::saveScreenshot(*window_, "tab-codetable-doublepinyin"));
    tabs->setCurrentIndex(3);
    EXPECT_EQ(controller_->contentSize(), (Size{530, 440}));
    EXPECT_TRUE(test::saveScreenshot(*window_, "tab-codetable-combined"));
    tabs->setCurrentIndex(0);
    auto* gn = find<QCheckBox>("gn2ngBox");
    ASSERT_TRUE(gn);
    gn->click();
    EXPECT_TRUE(saved()->gn2ng);
}

TEST_F(PagesViewTest, SystemTabBoxesEditorsAndAlerts) {
    controller_->selectTabViewItemAtIndex(2);
    QApplication::processEvents();
    auto* silenceButton = find<QPushButton>("silenceButton");
    ASSERT_TRUE(silenceButton);
    EXPECT_FALSE(silenceButton->isEnabled());
    find<QCheckBox>("silenceBox")->click();
    EXPECT_TRUE(silenceButton->isEnabled());
    EXPECT_TRUE(saved()->silence);
    find<QCheckBox>("l2n")->click();
    EXPECT_TRUE(saved()->l2n);
    find<QCheckBox>("tab")->click();
    EXPECT_TRUE(saved()->tabPage);

    channel_->clear();
    find<QPushButton>("gotoCleanUserdict")->click();
    QApplication::processEvents();
    QPointer<QMessageBox> alert = find<QMessageBox>("cleanUserDictAlert");
    ASSERT_TRUE(alert);
    EXPECT_TRUE(test::saveScreenshot(*alert, "sheet-clean-userdict"));
    alert->buttons().last()->click(); // 取消
    QApplication::processEvents();
    EXPECT_TRUE(posted().empty());
    find<QPushButton>("gotoCleanUserdict")->click();
    QApplication::processEvents();
    alert = find<QMessageBox>("cleanUserDictAlert");
    for (auto* b : alert->buttons())
        if (b->text() == "继续") b->click();
    QApplication::processEvents();
    EXPECT_EQ(posted(), (std::vector<std::string>{"resetUserDict"}));

    // Uninstall, from an install of its own, with a stand-in for pkexec that runs the
    // script's dry run: the confirmation and the result say where the backups stay.
    std::optional<FakeInstall> install;
    install.emplace("shell=$1 script=$2\nshift 2\nexec \"$shell\" \"$script\" --dry-run \"$@\"\n");
    const std::string kept = (plat::Paths::libraryFolder() / "TaviroMacCloudStore").string();
    for (const bool confirm : {false, true}) {
        find<QPushButton>("uninstall")->click();
        const auto shown = [&](const char* name) { return this->alert() && this->alert()->objectName() == name; };
        ASSERT_TRUE(spinUntil([&] { return shown("uninstallAlert"); }));
        alert = this->alert();
        EXPECT_NE(alert->informativeText().toStdString().find("卸载后保留在：\n" + kept), std::string::npos)
            << alert->informativeText().toStdString();
        if (!confirm) {
            EXPECT_TRUE(test::saveScreenshot(*alert, "sheet-uninstall"));
            alert->buttons().last()->click(); // 取消
            QApplication::processEvents();
            continue;
        }
        for (auto* b : alert->buttons())
            if (b->text() == "卸载") b->click();
        ASSERT_TRUE(spinUntil([&] { return shown("uninstallResultAlert"); }));
        QPointer<QMessageBox> result = this->alert();
        EXPECT_EQ(result->text(), "塔维输入法已卸载");
        EXPECT_EQ(result->informativeText().toStdString(), "你的备份保留在：\n" + kept);
        EXPECT_EQ(result->buttons().size(), 1);
        EXPECT_TRUE(test::saveScreenshot(*result, "sheet-uninstall-result"));
        result->buttons().first()->click();
        QApplication::processEvents();
    }
    install.reset();

    // Import: the input method keeps its databases while the dialog is open; a
    // cancelled import tells it nothing.
    channel_->clear();
    find<QPushButton>("gotoImportUserdict")->click();
    QApplication::processEvents();
    QPointer<QDialog> panel = find<QDialog>("importPanel");
    ASSERT_TRUE(panel);
    EXPECT_TRUE(posted().empty());
    panel->reject();
    QApplication::processEvents();
    EXPECT_TRUE(posted().empty());
}

// pkexec refuses the administrator's authorisation, with its English lines: the result
// says in Chinese that it was refused and that nothing was removed, and where the
// backups are.
TEST_F(PagesViewTest, ARefusedUninstallAuthorisationIsToldInChinese) {
    controller_->selectTabViewItemAtIndex(2);
    FakeInstall install("echo 'Error executing command as another user: Not authorized' >&2\n"
                        "echo >&2\necho 'This incident has been reported.' >&2\nexit 127\n");
    const std::string kept = (plat::Paths::libraryFolder() / "TaviroMacCloudStore").string();
    find<QPushButton>("uninstall")->click();
    const auto shown = [&](const char* name) { return this->alert() && this->alert()->objectName() == name; };
    ASSERT_TRUE(spinUntil([&] { return shown("uninstallAlert"); }));
    for (auto* b : this->alert()->buttons())
        if (b->text() == "卸载") b->click();
    ASSERT_TRUE(spinUntil([&] { return shown("uninstallResultAlert"); }));
    QPointer<QMessageBox> result = this->alert();
    EXPECT_EQ(result->text(), "卸载没有完成");
    EXPECT_EQ(result->informativeText().toStdString(), "管理员授权被拒绝，什么也没有删除。\n\n你的备份在：\n" + kept);
    EXPECT_TRUE(test::saveScreenshot(*result, "sheet-uninstall-refused"));
    result->buttons().first()->click();
    QApplication::processEvents();
}

// A damaged dictionary chosen for import: the alert says so in the user's words, without
// SQLite's own.
TEST_F(PagesViewTest, ADamagedUserDictionaryIsRefusedInAnAlert) {
    const fs::path chosen = taviro::test::freshDir("damaged") / "mine.db";
    {
        sqlkit::SQLDatabase db(chosen.string());
        ASSERT_TRUE(db.open());
        // Sound pages whose index no longer matches its table: every row is missing from it.
        ASSERT_TRUE(db.executeStatements(
            "CREATE TABLE Quanpin ('Py' TEXT NOT NULL ,'Word' TEXT NOT NULL ,'Weight' double NOT NULL , "
            "'New' BOOL NOT NULL DEFAULT true); CREATE INDEX Quanpin_index on Quanpin ('Py' DESC, 'Weight' DESC);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
            "INSERT INTO Quanpin SELECT 'py' || i, 'w' || i, i, 1 FROM n;"
            "PRAGMA writable_schema = ON;"
            "UPDATE sqlite_master SET sql = 'CREATE INDEX Quanpin_index on Quanpin (Word)' "
            "WHERE name = 'Quanpin_index';"));
        db.close();
    }
    controller_->selectTabViewItemAtIndex(2);
    QApplication::processEvents();
    find<QPushButton>("gotoImportUserdict")->click();
    QApplication::processEvents();
    QPointer<QFileDialog> panel = find<QFileDialog>("importPanel");
    ASSERT_TRUE(panel);
    auto* name = panel->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_TRUE(name);
    name->setText(QString::fromStdString(chosen.string()));
    ASSERT_EQ(panel->selectedFiles().value(0).toStdString(), chosen.string());
    static_cast<QDialog*>(panel.data())->done(QDialog::Accepted);
    ASSERT_TRUE(spinUntil([&] { return find<QMessageBox>("errorAlert") != nullptr; }));
    auto* box = find<QMessageBox>("errorAlert");
    EXPECT_EQ(box->text().toStdString(), "所选文件已损坏（未通过数据库完整性检查），用户词库未改变");
    EXPECT_TRUE(test::saveScreenshot(*box, "alert-import-damaged-userdict"));
    box->close();
    QApplication::processEvents();
    EXPECT_TRUE(posted().empty());
}

// A link in place of one of Kelvane's databases is set aside when the file is opened,
// and the window says so once.
TEST_F(PagesViewTest, ADatabaseSetAsideIsToldOverTheWindow) {
    ui::QtMainQueueDriver driver(plat::MainQueue::shared());
    const fs::path dir = taviro::test::freshDir("own");
    const fs::path outside = taviro::test::freshDir("outside") / "other.db";
    std::ofstream(outside) << "another program's file";
    fs::create_symlink(outside, dir / "custom.db");
    sqlkit::SQLDatabase db((dir / "custom.db").string());
    ASSERT_TRUE(DatabaseFile::openOwn(db, true));
    db.close();
    const auto shown = [&] {
        QMessageBox* box = alert();
        return box && box->objectName() == "settingsNotice" ? box : nullptr;
    };
    ASSERT_TRUE(spinUntil([&] { return shown() != nullptr; }));
    const std::string text = shown()->text().toStdString();
    EXPECT_EQ(text.rfind("词库文件已移开：custom.db 是一个链接，未被使用，已改名为 custom.db.unusable-", 0), 0u) << text;
    EXPECT_TRUE(test::saveScreenshot(*shown(), "alert-database-set-aside"));
    shown()->close();
    QApplication::processEvents();
    EXPECT_TRUE(DatabaseFile::takeSetAsideMessage().empty()) << "told once";
}

TEST_F(PagesViewTest, ResetPanelPostsItsCommandAndCloses) {
    controller_->selectTabViewItemAtIndex(2);
    find<QPushButton>("resetButton")->click();
    QApplication::processEvents();
    QPointer<QDialog> panel = find<QDialog>("resetPanel");
    ASSERT_TRUE(panel);
    EXPECT_TRUE(test::saveScreenshot(*panel, "sheet-reset"));
    panel->findChild<QPushButton*>("resetCustom")->click();
    QApplication::processEvents();
    EXPECT_TRUE(!panel || !panel->isVisible());
    EXPECT_EQ(posted(), (std::vector<std::string>{"resetCustom"}));
}

TEST_F(PagesViewTest, SilenceEditorAddsFromDesktopEntriesAndEditsInPlace) {
    const fs::path apps = fs::path(std::getenv("XDG_DATA_HOME")) / "applications";
    fs::create_directories(apps);
    std::ofstream(apps / "org.example.Notes.desktop") << "[Desktop Entry]\nType=Application\nName=Notes\n"
                                                        "Exec=notes %U\n";
    std::ofstream(apps / "org.example.Chat.desktop") << "[Desktop Entry]\nType=Application\nName=Chat\n"
                                                       "Exec=/usr/bin/chat-app --new\n";
    // Each picked application is listed under the pattern of its program and its entry's id.
    const std::string notes = contract::silencePattern(std::vector<std::string>{"notes", "org.example.Notes"}),
                      chatApp = contract::silencePattern(std::vector<std::string>{"chat-app", "org.example.Chat"});
    config_->silenceDict.clear();
    controller_->openSubPage("silence");
    QApplication::processEvents();
    auto* sheet = find<QDialog>("silenceSheet");
    ASSERT_TRUE(sheet);
    auto* table = sheet->findChild<QTableWidget*>("tableView");
    ASSERT_TRUE(table);
    sheet->findChild<QPushButton*>("addButton")->click();
    QApplication::processEvents();
    auto* picker = find<QDialog>("applicationPicker");
    ASSERT_TRUE(picker);
    auto* list = picker->findChild<QListWidget*>("applications");
    ASSERT_GE(list->count(), 2);
    // Each line says under which names its application will be silenced.
    EXPECT_EQ(list->findItems("Notes  (notes, org.example.Notes)", Qt::MatchExactly).size(), 1);
    list->selectAll();
    EXPECT_TRUE(test::saveScreenshot(*picker, "sheet-application-picker"));
    picker->accept();
    QApplication::processEvents();
    EXPECT_GE(table->rowCount(), 2);
    EXPECT_EQ(saved()->silenceDict.at(notes), "Notes");
    EXPECT_TRUE(test::saveScreenshot(*sheet, "sheet-silence"));

    int chat = -1;
    for (int r = 0; r < table->rowCount(); ++r)
        if (table->item(r, 0)->text().toStdString() == chatApp) chat = r;
    ASSERT_GE(chat, 0);
    table->item(chat, 1)->setText("Chat app");
    QApplication::processEvents();
    EXPECT_EQ(saved()->silenceDict.at(chatApp), "Chat app");
    for (int r = 0; r < table->rowCount(); ++r)
        if (table->item(r, 0)->text().toStdString() == chatApp) chat = r;
    table->item(chat, 0)->setText(""); // refused
    QApplication::processEvents();
    EXPECT_TRUE(saved()->silenceDict.count(chatApp));
    table->selectRow(chat);
    sheet->findChild<QPushButton*>("deleteButton")->click();
    EXPECT_FALSE(saved()->silenceDict.count(chatApp));
}

} // namespace
} // namespace kelvane
