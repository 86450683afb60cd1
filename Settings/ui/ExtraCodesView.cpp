#include "Settings/Editors/ExtraCodesController.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/PopOver.h"
#include "Settings/ui/Style.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>

namespace kelvane::ui {
namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The extra-characters page: the text field, the five quick boxes and the help button
// over ExtraCodesController.
class ExtraCodesView : public QWidget {
public:
    explicit ExtraCodesView(const PageContext& context) : presenter_(*context.config) {
        setObjectName("extraCode");
        setFont(uiFont());
        setFixedSize(420, 100);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(20, 16, 20, 4);

        auto* fieldRow = new QHBoxLayout;
        fieldRow->addWidget(new QLabel("额外编码字符", this));
        field_ = new QLineEdit(this);
        field_->setObjectName("extraCodeField");
        connect(field_, &QLineEdit::editingFinished, this, [this] {
            presenter_.controlTextDidEndEditing(field_->text().toStdString());
            field_->setText(qs(presenter_.fieldText()));
        });
        fieldRow->addWidget(field_, 1);
        auto* help = new QPushButton("?", this);
        help->setObjectName("exturaCodeHelp");
        help->setFixedSize(20, 20);
        connect(help, &QPushButton::clicked, this, [help] { showPopOver(qs(ExtraCodesController::kHelp), help); });
        fieldRow->addWidget(help);
        layout->addLayout(fieldRow);

        auto* boxRow = new QHBoxLayout;
        static const std::array<const char*, 5> kNames = {"分号", "单引号", "逗号", "句号", "斜杠"};
        for (const auto& box : ExtraCodesController::boxes()) {
            auto* b = new QCheckBox(QString(kNames[static_cast<size_t>(box.tag - 1)]) + " " + qs(box.character), this);
            b->setObjectName(qs(box.outlet));
            const int tag = box.tag;
            connect(b, &QCheckBox::clicked, this, [this, tag](bool on) {
                field_->clearFocus();
                presenter_.quickSetting(tag, on);
                field_->setText(qs(presenter_.fieldText()));
            });
            boxes_[static_cast<size_t>(tag - 1)] = b;
            boxRow->addWidget(b);
        }
        boxRow->addStretch(1);
        layout->addLayout(boxRow);
        layout->addStretch(1);

        presenter_.viewDidLoad();
        field_->setText(qs(presenter_.fieldText()));
        for (int tag = 1; tag <= 5; ++tag) boxes_[static_cast<size_t>(tag - 1)]->setChecked(presenter_.boxState(tag));
    }

private:
    ExtraCodesController presenter_;
    QLineEdit* field_;
    std::array<QCheckBox*, 5> boxes_{};
};

} // namespace

QWidget* makeExtraCodesView(const PageContext& context) { return new ExtraCodesView(context); }

} // namespace kelvane::ui
