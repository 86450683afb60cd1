#include "Settings/ConfigManager.h"
#include "Settings/Pages/PbarController.h"
#include "Settings/Pages/QuanPinView.h"
#include "Settings/Tables/CombinedSchemePage.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/Style.h"
#include "Settings/ui/TableControls.h"

#include <QButtonGroup>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>

namespace kelvane::ui {
namespace {

using Page = CombinedSchemePage;

// The combined scheme page: draws CombinedSchemePage and forwards every change to it.
class CombinedSchemeView : public QWidget {
public:
    explicit CombinedSchemeView(const PageContext& context)
        : presenter_(*context.config, TableLocations::current()), window_(context.window) {
        setObjectName("mixView");
        setFont(uiFont());
        presenter_.install();
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(12, 8, 12, 8);
        layout->setSpacing(6);

        // Input mode and the user folder.
        auto* modeRow = new QHBoxLayout;
        quanpinButton_ = new QRadioButton("全拼", this);
        quanpinButton_->setObjectName("quanpinButton");
        shuangpinButton_ = new QRadioButton("双拼", this);
        shuangpinButton_->setObjectName("shuangpinButton");
        auto* modes = new QButtonGroup(this);
        modes->addButton(quanpinButton_);
        modes->addButton(shuangpinButton_);
        connect(quanpinButton_, &QRadioButton::clicked, this, [this] { act([this] { presenter_.useQuanpin(); }); });
        connect(shuangpinButton_, &QRadioButton::clicked, this, [this] { act([this] { presenter_.useShuangpin(); }); });
        auto* openDir = new QPushButton("打开码表文件夹", this);
        openDir->setObjectName("openCTDir");
        connect(openDir, &QPushButton::clicked, this,
                [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(qtext(presenter_.userFolder().string()))); });
        modeRow->addWidget(new QLabel("输入方式", this));
        modeRow->addWidget(quanpinButton_);
        modeRow->addWidget(shuangpinButton_);
        modeRow->addStretch(1);
        modeRow->addWidget(openDir);
        layout->addLayout(modeRow);

        // Full pinyin: the five corrections.
        quanpinView_ = new QGroupBox("全拼纠错", this);
        quanpinView_->setObjectName("quanpinView");
        auto* corrections = new QGridLayout(quanpinView_);
        const auto& boxes = QuanPinView::boxes();
        for (size_t i = 0; i < boxes.size(); ++i) {
            auto* box = new QCheckBox(qtext(boxes[i].title), quanpinView_);
            box->setObjectName(qtext(boxes[i].name));
            connect(box, &QCheckBox::clicked, this,
                    [this, i](bool on) { act([=, this] { presenter_.setCorrection(i, on); }); });
            corrections->addWidget(box, static_cast<int>(i / 3), static_cast<int>(i % 3));
            corrections_[i] = box;
        }
        layout->addWidget(quanpinView_);

        // Double pinyin: the scheme and the assist table.
        shuangpinView_ = new QGroupBox("双拼与辅码", this);
        shuangpinView_->setObjectName("shuangpinView");
        auto* sp = pageGrid(shuangpinView_);
        sp->setContentsMargins(10, 6, 10, 6);
        spSelector_ = namedCombo(shuangpinView_, "spSelector");
        connect(spSelector_, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
            if (index < 0) return;
            act([this] { presenter_.selectScheme(spSelector_->currentText().toStdString()); });
        });
        sp->addWidget(new QLabel("双拼方案", shuangpinView_), 0, 0);
        sp->addWidget(spSelector_, 0, 1, 1, 3);
        assistCheckBox_ = box(shuangpinView_, "assistCheckBox", "使用辅码", &Page::setAssistOn);
        assistSelector_ = namedCombo(shuangpinView_, "assistSelector");
        connect(assistSelector_, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
            if (index < 0) return;
            rebuild(&Page::selectAssistTable, assistSelector_);
        });
        sp->addWidget(assistCheckBox_, 1, 0);
        sp->addWidget(assistSelector_, 1, 1, 1, 3);
        revealAssist_ = box(shuangpinView_, "revealAssist", "显示辅码", &Page::setRevealAssist);
        dupGoBack_ = box(shuangpinView_, "dupGoBack", "重码后置", &Page::setMoveBack);
        wordFirst_ = box(shuangpinView_, "wordFirst", "词组优先", &Page::setWordFirst);
        sp->addWidget(revealAssist_, 2, 1);
        sp->addWidget(dupGoBack_, 2, 2);
        sp->addWidget(wordFirst_, 2, 3);
        sp->setColumnStretch(1, 1);
        sp->setColumnStretch(2, 1);
        sp->setColumnStretch(3, 1);
        layout->addWidget(shuangpinView_);

        // The main code table and its options.
        auto* mainGroup = new QGroupBox("主码表", this);
        auto* grid = pageGrid(mainGroup);
        grid->setContentsMargins(10, 6, 10, 6);
        mainCheckBox_ = box(mainGroup, "mainCheckBox", "使用主码表", &Page::setMainOn);
        mainSelector_ = namedCombo(mainGroup, "mainSelector");
        connect(mainSelector_, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
            if (index < 0) return;
            rebuild(&Page::selectMainCodeTable, mainSelector_);
        });
        grid->addWidget(mainCheckBox_, 0, 0);
        grid->addWidget(mainSelector_, 0, 1, 1, 3);

        codeLength_ = namedCombo(mainGroup, "codeLength");
        addCodeLengths(codeLength_);
        connect(codeLength_, QOverload<int>::of(&QComboBox::activated), this,
                [this](int index) { act([=, this] { presenter_.setCodeLengthIndex(index); }); });
        upMethods_ = namedCombo(mainGroup, "upMethods");
        connect(upMethods_, QOverload<int>::of(&QComboBox::activated), this,
                [this](int index) { act([=, this] { presenter_.setCommitRule(index); }); });
        grid->addWidget(new QLabel("码长", mainGroup), 1, 0);
        grid->addWidget(codeLength_, 1, 1);
        grid->addWidget(new QLabel("上屏方式", mainGroup), 1, 2);
        grid->addWidget(upMethods_, 1, 3);

        emptyCleanMethod_ = namedCombo(mainGroup, "emptyCleanMethod");
        addEmptyCleanMethods(emptyCleanMethod_);
        connect(emptyCleanMethod_, QOverload<int>::of(&QComboBox::activated), this,
                [this](int index) { act([=, this] { presenter_.setEmptyCleanIndex(index); }); });
        grid->addWidget(new QLabel("空码", mainGroup), 2, 0);
        grid->addWidget(emptyCleanMethod_, 2, 1);

        revealCode_ = box(mainGroup, "revealCode", "候选显示编码", &Page::setRevealCode);
        emptySlide_ = box(mainGroup, "emptySlide", "空码滑动", &Page::setEmptySlide);
        codetableInUserDict_ =
            box(mainGroup, "codetableInUserDict", "码表词进入用户词库", &Page::setCodetableInUserDict);
        grid->addWidget(revealCode_, 3, 1);
        grid->addWidget(emptySlide_, 3, 2);
        grid->addWidget(codetableInUserDict_, 4, 1, 1, 2);
        grid->setColumnStretch(1, 1);
        grid->setColumnStretch(3, 1);
        layout->addWidget(mainGroup);
        layout->addStretch(1);
    }

protected:
    // Entering the window (and every return to the page) reads the folders again.
    void showEvent(QShowEvent* event) override {
        presenter_.setUp();
        refresh();
        QWidget::showEvent(event);
    }

private:
    using Rebuild = void (Page::*)(const std::string&, std::shared_ptr<PbarController>, std::function<void(bool)>);

    QCheckBox* box(QWidget* parent, const char* name, const char* title, void (Page::*set)(bool)) {
        auto* b = namedBox(parent, name, title);
        connect(b, &QCheckBox::clicked, this, [this, set](bool on) { act([=, this] { (presenter_.*set)(on); }); });
        return b;
    }

    // Runs an action and draws the page again.
    template <class Action> void act(Action action) {
        action();
        refresh();
    }

    // Rebuilds a table behind the progress sheet; the page is drawn again when it ends.
    void rebuild(Rebuild start, QComboBox* from) {
        QPointer<CombinedSchemeView> self(this);
        (presenter_.*start)(from->currentText().toStdString(), presentProgressSheet(window_ ? window_ : this),
                            [self](bool) {
                                if (self) self->refresh();
                            });
        refresh();
    }

    static void show(QAbstractButton* button, const Page::Box& box) {
        button->setChecked(box.on);
        button->setEnabled(box.enabled);
    }
    template <class Titles> static void show(QComboBox* combo, const Titles& titles, const Page::PopUp& popUp) {
        setItems(combo, titles, popUp.selected);
        combo->setEnabled(popUp.enabled);
    }
    static void show(QComboBox* combo, const Page::PopUp& popUp) {
        combo->setCurrentIndex(popUp.selected);
        combo->setEnabled(popUp.enabled);
    }

    void refresh() {
        const Page::Controls& c = presenter_.controls();
        quanpinView_->setHidden(c.quanpinViewHidden);
        shuangpinView_->setHidden(c.shuangpinViewHidden);
        show(quanpinButton_, c.quanpinButton);
        show(shuangpinButton_, c.shuangpinButton);
        for (size_t i = 0; i < corrections_.size(); ++i)
            show(corrections_[i], c.corrections[i]);
        show(spSelector_, presenter_.schemes(), c.spSelector);
        show(mainCheckBox_, c.mainCheckBox);
        show(mainSelector_, presenter_.mainTables(), c.mainSelector);
        show(codeLength_, c.codeLength);
        show(upMethods_, presenter_.commitRules(), c.upMethods);
        show(emptyCleanMethod_, c.emptyCleanMethod);
        show(revealCode_, c.revealCode);
        show(emptySlide_, c.emptySlide);
        show(codetableInUserDict_, c.codetableInUserDict);
        show(assistCheckBox_, c.assistCheckBox);
        show(assistSelector_, presenter_.assistTables(), c.assistSelector);
        show(revealAssist_, c.revealAssist);
        show(dupGoBack_, c.dupGoBack);
        show(wordFirst_, c.wordFirst);
    }

    Page presenter_;
    QWidget* window_;
    QRadioButton* quanpinButton_;
    QRadioButton* shuangpinButton_;
    QGroupBox* quanpinView_;
    QGroupBox* shuangpinView_;
    std::array<QCheckBox*, 5> corrections_{};
    QComboBox* spSelector_;
    QCheckBox* assistCheckBox_;
    QComboBox* assistSelector_;
    QCheckBox* revealAssist_;
    QCheckBox* dupGoBack_;
    QCheckBox* wordFirst_;
    QCheckBox* mainCheckBox_;
    QComboBox* mainSelector_;
    QComboBox* codeLength_;
    QComboBox* upMethods_;
    QComboBox* emptyCleanMethod_;
    QCheckBox* revealCode_;
    QCheckBox* emptySlide_;
    QCheckBox* codetableInUserDict_;
};

} // namespace

QWidget* makeCombinedSchemeView(const PageContext& context) { return new CombinedSchemeView(context); }

} // namespace kelvane::ui
