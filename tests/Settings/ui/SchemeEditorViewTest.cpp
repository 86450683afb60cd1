#include "SettingsWindowFixture.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/App/AppDelegate.h"
#include "Settings/App/SettingsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/SettingsWindow.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QPointer>
#include <QTableWidget>

#include <fstream>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

class SchemeEditorViewTest : public test::SettingsWindowFixture {
protected:
    void prepareSettings(ConfigManager& config) override {
        writeScheme("测试", "ao");
        writeScheme("别的", "ei");
        config.inputPlanName = "测试";
        config.save();
    }

    static fs::path schemeFile(const std::string& name) {
        return plat::Paths::userFolder() / "KeyMaps" / (name + ".plist");
    }
    // A scheme whose key "k" types the final `k`.
    static void writeScheme(const std::string& name, const std::string& k) {
        plat::PlistValue root;
        root["Version"] = "2.0";
        root["Sheng"]["u"] = "sh";
        root["Yun"]["k"] = k;
        root["Special"]["ea"] = "a";
        fs::create_directories(schemeFile(name).parent_path());
        ASSERT_TRUE(plat::writePlistFile(schemeFile(name), root));
    }
    static std::string savedFinal(const std::string& name) {
        const auto root = plat::readPlistFile(schemeFile(name));
        const plat::PlistValue* yun = root ? root->find("Yun") : nullptr;
        return yun && yun->find("k") ? yun->find("k")->asString() : "";
    }
};

// The editor opens from its URL on the active scheme, edits cells in place, refuses a
// duplicate code and a bad guide key, and closes once saved.
TEST_F(SchemeEditorViewTest, EditsTheActiveSchemeAndClosesWhenSaved) {
    QDialog* sheet = openURL("spEditor");
    ASSERT_TRUE(sheet);
    auto* plan = in<QTableWidget>(sheet, "planTableView");
    auto* special = in<QTableWidget>(sheet, "specialTableView");
    auto* files = in<QComboBox>(sheet, "fileList");
    auto* guide = in<QLineEdit>(sheet, "bootButtonField");
    ASSERT_TRUE(plan && special && files && guide);
    EXPECT_EQ(files->currentText(), QString("测试"));
    EXPECT_GE(files->findText("别的"), 0);
    ASSERT_EQ(plan->rowCount(), 27);
    EXPECT_EQ(plan->item(0, 0)->text(), QString("q"));
    EXPECT_EQ(plan->item(26, 0)->text(), QString(";"));
    const int k = rowOf(plan, "k");
    EXPECT_EQ(plan->item(k, 2)->text(), QString("ao"));
    EXPECT_FALSE(plan->item(k, 0)->flags() & Qt::ItemIsEditable);
    EXPECT_EQ(in<QPushButton>(sheet, "sheetDoneButton")->text(), QString("取消"));

    // The edited cell counts, not the selected row.
    plan->selectRow(0);
    plan->item(k, 2)->setText("ou");
    QApplication::processEvents();
    EXPECT_EQ(plan->item(k, 2)->text(), QString("ou"));
    EXPECT_EQ(plan->item(0, 2)->text(), QString(""));

    in<QPushButton>(sheet, "spAdd")->click();
    ASSERT_EQ(special->rowCount(), 2);
    const int added = rowOf(special, "code");
    ASSERT_GE(added, 0);
    EXPECT_EQ(special->item(added, 1)->text(), QString("pinyin"));
    special->item(added, 0)->setText("ea");
    QApplication::processEvents();
    ASSERT_TRUE(alert());
    EXPECT_EQ(alert()->text(), QString("同编码映射请写在同一条中用竖线“|”分隔。"));
    alert()->close();
    QApplication::processEvents();
    EXPECT_EQ(rowOf(special, "code"), added);

    guide->setText("1");
    emit guide->textEdited("1");
    emit guide->editingFinished();
    EXPECT_EQ(guide->text(), QString(""));
    guide->setText("O");
    emit guide->textEdited("O");
    emit guide->editingFinished();
    EXPECT_EQ(guide->text(), QString("O"));
    EXPECT_TRUE(test::saveScreenshot(*sheet, "sheet-scheme-editor"));

    QPointer<QDialog> open(sheet);
    in<QPushButton>(sheet, "save")->click();
    QApplication::processEvents();
    EXPECT_TRUE(!open || !open->isVisible());
    EXPECT_EQ(savedFinal("测试"), "ou");
    EXPECT_TRUE(posted().empty());
}

// Saving over another scheme's file asks first; a failed write keeps the editor open.
TEST_F(SchemeEditorViewTest, SaveAsksBeforeReplacingAnotherSchemeAndStaysOpenOnFailure) {
    QDialog* sheet = openURL("spEditor");
    ASSERT_TRUE(sheet);
    auto* files = in<QComboBox>(sheet, "fileList");
    ASSERT_TRUE(files);
    files->setEditText("别的");
    in<QPushButton>(sheet, "save")->click();
    QApplication::processEvents();
    ASSERT_TRUE(alert());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(savedFinal("别的"), "ei");
    EXPECT_TRUE(test::saveScreenshot(*alert(), "alert-scheme-editor-overwrite"));
    ASSERT_EQ(alert()->buttons().size(), 2);
    QAbstractButton* replace = nullptr;
    for (auto* b : alert()->buttons())
        if (b->text() == "替换") replace = b;
    ASSERT_TRUE(replace);
    replace->click();
    QApplication::processEvents();
    EXPECT_EQ(savedFinal("别的"), "ao");

    sheet = openURL("spEditor");
    ASSERT_TRUE(sheet);
    in<QComboBox>(sheet, "fileList")->setEditText("sub/x/..");
    in<QPushButton>(sheet, "save")->click();
    QApplication::processEvents();
    ASSERT_TRUE(alert());
    EXPECT_TRUE(sheet->isVisible());
    alert()->close();
    fs::remove_all(plat::Paths::userFolder() / "KeyMaps" / "blocked");
    std::ofstream(plat::Paths::userFolder() / "KeyMaps" / "blocked") << "x";
    in<QComboBox>(sheet, "fileList")->setEditText("blocked/x");
    in<QPushButton>(sheet, "save")->click();
    QApplication::processEvents();
    ASSERT_TRUE(alert());
    EXPECT_NE(alert()->text().indexOf("blocked/x"), -1);
    EXPECT_TRUE(sheet->isVisible());
}

// The double-pinyin page opens the editor, and lists a scheme saved under a new name
// once the editor closes.
TEST_F(SchemeEditorViewTest, DoublePinyinPageOpensTheEditor) {
    controller_->selectTabViewItemAtIndex(1);
    auto* tabs = window_->findChild<QTabWidget*>("inputModeTabView");
    ASSERT_TRUE(tabs);
    tabs->setCurrentIndex(1);
    QApplication::processEvents();
    auto* button = window_->findChild<QPushButton*>("spEditorButton");
    ASSERT_TRUE(button);
    EXPECT_TRUE(test::saveScreenshot(*window_, "tab-codetable-doublepinyin-editbutton"));
    button->click();
    QApplication::processEvents();
    auto* sheet = window_->findChild<QDialog*>("spEditorSheet");
    ASSERT_TRUE(sheet);
    in<QPushButton>(sheet, "clearAll")->click();
    EXPECT_EQ(in<QComboBox>(sheet, "fileList")->currentText(), QString("new"));
    EXPECT_EQ(in<QTableWidget>(sheet, "specialTableView")->rowCount(), 0);
    in<QComboBox>(sheet, "fileList")->setEditText("我的方案");
    in<QPushButton>(sheet, "save")->click();
    QApplication::processEvents();
    EXPECT_TRUE(fs::is_regular_file(schemeFile("我的方案")));
    auto* schemes = button->parentWidget()->findChild<QComboBox*>("spSelector");
    ASSERT_TRUE(schemes);
    EXPECT_GE(schemes->findText("我的方案"), 0);
}

} // namespace
} // namespace kelvane
