#include "SettingsWindowFixture.h"
#include "Platform/Foundation/Paths.h"
#include "Settings/App/AppDelegate.h"
#include "Settings/App/SettingsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/Editors/BootButtonTable.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/SettingsWindow.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

class EditorViewsTest : public test::SettingsWindowFixture {
protected:
    void prepareSettings(ConfigManager& config) override { config.save(); }
};

TEST_F(EditorViewsTest, SystemTabOpensTheThreeEditors) {
    controller_->selectTabViewItemAtIndex(2);
    QApplication::processEvents();
    for (const char* name : {"puncMapButton", "bootButtonButton", "extraCodeButton"}) {
        auto* button = window_->findChild<QPushButton*>(name);
        ASSERT_TRUE(button) << name;
        EXPECT_TRUE(button->isEnabled()) << name;
    }
    EXPECT_TRUE(test::saveScreenshot(*window_, "tab-advance-editors"));
    window_->findChild<QPushButton*>("extraCodeButton")->click();
    QApplication::processEvents();
    EXPECT_TRUE(window_->findChild<QDialog*>("extraCodeSheet"));
}

TEST_F(EditorViewsTest, PunctuationMapTableEditsRefusesDuplicatesAndFollowsTheSwitch) {
    QDialog* sheet = openURL("puncMap");
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->windowTitle(), QString("标点映射"));
    auto* table = in<QTableWidget>(sheet, "tableView");
    auto* force = in<QCheckBox>(sheet, "forceEngComma");
    ASSERT_TRUE(table && force);
    ASSERT_EQ(table->rowCount(), 23);
    EXPECT_EQ(table->item(0, 0)->text(), QString("!"));
    EXPECT_EQ(table->item(0, 1)->text(), QString("！"));
    EXPECT_TRUE(test::saveScreenshot(*sheet, "sheet-punc-map"));

    const int comma = rowOf(table, ",");
    table->item(comma, 1)->setText("，，");
    QApplication::processEvents();
    EXPECT_EQ(ConfigManager(folder_).puncMapDict.at(","), "，，");

    table->item(comma, 0)->setText(".");
    QApplication::processEvents();
    ASSERT_TRUE(alert());
    EXPECT_EQ(alert()->text(), QString("映射英文符号不可以重复。"));
    EXPECT_EQ(table->item(comma, 0)->text(), QString(","));
    EXPECT_TRUE(test::saveScreenshot(*alert(), "alert-punc-map-duplicate"));
    alert()->close();

    in<QPushButton>(sheet, "addRow")->click();
    QApplication::processEvents();
    ASSERT_EQ(table->rowCount(), 24);
    EXPECT_EQ(table->currentRow(), 23);
    EXPECT_EQ(table->item(23, 0)->text(), QString());

    force->click();
    EXPECT_FALSE(table->isEnabled());
    EXPECT_TRUE(ConfigManager(folder_).forceEngComma);
    EXPECT_TRUE(test::saveScreenshot(*sheet, "sheet-punc-map-forced"));
    force->click();
    EXPECT_TRUE(table->isEnabled());

    in<QPushButton>(sheet, "resetButton")->click();
    QApplication::processEvents();
    ASSERT_TRUE(alert());
    EXPECT_EQ(alert()->text(), QString("重置映射符号到默认配置，此行为不可恢复。"));
    EXPECT_TRUE(test::saveScreenshot(*alert(), "alert-punc-map-reset"));
    QAbstractButton* proceed = nullptr;
    for (auto* b : alert()->buttons())
        if (b->text() == QString("继续")) proceed = b;
    ASSERT_TRUE(proceed);
    proceed->click();
    QApplication::processEvents();
    EXPECT_EQ(table->rowCount(), 23);
    EXPECT_EQ(ConfigManager(folder_).puncMapDict, defaultPuncMapDict());
}

TEST_F(EditorViewsTest, GuideButtonEditorListsTablesAndWritesEditedCells) {
    const fs::path tables = plat::Paths::userFolder() / "BootButtons";
    fs::remove_all(tables);
    ASSERT_TRUE(writeBootButtonTable(tables / "mine.plist", {{"a", "我"}}));
    QDialog* sheet = openURL("bootButton");
    ASSERT_TRUE(sheet);
    auto* list = in<QComboBox>(sheet, "configList");
    auto* table = in<QTableWidget>(sheet, "tableView");
    ASSERT_TRUE(list && table);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(0), QString("BootButtons.plist"));
    EXPECT_EQ(list->currentIndex(), 0);
    EXPECT_TRUE(list->isEnabled());
    ASSERT_EQ(table->rowCount(), 52);
    EXPECT_EQ(table->item(1, 0)->text(), QString("a⇣"));
    EXPECT_EQ(table->item(14, 1)->text(), QString("《》#光标左移"));  // "h"
    EXPECT_FALSE(table->item(0, 0)->flags() & Qt::ItemIsEditable);
    EXPECT_TRUE(table->item(0, 1)->flags() & Qt::ItemIsEditable);
    EXPECT_TRUE(test::saveScreenshot(*sheet, "sheet-boot-buttons"));

    table->item(3, 1)->setText("乙");  // "b⇣"
    EXPECT_EQ(readBootButtonTable(tables / "BootButtons.plist")->at("b⇣"), "乙");
    EXPECT_TRUE(posted().empty());

    list->setCurrentIndex(1);
    emit list->activated(1);
    EXPECT_EQ(posted(), std::vector<std::string>{"configNeedsReload"});
    EXPECT_EQ(ConfigManager(folder_).bootButtonName, "mine.plist");
    EXPECT_EQ(table->item(0, 1)->text(), QString("我"));
    EXPECT_EQ(list->currentIndex(), 1);
}

TEST_F(EditorViewsTest, ExtraCharactersPageStoresFilteredTextAndBoxes) {
    config_->extraCode = ";,";
    QDialog* sheet = openURL("extraCode");
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->windowTitle(), QString("额外编码"));
    EXPECT_EQ(controller_->selectedIndex(), 2);
    auto* field = in<QLineEdit>(sheet, "extraCodeField");
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text(), QString(";,"));
    const char* boxes[] = {"fh", "yh", "dh", "jh", "xg"};
    const bool on[] = {true, false, true, false, false};
    for (int i = 0; i < 5; ++i) {
        auto* box = in<QCheckBox>(sheet, boxes[i]);
        ASSERT_TRUE(box) << boxes[i];
        EXPECT_EQ(box->isChecked(), on[i]) << boxes[i];
    }
    EXPECT_TRUE(test::saveScreenshot(*sheet, "sheet-extra-codes"));

    in<QCheckBox>(sheet, "xg")->click();
    EXPECT_EQ(field->text(), QString(";,/"));
    field->setText("ab1;1");
    emit field->editingFinished();
    EXPECT_EQ(field->text(), QString("1;"));
    EXPECT_EQ(ConfigManager(folder_).extraCode, "1;");
    EXPECT_TRUE(in<QCheckBox>(sheet, "xg")->isChecked());  // boxes keep their state

    in<QPushButton>(sheet, "exturaCodeHelp")->click();
    QApplication::processEvents();
    QWidget* popover = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top != window_.get() && top != sheet && top->objectName() != "progress") popover = top;
    ASSERT_TRUE(popover);
    EXPECT_TRUE(test::saveScreenshot(*popover, "popover-extra-codes-help"));
}

} // namespace
} // namespace kelvane
