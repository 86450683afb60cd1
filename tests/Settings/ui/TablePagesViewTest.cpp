#include "SettingsWindowFixture.h"
#include "Platform/Foundation/Paths.h"
#include "Settings/App/SettingsController.h"
#include "Settings/ConfigManager.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Settings/Functions/ModelManager.h"
#include "Settings/Tables/CustomPhraseEditor.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/QtMainQueueDriver.h"
#include "Settings/ui/SettingsWindow.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QThread>
#include <QClipboard>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

class TablePagesViewTest : public test::SettingsWindowFixture {
protected:
    // The input-mode pages share control names: the page in front is searched first.
    template <class T> T* find(const char* name) const {
        auto* tabs = window_->findChild<QTabWidget*>("inputModeTabView");
        if (tabs && tabs->currentWidget())
            if (T* found = tabs->currentWidget()->findChild<T*>(name)) return found;
        return window_->findChild<T*>(name);
    }
    ui::PageContext context() const { return {window_.get(), config_.get(), controller_.get()}; }
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

// A scheme in use that types ";" shows the semicolon switch on and fixed; one
// chosen on the page that does not frees it again.
TEST_F(TablePagesViewTest, DoublePinyinPageShowsTheSemicolonOfTheSchemeInUse) {
    fs::create_directories(plat::Paths::perUserFolder());
    fs::copy_file(fs::path(KELVANE_RESOURCE_DIR) / "微软双拼2003.plist", plat::Paths::perUserFolder() / "spScheme.plist",
                  fs::copy_options::overwrite_existing);
    fs::create_directories(plat::Paths::userFolder() / "KeyMaps");
    std::ofstream(plat::Paths::userFolder() / "KeyMaps" / "字母方案.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>Version</key><string>2.0</string><key>Yun</key><dict><key>k</key><string>ing</string></dict>"
           "</dict></plist>\n";
    config_->inputPlanName = "微软双拼2003";
    controller_->selectTabViewItemAtIndex(1);
    auto* tabs = window_->findChild<QTabWidget*>("inputModeTabView");
    ASSERT_TRUE(tabs);
    tabs->setCurrentIndex(1);
    QApplication::processEvents();

    auto* semicolon = find<QCheckBox>("quickExtraButton");
    ASSERT_TRUE(semicolon);
    EXPECT_TRUE(semicolon->isChecked());
    EXPECT_FALSE(semicolon->isEnabled());
    EXPECT_TRUE(test::saveScreenshot(*window_, "tab-codetable-doublepinyin-semicolon"));

    auto* schemes = find<QComboBox>("spSelector");
    ASSERT_TRUE(schemes);
    const int letters = schemes->findText("字母方案");
    ASSERT_GE(letters, 0);
    schemes->setCurrentIndex(letters);
    emit schemes->activated(letters);
    QApplication::processEvents();
    EXPECT_FALSE(semicolon->isChecked());
    EXPECT_TRUE(semicolon->isEnabled());
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

TEST_F(TablePagesViewTest, CombinedPageRebuildClosesItsSheetOrKeepsItWithTheMessage) {
    ui::QtMainQueueDriver driver(plat::MainQueue::shared());
    const fs::path text = plat::Paths::userFolder() / "mine.txt";
    fs::create_directories(text.parent_path());
    std::ofstream(text) << "你\tn\n好\th\n";
    controller_->selectTabViewItemAtIndex(1);
    auto* tabs = window_->findChild<QTabWidget*>("inputModeTabView");
    ASSERT_TRUE(tabs);
    tabs->setCurrentIndex(3);
    QApplication::processEvents();
    auto* main = find<QCheckBox>("mainCheckBox");
    auto* tables = find<QComboBox>("mainSelector");
    ASSERT_TRUE(main && tables);
    main->click();

    auto progressSheet = [] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == "progress" && top->isVisible()) return top;
        return static_cast<QWidget*>(nullptr);
    };
    auto pick = [&](bool expectClosed) {
        const int index = tables->findText("mine");
        ASSERT_GE(index, 0);
        tables->setCurrentIndex(index);
        emit tables->activated(index);
        ASSERT_TRUE(progressSheet());
        // Served until the rebuild has ended: the sheet closes, or its done button comes on.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 30000) {
            QApplication::processEvents();
            QThread::msleep(5);
            QWidget* sheet = progressSheet();
            if (!sheet) break;
            if (auto* done = sheet->findChild<QPushButton*>("doneButton"); done && done->isEnabled()) break;
        }
        EXPECT_EQ(progressSheet() == nullptr, expectClosed)
            << (progressSheet() ? progressSheet()->findChild<QLabel*>("text")->text().toStdString() : "");
    };

    pick(true);
    EXPECT_EQ(config_->codeTableName, "mine");
    EXPECT_EQ(config_->codeTableVersion, 1);
    EXPECT_TRUE(main->isChecked());

    fs::remove(text);
    pick(false);
    QWidget* sheet = progressSheet();
    ASSERT_TRUE(sheet);
    EXPECT_FALSE(sheet->findChild<QLabel*>("text")->text().isEmpty());
    EXPECT_TRUE(test::saveScreenshot(*sheet, "sheet-progress-combined-failed"));
    // The table in use stays, and the page says so.
    EXPECT_EQ(config_->codeTableName, "mine");
    EXPECT_EQ(config_->codeTableVersion, 1);
    EXPECT_TRUE(main->isChecked());
    EXPECT_TRUE(tables->isEnabled());
    sheet->findChild<QPushButton*>("doneButton")->click();
    QApplication::processEvents();
    EXPECT_FALSE(progressSheet());
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

TEST_F(TablePagesViewTest, SystemTabOpensTheWordLibraryPageWhenTheOptionIsOn) {
    controller_->selectTabViewItemAtIndex(2);
    QApplication::processEvents();
    auto* manage = find<QPushButton>("extendedButton");
    auto* option = find<QCheckBox>("extendedBox");
    ASSERT_TRUE(manage && option);
    if (!option->isChecked()) option->click();
    EXPECT_TRUE(config_->extendedDict);
    EXPECT_TRUE(manage->isEnabled());
    manage->click();
    QApplication::processEvents();
    EXPECT_TRUE(findAnywhere<QTableWidget>("extendedTable"));
    if (auto* sheet = findAnywhere<QDialog>("extendedSheet")) sheet->accept();
}

TEST_F(TablePagesViewTest, WordLibraryPageImportsATickedFileBehindTheProgressSheet) {
    ui::QtMainQueueDriver driver(plat::MainQueue::shared());
    config_->extendedDict = true;
    const fs::path folder = plat::Paths::userFolder() / "Extended";
    fs::create_directories(folder);
    std::ofstream(folder / "成语.txt") << "一心一意\tyi'xin'yi'yi\n三心二意\tsan'xin'er'yi\t7\n";
    std::ofstream(folder / "abc.TXT") << "坏\n";
    ASSERT_TRUE(ui::openSubPageSheet(context(), "extended"));
    QApplication::processEvents();
    auto* table = findAnywhere<QTableWidget>("extendedTable");
    ASSERT_TRUE(table);
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->rowHeight(0), 25);
    const auto nameOf = [&](int row) { return table->cellWidget(row, 0)->findChild<QLabel*>("nameLabel")->text(); };
    const auto boxOf = [&](int row) { return table->cellWidget(row, 0)->findChild<QCheckBox*>("checkBox"); };
    EXPECT_EQ(nameOf(0), QString("abc"));
    EXPECT_EQ(nameOf(1), QString("成语"));
    EXPECT_EQ(table->item(1, 1)->text(), QString("-- 条"));
    EXPECT_FALSE(boxOf(1)->isChecked());
    EXPECT_TRUE(fs::exists(folder / "abc.txt"));
    EXPECT_TRUE(test::saveScreenshot(*table->window(), "sheet-extended"));

    // Ticking 成语 imports it; the list then shows it first, ticked, with its count.
    boxOf(1)->click();
    ASSERT_TRUE(spinUntil([&] { return table->rowCount() == 2 && boxOf(0) && boxOf(0)->isChecked(); }));
    EXPECT_EQ(nameOf(0), QString("成语"));
    EXPECT_EQ(table->item(0, 1)->text(), QString("2 条"));
    EXPECT_TRUE(test::saveScreenshot(*table->window(), "sheet-extended-imported"));

    // A file that fails keeps the progress sheet up with its reason and the done button on.
    boxOf(1)->click();
    QPointer<QDialog> progress;
    ASSERT_TRUE(spinUntil([&] {
        progress = window_->findChild<QDialog*>("progress");
        return progress && progress->isVisible() && progress->findChild<QPushButton*>("doneButton")->isEnabled();
    }));
    EXPECT_EQ(progress->findChild<QLabel*>("text")->text(), QString("请确定编码为 uft-8 不要有 BOM!"));
    // It sits over the word-library sheet, which waits for it.
    EXPECT_EQ(progress->parentWidget(), table->window());
    EXPECT_TRUE(test::saveScreenshot(*progress, "sheet-extended-failed"));
    progress->findChild<QPushButton*>("doneButton")->click();
    EXPECT_TRUE(spinUntil([&] { return !progress || !progress->isVisible(); }));

    auto* help = findAnywhere<QPushButton>("helpButton");
    ASSERT_TRUE(help);
    help->click();
    QApplication::processEvents();
    auto* text = findAnywhere<QLabel>("popOverText");
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->text().startsWith("在此页面选中点击名称左侧勾选"));
    EXPECT_TRUE(test::saveScreenshot(*text->window(), "popover-extended-help"));
    text->window()->close();
}

TEST_F(TablePagesViewTest, CustomPhraseDropTakesOneLocalFileWithinTheLimit) {
    ui::QtMainQueueDriver driver(plat::MainQueue::shared());
    ASSERT_TRUE(ui::openSubPageSheet(context(), "customCodetable"));
    QApplication::processEvents();
    auto* table = findAnywhere<QTableWidget>("customTable");
    ASSERT_TRUE(table);
    QWidget* view = table->parentWidget();
    const fs::path dir = taviro::test::freshDir("drop");
    std::ofstream(dir / "list.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array><dict><key>shortcut</key>"
           "<string>dz</string><key>phrase</key><string>拖进来的</string></dict></array></plist>";
    std::ofstream(dir / "other.plist") << "x";
    {
        std::ofstream big(dir / "big.plist");
    }
    fs::resize_file(dir / "big.plist", CustomPhraseEditor::kMaxDropBytes + 1);
    const auto local = [&](const char* name) { return QUrl::fromLocalFile(QString::fromStdString((dir / name).string())); };
    struct Case {
        const char* what;
        QList<QUrl> urls;
        bool accepted;
    } cases[] = {
        {"one local file", {local("list.plist")}, true},
        {"two files", {local("list.plist"), local("other.plist")}, false},
        {"a remote file", {QUrl("https://example.com/list.plist")}, false},
        {"a file over the limit", {local("big.plist")}, false},
        {"a missing file", {local("absent.plist")}, false},
        {"a folder", {QUrl::fromLocalFile(QString::fromStdString(dir.string()))}, false},
    };
    for (const auto& c : cases) {
        QMimeData data;
        data.setUrls(c.urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        enter.ignore();
        QApplication::sendEvent(view, &enter);
        EXPECT_EQ(enter.isAccepted(), c.accepted) << c.what;
    }

    const int before = table->rowCount();
    QMimeData data;
    data.setUrls({local("list.plist")});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &drop);
    ASSERT_TRUE(spinUntil([&] { return table->rowCount() == before + 1; }));
    EXPECT_EQ(table->item(before, 0)->text(), QString("dz"));
    EXPECT_EQ(table->item(before, 1)->text(), QString("拖进来的"));
    EXPECT_TRUE(spinUntil([&] {
        auto* progress = window_->findChild<QDialog*>("progress");
        return !progress || !progress->isVisible();
    }));
}

TEST_F(TablePagesViewTest, CustomPhraseImportShowsABadLineOnItsSheet) {
    ui::QtMainQueueDriver driver(plat::MainQueue::shared());
    const fs::path file = taviro::test::freshDir("import") / "phrases.txt";
    std::ofstream(file) << "你好\tnh\n// 这一行没有 Tab，不是注释\n";
    CustomPhraseEditor editor(ModelManager::shared());
    std::optional<bool> result;
    editor.importFile(file, ui::presentProgressSheet(window_.get()), [&](bool ok) { result = ok; });
    ASSERT_TRUE(spinUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
    auto* progress = window_->findChild<QDialog*>("progress");
    ASSERT_TRUE(progress && progress->isVisible());
    EXPECT_EQ(progress->findChild<QLabel*>("text")->text().toStdString(),
              CustomPhraseEditor::lineErrorText("// 这一行没有 Tab，不是注释"));
    EXPECT_TRUE(progress->findChild<QPushButton*>("doneButton")->isEnabled());
    EXPECT_TRUE(test::saveScreenshot(*progress, "sheet-custom-phrases-bad-line"));
    progress->findChild<QPushButton*>("doneButton")->click();
    EXPECT_TRUE(spinUntil([&] { return !window_->findChild<QDialog*>("progress") ||
                                       !window_->findChild<QDialog*>("progress")->isVisible(); }));
}

} // namespace
} // namespace kelvane
