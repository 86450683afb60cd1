#include "Settings/ConfigManager.h"
#include "Settings/Tables/ExtendedPage.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/TableControls.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/PopOver.h"
#include "Settings/ui/Style.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kelvane::ui {
namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// The word-library page: a two-column table over ExtendedPage with "+", "-" and help.
class ExtendedView : public QWidget {
public:
    explicit ExtendedView(const PageContext& context)
        // The progress sheet goes over the sheet that holds this page, so the page waits for it.
        : page_(*context.config, [this] { return presentProgressSheet(window()); }) {
        setFont(uiFont());
        setMinimumSize(460, 320);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(20, 16, 20, 8);

        table_ = new QTableWidget(0, 2, this);
        table_->setObjectName("extendedTable");
        table_->setHorizontalHeaderLabels({"词库", "词条数"});
        table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
        table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
        table_->setColumnWidth(1, 110);
        table_->verticalHeader()->setVisible(false);
        table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        table_->verticalHeader()->setDefaultSectionSize(int(ExtendedPage::kRowHeight));
        table_->setSelectionBehavior(QAbstractItemView::SelectRows);
        table_->setSelectionMode(QAbstractItemView::SingleSelection);
        table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        layout->addWidget(table_);

        auto* buttons = new QHBoxLayout;
        auto* plus = button("plusButton", "+");
        auto* minus = button("minusButton", "-");
        auto* help = button("helpButton", "?");
        buttons->addWidget(plus);
        buttons->addWidget(minus);
        buttons->addStretch(1);
        buttons->addWidget(help);
        layout->addLayout(buttons);

        connect(plus, &QPushButton::clicked, this, [this] {
            const QStringList chosen = QFileDialog::getOpenFileNames(this, {}, {}, "Text (*.txt *.TXT)");
            std::vector<std::filesystem::path> files;
            for (const QString& file : chosen) files.emplace_back(file.toStdString());
            page_.addFiles(files);
        });
        connect(minus, &QPushButton::clicked, this, [this] { page_.removeRow(table_->currentRow()); });
        connect(help, &QPushButton::clicked, this,
                [help] { showPopOver(qs(ExtendedPage::helpText()), help); });

        page_.onChange = [this] { redraw(); };
        page_.reloadList();
        redraw();
    }

private:
    QPushButton* button(const char* name, const char* title) { return namedButton(this, name, title); }

    // Rows keep their views; only their state and texts change.
    void redraw() {
        table_->setRowCount(page_.rowCount());
        for (int row = 0; row < page_.rowCount(); ++row) {
            if (!table_->cellWidget(row, 0)) table_->setCellWidget(row, 0, makeNameCell(row));
            QWidget* cell = table_->cellWidget(row, 0);
            cell->findChild<QCheckBox*>("checkBox")->setChecked(page_.imported(row));
            cell->findChild<QLabel*>("nameLabel")->setText(qs(page_.name(row)));
            if (!table_->item(row, 1)) {
                auto* count = new QTableWidgetItem;
                count->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                table_->setItem(row, 1, count);
            }
            table_->item(row, 1)->setText(qs(page_.rowCountText(row)));
        }
    }

    // "cell3": the check box and the name; the row count column is "cell2".
    QWidget* makeNameCell(int row) {
        auto* cell = new QWidget;
        cell->setObjectName("cell3");
        auto* line = new QHBoxLayout(cell);
        line->setContentsMargins(6, 0, 6, 0);
        auto* box = new QCheckBox(cell);
        box->setObjectName("checkBox");
        auto* label = new QLabel(cell);
        label->setObjectName("nameLabel");
        line->addWidget(box);
        line->addWidget(label, 1);
        // The row alone decides between import and removal; the box then follows the list.
        connect(box, &QCheckBox::clicked, this, [this, row] {
            page_.toggleRow(row);
            redraw();
        });
        return cell;
    }

    ExtendedPage page_;
    QTableWidget* table_;
};

} // namespace

QWidget* makeExtendedView(const PageContext& context) { return new ExtendedView(context); }

} // namespace kelvane::ui
