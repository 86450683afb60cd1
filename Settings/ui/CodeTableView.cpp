#include "Settings/ConfigManager.h"
#include "Settings/Pages/PbarController.h"
#include "Settings/Tables/CodeTablePage.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/Style.h"
#include "Settings/ui/TableControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QUrl>
#include <QVBoxLayout>

namespace kelvane::ui {
namespace {

// The code-table page: draws CodeTablePage and forwards every change to it.
class CodeTableView : public QWidget {
public:
    explicit CodeTableView(const PageContext& context)
        : presenter_(*context.config, TableLocations::current()), window_(context.window) {
        setFont(uiFont());
        presenter_.install();
        auto* grid = pageGrid(this);

        mainSelector_ = combo("mainSelector");
        connect(mainSelector_, QOverload<int>::of(&QComboBox::activated), this, [this](int) {
            const std::string title = mainSelector_->currentText().toStdString();
            auto sheet = presentProgressSheet(window_ ? window_ : this);
            presenter_.selectMainCodeTable(title, sheet, [sheet](bool ok) { sheet->finish(ok); });
        });
        auto* openDir = new QPushButton("打开码表文件夹", this);
        openDir->setObjectName("openCTDir");
        connect(openDir, &QPushButton::clicked, this, [this] {
            QDesktopServices::openUrl(QUrl::fromLocalFile(qtext(presenter_.userFolder().string())));
        });
        grid->addWidget(new QLabel("主码表", this), 0, 0);
        grid->addWidget(mainSelector_, 0, 1);
        grid->addWidget(openDir, 0, 2);

        codeLength_ = combo("codeLength");
        addCodeLengths(codeLength_);
        connect(codeLength_, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
            presenter_.setCodeLengthIndex(index);
            refresh();
        });
        grid->addWidget(new QLabel("码长", this), 1, 0);
        grid->addWidget(codeLength_, 1, 1);

        upMethods_ = combo("upMethods");
        connect(upMethods_, QOverload<int>::of(&QComboBox::activated), this,
                [this](int index) { presenter_.setCommitRule(index); });
        grid->addWidget(new QLabel("上屏方式", this), 2, 0);
        grid->addWidget(upMethods_, 2, 1);

        emptyClean_ = combo("emptyCleanMethod");
        addEmptyCleanMethods(emptyClean_);
        connect(emptyClean_, QOverload<int>::of(&QComboBox::activated), this,
                [this](int index) { presenter_.setEmptyCleanIndex(index); });
        grid->addWidget(new QLabel("空码", this), 3, 0);
        grid->addWidget(emptyClean_, 3, 1);

        revealCode_ = box("revealCode", "候选显示编码", &CodeTablePage::setRevealCode);
        emptySlide_ = box("emptySlide", "空码滑动", &CodeTablePage::setEmptySlide);
        inUserDict_ = box("codetableInUserDict", "码表词进入用户词库", &CodeTablePage::setCodetableInUserDict);
        grid->addWidget(revealCode_, 4, 1);
        grid->addWidget(emptySlide_, 5, 1);
        grid->addWidget(inUserDict_, 6, 1);
        grid->setColumnStretch(1, 1);
        grid->setRowStretch(7, 1);
    }

protected:
    void showEvent(QShowEvent* event) override {
        presenter_.willAppear();
        refresh();
        QWidget::showEvent(event);
    }

private:
    QComboBox* combo(const char* name) { return namedCombo(this, name); }
    QCheckBox* box(const char* name, const char* title, void (CodeTablePage::*set)(bool)) {
        auto* b = namedBox(this, name, title);
        connect(b, &QCheckBox::clicked, this, [this, set](bool on) { (presenter_.*set)(on); });
        return b;
    }

    void refresh() {
        setItems(mainSelector_, presenter_.tables(), presenter_.selectedTable());
        setItems(upMethods_, presenter_.commitRules(), presenter_.selectedCommitRule());
        codeLength_->setCurrentIndex(presenter_.codeLengthIndex());
        emptyClean_->setCurrentIndex(presenter_.emptyCleanIndex());
        revealCode_->setChecked(presenter_.revealCode());
        emptySlide_->setChecked(presenter_.emptySlide());
        inUserDict_->setChecked(presenter_.codetableInUserDict());
    }

    CodeTablePage presenter_;
    QWidget* window_;
    QComboBox* mainSelector_;
    QComboBox* codeLength_;
    QComboBox* upMethods_;
    QComboBox* emptyClean_;
    QCheckBox* revealCode_;
    QCheckBox* emptySlide_;
    QCheckBox* inUserDict_;
};

} // namespace

QWidget* makeCodeTableView(const PageContext& context) { return new CodeTableView(context); }

} // namespace kelvane::ui
