#include "Settings/ConfigManager.h"
#include "Settings/Pages/PbarController.h"
#include "Settings/Tables/ShuangPinPage.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/PopOver.h"
#include "Settings/ui/Style.h"
#include "Settings/ui/TableControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

namespace kelvane::ui {
namespace {

// The double-pinyin page: draws ShuangPinPage and forwards every change to it.
class ShuangPinView : public QWidget {
public:
    explicit ShuangPinView(const PageContext& context)
        : presenter_(*context.config, TableLocations::current()), window_(context.window), context_(context) {
        setFont(uiFont());
        presenter_.install();
        auto* grid = pageGrid(this);

        spSelector_ = namedCombo(this, "spSelector");
        connect(spSelector_, QOverload<int>::of(&QComboBox::activated), this, [this](int) {
            presenter_.selectScheme(spSelector_->currentText().toStdString());
            refresh();
        });
        auto* openDir = new QPushButton("打开方案文件夹", this);
        openDir->setObjectName("openCTDir");
        connect(openDir, &QPushButton::clicked, this, [this] {
            QDesktopServices::openUrl(QUrl::fromLocalFile(qtext(presenter_.schemeFolder().string())));
        });
        grid->addWidget(new QLabel("双拼方案", this), 0, 0);
        grid->addWidget(spSelector_, 0, 1);
        grid->addWidget(openDir, 0, 2);
        auto* editScheme = new QPushButton("编辑方案…", this);
        editScheme->setObjectName("spEditorButton");
        connect(editScheme, &QPushButton::clicked, this, [this] {
            if (!openSubPageSheet(context_, "spEditor")) return;
            // A scheme saved under a new name is offered once the editor closes.
            QWidget* parent = context_.window ? context_.window : this;
            const auto sheets = parent->findChildren<QDialog*>("spEditorSheet", Qt::FindDirectChildrenOnly);
            if (!sheets.isEmpty())
                connect(sheets.back(), &QDialog::finished, this, [this] {
                    presenter_.willAppear();
                    refresh();
                });
        });
        grid->addWidget(editScheme, 1, 2);

        assistCheckBox_ = namedBox(this, "assistCheckBox", "使用辅码");
        connect(assistCheckBox_, &QCheckBox::clicked, this, [this](bool on) {
            presenter_.setAssistOn(on);
            refresh();
        });
        assistSelector_ = namedCombo(this, "assistSelector");
        connect(assistSelector_, QOverload<int>::of(&QComboBox::activated), this, [this](int) {
            QPointer<ShuangPinView> self(this);
            auto sheet = presentProgressSheet(window_ ? window_ : this);
            presenter_.selectAssistTable(assistSelector_->currentText().toStdString(), sheet, [self, sheet](bool ok) {
                sheet->finish(ok);
                if (self) self->refresh();
            });
        });
        grid->addWidget(assistCheckBox_, 1, 0);
        grid->addWidget(assistSelector_, 1, 1);

        revealAssist_ = box("revealAssist", "显示辅码", &ShuangPinPage::setRevealAssist);
        dupGoBack_ = box("dupGoBack", "重码后置", &ShuangPinPage::setMoveBack);
        wordFirst_ = box("wordFirst", "词组优先", &ShuangPinPage::setWordFirst);
        grid->addWidget(revealAssist_, 2, 1);
        grid->addWidget(dupGoBack_, 3, 1);
        grid->addWidget(wordFirst_, 4, 1);

        auto* extraRow = new QHBoxLayout;
        quickExtra_ = box("quickExtraButton", "分号作为额外编码", &ShuangPinPage::setQuickExtra);
        auto* help = new QPushButton("?", this);
        help->setObjectName("quickExtraHelp");
        help->setFixedSize(20, 20);
        connect(help, &QPushButton::clicked, this, [help] { showPopOver(qtext(ShuangPinPage::kQuickExtraHelp), help); });
        extraRow->addWidget(quickExtra_);
        extraRow->addWidget(help);
        extraRow->addStretch(1);
        grid->addLayout(extraRow, 5, 1);
        grid->setColumnStretch(1, 1);
        grid->setRowStretch(6, 1);
    }

protected:
    void showEvent(QShowEvent* event) override {
        presenter_.willAppear();
        refresh();
        QWidget::showEvent(event);
    }

private:
    QCheckBox* box(const char* name, const char* title, void (ShuangPinPage::*set)(bool)) {
        auto* b = namedBox(this, name, title);
        connect(b, &QCheckBox::clicked, this, [this, set](bool on) { (presenter_.*set)(on); });
        return b;
    }

    void refresh() {
        setItems(spSelector_, presenter_.schemes(), presenter_.selectedScheme());
        setItems(assistSelector_, presenter_.assistTables(), presenter_.selectedAssistTable());
        const bool on = presenter_.assistOn();
        assistCheckBox_->setChecked(on);
        for (QWidget* w : {static_cast<QWidget*>(assistSelector_), static_cast<QWidget*>(revealAssist_),
                           static_cast<QWidget*>(dupGoBack_), static_cast<QWidget*>(wordFirst_)})
            w->setEnabled(on);
        revealAssist_->setChecked(presenter_.revealAssist());
        dupGoBack_->setChecked(presenter_.moveBack());
        wordFirst_->setChecked(presenter_.wordFirst());
        quickExtra_->setChecked(presenter_.quickExtra());
        quickExtra_->setEnabled(!presenter_.quickExtraByScheme());
    }

    ShuangPinPage presenter_;
    QWidget* window_;
    PageContext context_;
    QComboBox* spSelector_;
    QCheckBox* assistCheckBox_;
    QComboBox* assistSelector_;
    QCheckBox* revealAssist_;
    QCheckBox* dupGoBack_;
    QCheckBox* wordFirst_;
    QCheckBox* quickExtra_;
};

} // namespace

QWidget* makeShuangPinView(const PageContext& context) { return new ShuangPinView(context); }

} // namespace kelvane::ui
