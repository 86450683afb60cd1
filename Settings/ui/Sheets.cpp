#include "Settings/Pages/PbarController.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Style.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvane::ui {

bool openSubPageSheet(const PageContext& context, std::string_view route) {
    PageFactory factory = subPageFactory(route);
    if (!factory) return false;
    QWidget* page = factory(context);
    if (!page) return false;
    auto* sheet = new QDialog(context.window);
    sheet->setObjectName(QString::fromUtf8(route.data(), static_cast<qsizetype>(route.size())) + "Sheet");
    sheet->setWindowTitle(subPageTitle(route));
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setFont(uiFont());
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->addWidget(page);
    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* doneButton = new QPushButton("完成", sheet);
    doneButton->setObjectName("sheetDoneButton");
    row->addWidget(doneButton);
    row->setContentsMargins(8, 0, 8, 0);
    layout->addLayout(row);
    QObject::connect(doneButton, &QPushButton::clicked, sheet, &QDialog::accept);
    sheet->show();
    return true;
}

void closeSheet(QWidget* page) {
    for (QWidget* w = page; w; w = w->parentWidget())
        if (auto* dialog = qobject_cast<QDialog*>(w)) {
            dialog->accept();
            return;
        }
}

namespace {

// The progress sheet: bar, status line and done button, drawn from its presenter.
class ProgressSheet : public QDialog {
public:
    ProgressSheet(QWidget* parent, std::shared_ptr<PbarController> model) : QDialog(parent), model_(std::move(model)) {
        setObjectName("progress");
        setWindowModality(Qt::WindowModal);
        setAttribute(Qt::WA_DeleteOnClose);
        setFont(uiFont());
        // 400 wide; taller when a long message (a bad line and its hint) needs it.
        setFixedWidth(400);
        setMinimumHeight(120);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(20, 16, 20, 16);
        bar_ = new QProgressBar(this);
        bar_->setObjectName("pbar");
        bar_->setTextVisible(false);
        text_ = new QLabel(this);
        text_->setObjectName("text");
        text_->setWordWrap(true);
        doneButton_ = new QPushButton("完成", this);
        doneButton_->setObjectName("doneButton");
        layout->addWidget(bar_);
        layout->addWidget(text_, 1);
        auto* row = new QHBoxLayout;
        row->addStretch();
        row->addWidget(doneButton_);
        layout->addLayout(row);
        connect(doneButton_, &QPushButton::clicked, this, [this] { model_->done(); });
        model_->onChange = [this] { redraw(); };
        redraw();
    }
    ~ProgressSheet() override { model_->onChange = nullptr; }

private:
    void redraw() {
        if (model_->dismissed()) {
            model_->onChange = nullptr;
            accept();
            return;
        }
        // The bar counts in thousandths of its maximum.
        bar_->setRange(0, 1000);
        const double max = model_->maxValue() > 0 ? model_->maxValue() : 100;
        bar_->setValue(static_cast<int>(std::clamp(model_->value() / max, 0.0, 1.0) * 1000));
        const QString text = QString::fromStdString(model_->text());
        if (text != text_->text()) {
            text_->setText(text);
            // A wrapped label asks for no more height than one line: give it what its lines need.
            const QMargins m = layout()->contentsMargins();
            text_->setMinimumHeight(text_->heightForWidth(width() - m.left() - m.right()));
            adjustSize();
        }
        doneButton_->setEnabled(model_->doneEnabled());
    }

    std::shared_ptr<PbarController> model_;
    QProgressBar* bar_;
    QLabel* text_;
    QPushButton* doneButton_;
};

} // namespace

std::shared_ptr<PbarController> presentProgressSheet(QWidget* window) {
    auto model = PbarController::make();
    auto* sheet = new ProgressSheet(window, model);
    sheet->show();
    return model;
}

} // namespace kelvane::ui
