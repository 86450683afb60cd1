#include "Settings/ConfigManager.h"
#include "Settings/Pages/PbarController.h"
#include "Settings/Tables/CodeTablePage.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/Style.h"

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

QString qs(const std::string& s) { return QString::fromStdString(s); }

// The code-table page: draws CodeTablePage and forwards every change to it.
class CodeTableView : public QWidget {
public:
    explicit CodeTableView(const PageContext& context)
        : presenter_(*context.config, TableLocations::current()), window_(context.window) {
        setFont(uiFont());
        presenter_.install();
        auto* grid = new QGridLayout(this);
        grid->setContentsMargins(20, 12, 20, 12);
        grid->setHorizontalSpacing(10);
        grid->setVerticalSpacing(8);

        mainSelector_ = combo("mainSelector");
        connect(mainSelector_, QOverload<int>::of(&QComboBox::activated), this, [this](int) {
            const std::string title = mainSelector_->currentText().toStdString();
            presenter_.selectMainCodeTable(title, presentProgressSheet(window_ ? window_ : this), nullptr);
        });
        auto* openDir = new QPushButton("打开码表文件夹", this);
        openDir->setObjectName("openCTDir");
        connect(openDir, &QPushButton::clicked, this, [this] {
            QDesktopServices::openUrl(QUrl::fromLocalFile(qs(presenter_.userFolder().string())));
        });
        grid->addWidget(new QLabel("主码表", this), 0, 0);
        grid->addWidget(mainSelector_, 0, 1);
        grid->addWidget(openDir, 0, 2);

        codeLength_ = combo("codeLength");
        for (int n = 3; n <= 10; ++n) codeLength_->addItem(QString::number(n) + " 码");
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
        emptyClean_->addItems({"空码不处理", "空码自动清空", "空码按空格清空"});
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
    QComboBox* combo(const char* name) {
        auto* c = new QComboBox(this);
        c->setObjectName(name);
        return c;
    }
    QCheckBox* box(const char* name, const char* title, void (CodeTablePage::*set)(bool)) {
        auto* b = new QCheckBox(title, this);
        b->setObjectName(name);
        connect(b, &QCheckBox::clicked, this, [this, set](bool on) { (presenter_.*set)(on); });
        return b;
    }

    void refresh() {
        mainSelector_->clear();
        for (const auto& title : presenter_.tables()) mainSelector_->addItem(qs(title));
        mainSelector_->setCurrentIndex(presenter_.selectedTable());
        upMethods_->clear();
        for (const auto& title : presenter_.commitRules()) upMethods_->addItem(qs(title));
        upMethods_->setCurrentIndex(presenter_.selectedCommitRule());
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
