#include "Settings/ConfigManager.h"
#include "Settings/Pages/TabOneController.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/PopOver.h"
#include "Settings/ui/Style.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>
#include <QUrl>
#include <QVBoxLayout>

namespace kelvane::ui {
namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QColor toQColor(const RGB& c) { return QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green), static_cast<float>(c.blue)); }

RGB toRGB(QColor c) {
    c = c.toRgb(); // sRGB
    return RGB{c.redF(), c.greenF(), c.blueF()};
}

QPushButton* helpButton(QWidget* parent, const char* name) {
    auto* button = new QPushButton("?", parent);
    button->setObjectName(name);
    button->setFixedSize(20, 20);
    return button;
}

// The general tab: draws TabOneController and forwards every click to it.
class GeneralTab : public QWidget {
public:
    explicit GeneralTab(const PageContext& context) : presenter_(*context.config), window_(context.window) {
        using Box = TabOneController::Box;
        auto* outer = new QVBoxLayout(this);
        outer->setContentsMargins(20, 12, 20, 12);
        outer->setSpacing(8);

        auto* popUpGrid = new QGridLayout;
        popUpGrid->setHorizontalSpacing(10);
        popUpGrid->setVerticalSpacing(6);
        int slot = 0;
        for (const auto& info : TabOneController::popUps()) {
            auto* combo = new QComboBox(this);
            combo->setObjectName(qs(info.outlet));
            for (const auto& title : info.titles) {
                if (title.empty()) combo->insertSeparator(combo->count());
                else combo->addItem(QString::fromStdString(title));
            }
            const auto p = info.popUp;
            connect(combo, QOverload<int>::of(&QComboBox::activated), this, [this, p](int index) {
                presenter_.choose(p, index);
                refresh();
            });
            popUps_[static_cast<size_t>(p)] = combo;
            const int row = slot / 2, col = (slot % 2) * 2;
            popUpGrid->addWidget(new QLabel(qs(info.label), this), row, col);
            popUpGrid->addWidget(combo, row, col + 1);
            ++slot;
        }
        outer->addLayout(popUpGrid);

        auto* boxGrid = new QGridLayout;
        boxGrid->setVerticalSpacing(4);
        slot = 0;
        for (const auto& info : TabOneController::boxes()) {
            auto* box = new QCheckBox(qs(info.title), this);
            box->setObjectName(qs(info.outlet));
            const auto b = info.box;
            connect(box, &QCheckBox::clicked, this, [this, b](bool on) {
                presenter_.toggle(b, on);
                refresh();
            });
            boxes_[static_cast<size_t>(b)] = box;
            if (b == Box::candidateFontBox || b == Box::candidateColorBox) continue;
            auto* cell = new QHBoxLayout;
            cell->setSpacing(2);
            cell->addWidget(box);
            QPushButton* help = nullptr;
            if (b == Box::autoBlank) {
                help = helpButton(this, "autoSpaceHelp");
                connect(help, &QPushButton::clicked, this, [help] { showPopOver(qs(TabOneController::kAutoSpaceHelp), help); });
            } else if (b == Box::persistedEnMode) {
                help = helpButton(this, "PersistedEnModeHelp");
                connect(help, &QPushButton::clicked, this,
                        [help] { showPopOver(qs(TabOneController::kPersistedEnModeHelp), help); });
            } else if (b == Box::voiceOverOnlyWordButton) {
                help = helpButton(this, "voiceOverHelp");
                connect(help, &QPushButton::clicked, this, [help] { showPopOver(qs(TabOneController::kVoiceOverHelp), help); });
            }
            if (help) cell->addWidget(help);
            cell->addStretch();
            boxGrid->addLayout(cell, slot / 3, slot % 3);
            ++slot;
        }
        outer->addLayout(boxGrid);

        auto* fontRow = new QHBoxLayout;
        fontRow->addWidget(boxes_[static_cast<size_t>(Box::candidateFontBox)]);
        fontButton_ = new QPushButton("候选字体 Aa", this);
        fontButton_->setObjectName("candidateFontButton");
        connect(fontButton_, &QPushButton::clicked, this, [this] { selectCandidateFont(); });
        fontRow->addWidget(fontButton_);
        fontRow->addSpacing(20);
        fontRow->addWidget(boxes_[static_cast<size_t>(Box::candidateColorBox)]);
        lightButton_ = new QPushButton("浅色模式", this);
        lightButton_->setObjectName("candidateColorButtonLight");
        darkButton_ = new QPushButton("深色模式", this);
        darkButton_->setObjectName("candidateColorButtonDark");
        connect(lightButton_, &QPushButton::clicked, this, [this] { colorSelector(0); });
        connect(darkButton_, &QPushButton::clicked, this, [this] { colorSelector(1); });
        fontRow->addWidget(lightButton_);
        fontRow->addWidget(darkButton_);
        fontRow->addStretch();
        outer->addLayout(fontRow);

        outer->addStretch();
        auto* bottom = new QHBoxLayout;
        bottom->addStretch();
        auto* book = new QPushButton("使用手册", this);
        book->setObjectName("goToBook");
        connect(book, &QPushButton::clicked, this, [] { QDesktopServices::openUrl(QUrl(TabOneController::kBookURL)); });
        bottom->addWidget(book);
        outer->addLayout(bottom);
    }

    ~GeneralTab() override {
        if (fontDialog_) fontDialog_->close();
    }

    TabOneController& presenter() { return presenter_; }

protected:
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        presenter_.viewDidAppear();
        refresh();
    }

private:
    void refresh() {
        using PopUp = TabOneController::PopUp;
        for (const auto& info : TabOneController::boxes())
            boxes_[static_cast<size_t>(info.box)]->setChecked(presenter_.checked(info.box));
        for (const auto& info : TabOneController::popUps()) {
            QComboBox* combo = popUps_[static_cast<size_t>(info.popUp)];
            const QSignalBlocker block(combo);
            combo->setCurrentIndex(presenter_.selectedIndex(info.popUp));
        }
        popUps_[static_cast<size_t>(PopUp::s2tType)]->setEnabled(presenter_.s2tTypeEnabled());
        if (auto enabled = presenter_.candidateNumberEnabled())
            popUps_[static_cast<size_t>(PopUp::candidateNumber)]->setEnabled(*enabled);
        fontButton_->setEnabled(presenter_.fontButtonEnabled());
        fontButton_->setFont(presenter_.fontButtonFamily().empty()
                                 ? uiFont(11)
                                 : familyFont(QString::fromStdString(presenter_.fontButtonFamily()), 11));
        lightButton_->setEnabled(presenter_.colorButtonsEnabled());
        darkButton_->setEnabled(presenter_.colorButtonsEnabled());
        paintColorButton(lightButton_, "white", presenter_.lightColor());
        paintColorButton(darkButton_, "black", presenter_.darkColor());
    }

    static void paintColorButton(QPushButton* button, const char* background, const RGB& color) {
        button->setStyleSheet(QString("QPushButton { background: %1; color: %2; border: 1px solid #888; border-radius: 3px; "
                                      "padding: 3px 10px; } QPushButton:disabled { border-color: #ccc; }")
                                  .arg(background, toQColor(color).name()));
    }

    void selectCandidateFont() {
        const auto request = presenter_.selectCandidateFont();
        if (!fontDialog_) {
            fontDialog_ = new QFontDialog(window_);
            fontDialog_->setObjectName("fontPanel");
            fontDialog_->setOption(QFontDialog::DontUseNativeDialog);
            fontDialog_->setOption(QFontDialog::NoButtons, false);
            connect(fontDialog_, &QFontDialog::fontSelected, this, [this](const QFont& font) {
                presenter_.changeFont(font.family().toStdString());
                refresh();
            });
        }
        if (request.family) {
            QFont font(QString::fromStdString(*request.family));
            font.setPixelSize(static_cast<int>(request.size));
            fontDialog_->setCurrentFont(font);
        }
        if (window_) fontDialog_->move(window_->frameGeometry().topLeft());
        fontDialog_->show();
        fontDialog_->raise();
        fontDialog_->activateWindow();
    }

    void colorSelector(int tag) {
        const RGB start = presenter_.colorSelector(tag);
        if (!colorDialog_) {
            colorDialog_ = new QColorDialog(window_);
            colorDialog_->setObjectName("colorPanel");
            colorDialog_->setOption(QColorDialog::DontUseNativeDialog);
            colorDialog_->setOption(QColorDialog::NoButtons);
            connect(colorDialog_, &QColorDialog::currentColorChanged, this, [this](const QColor& color) {
                if (!color.isValid()) return;
                presenter_.setColor(toRGB(color));
                refresh();
            });
        }
        {
            const QSignalBlocker block(colorDialog_);
            colorDialog_->setCurrentColor(toQColor(start));
        }
        if (window_) colorDialog_->move(window_->frameGeometry().topLeft());
        colorDialog_->show();
        colorDialog_->raise();
        colorDialog_->activateWindow();
    }

    TabOneController presenter_;
    QWidget* window_;
    std::array<QCheckBox*, TabOneController::kBoxCount> boxes_{};
    std::array<QComboBox*, TabOneController::kPopUpCount> popUps_{};
    QPushButton* fontButton_ = nullptr;
    QPushButton* lightButton_ = nullptr;
    QPushButton* darkButton_ = nullptr;
    QPointer<QFontDialog> fontDialog_;
    QPointer<QColorDialog> colorDialog_;
};

} // namespace

QWidget* makeGeneralTab(const PageContext& context) { return new GeneralTab(context); }

} // namespace kelvane::ui
