#include "Settings/ConfigManager.h"
#include "Settings/Pages/QuanPinView.h"
#include "Settings/Pages/Tab2Controller.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Pages.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QTabWidget>
#include <QVBoxLayout>

namespace kelvane::ui {
namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The full-pinyin page: five correction boxes.
class QuanPinPage : public QWidget {
public:
    explicit QuanPinPage(const PageContext& context) : presenter_(*context.config) {
        setObjectName("quanpinView");
        auto* grid = new QGridLayout(this);
        grid->setContentsMargins(24, 16, 24, 16);
        const auto& boxes = QuanPinView::boxes();
        for (size_t i = 0; i < boxes.size(); ++i) {
            auto* box = new QCheckBox(qs(boxes[i].title), this);
            box->setObjectName(qs(boxes[i].name));
            box->setChecked(presenter_.state(i));
            connect(box, &QCheckBox::clicked, this, [this, i](bool on) { presenter_.toggle(i, on); });
            grid->addWidget(box, static_cast<int>(i / 3), static_cast<int>(i % 3));
        }
        grid->setRowStretch(2, 1);
    }

private:
    QuanPinView presenter_;
};

// The input-mode tab: an inner tab per way of typing.
class InputModeTab : public QWidget {
public:
    explicit InputModeTab(const PageContext& context) : presenter_(*context.config, context.controller) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(8, 4, 8, 4);
        tabs_ = new QTabWidget(this);
        tabs_->setObjectName("inputModeTabView");
        layout->addWidget(tabs_);
        for (int i = 0; i < 4; ++i) {
            QWidget* page = nullptr;
            if (i == Tab2Controller::fullPinyin) page = new QuanPinPage(context);
            else if (auto factory = inputModePageFactory(i)) page = factory(context);
            if (!page) page = new QWidget; // built by its own page later
            tabs_->addTab(page, qs(Tab2Controller::kPageTitles[static_cast<size_t>(i)]));
        }
        tabs_->setCurrentIndex(presenter_.viewDidLoad());
        connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) { presenter_.didSelectPage(index); });
    }

private:
    Tab2Controller presenter_;
    QTabWidget* tabs_;
};

} // namespace

QWidget* makeInputModeTab(const PageContext& context) { return new InputModeTab(context); }

} // namespace kelvane::ui
