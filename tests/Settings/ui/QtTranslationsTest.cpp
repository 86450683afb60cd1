// Qt's own texts (standard buttons, the file dialog) follow the user's language.
#include "QtTestSupport.h"
#include "Settings/ui/QtTranslations.h"
#include "support/TestHome.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTranslator>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace kelvane {
namespace {

class QtTranslationsTest : public ::testing::Test {
protected:
    void SetUp() override { test::qtApp(); }
    void TearDown() override {
        for (auto* translator : test::qtApp().findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        QLocale::setDefault(QLocale::c());
    }
};

TEST_F(QtTranslationsTest, StandardButtonsAndTheFileDialogSpeakTheUsersLanguage) {
    struct Case {
        const char* locale;
        bool loaded;
        const char* ok;
        const char* cancel;
    };
    const Case cases[] = {
        {"zh_CN", true, "确定", "取消"},
        {"zh_TW", true, "確定", "取消"},
        {"en_US", false, "OK", "Cancel"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        TearDown();
        QLocale::setDefault(QLocale(c.locale));
        EXPECT_EQ(ui::installQtTranslations(test::qtApp()), c.loaded);
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        EXPECT_EQ(buttons.button(QDialogButtonBox::Ok)->text().remove('&'), QString::fromUtf8(c.ok));
        EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text().remove('&'), QString::fromUtf8(c.cancel));
    }
}

TEST_F(QtTranslationsTest, APickerAndAFileDialogArePhotographedInChinese) {
    QLocale::setDefault(QLocale("zh_CN"));
    ASSERT_TRUE(ui::installQtTranslations(test::qtApp()));
    QDialog picker;
    auto* layout = new QVBoxLayout(&picker);
    layout->addWidget(new QLabel("选择一个码表"));
    layout->addWidget(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel));
    picker.show();
    EXPECT_TRUE(test::saveScreenshot(picker, "qt-translations-buttons"));

    const auto folder = taviro::test::freshDir("dialog");
    QFileDialog files(nullptr, "导入", QString::fromStdString(folder.string()));
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.show();
    bool lookIn = false;
    for (const auto* label : files.findChildren<QLabel*>())
        lookIn = lookIn || label->text().startsWith(QString::fromUtf8("查找范围"));
    EXPECT_TRUE(lookIn);
    EXPECT_TRUE(test::saveScreenshot(files, "qt-translations-file-dialog"));
}

} // namespace
} // namespace kelvane
