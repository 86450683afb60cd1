#include "Settings/Cloud/UploadController.h"
#include "Settings/Editors/PuncMapEditer.h"
#include "Settings/ui/Cloud/CloudViews.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/TableControls.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/Style.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include <set>

namespace kelvane::ui {
namespace {

AlertModel alertModel(const PuncMapEditer::Alert& alert) {
    AlertModel model{std::string(alert.message), std::string(alert.informativeText), {}};
    for (auto b : alert.buttons) model.buttons.emplace_back(b);
    return model;
}

// The punctuation map editor: a key/text table over PuncMapEditer, add, delete and
// reset buttons and the force-English-comma switch.
class PuncMapView : public QWidget {
public:
    explicit PuncMapView(const PageContext& context) : presenter_(*context.config), window_(context.window) {
        setObjectName("puncMap");
        setFont(uiFont());
        setFixedSize(360, 440);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(12, 12, 12, 4);

        force_ = new QCheckBox("强制使用英文标点", this);
        force_->setObjectName("forceEngComma");
        connect(force_, &QCheckBox::clicked, this, [this](bool on) {
            presenter_.setForceEngComma(on);
            redraw();
        });
        layout->addWidget(force_);

        table_ = new QTableWidget(0, 2, this);
        table_->setObjectName("tableView");
        table_->setHorizontalHeaderLabels({"英文符号", "映射为"});
        table_->horizontalHeader()->setStretchLastSection(true);
        table_->setColumnWidth(0, 120);
        table_->verticalHeader()->hide();
        table_->verticalHeader()->setDefaultSectionSize(24);
        table_->setSelectionBehavior(QAbstractItemView::SelectRows);
        table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::AnyKeyPressed);
        connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) { commit(item); });
        layout->addWidget(table_);

        auto* row = new QHBoxLayout;
        auto* add = button("addRow", "+");
        auto* remove = button("deleteRow", "−");
        for (auto* b : {add, remove}) b->setFixedWidth(32);
        auto* reset = button("resetButton", "恢复默认…");
        connect(add, &QPushButton::clicked, this, [this] {
            presenter_.addRow();
            redraw();
            if (const auto selected = presenter_.selectedRow()) {
                table_->selectRow(*selected);
                table_->scrollToItem(table_->item(*selected, 0));
            }
        });
        connect(remove, &QPushButton::clicked, this, [this] {
            std::set<int> rows;
            for (const auto& index : table_->selectionModel()->selectedRows()) rows.insert(index.row());
            presenter_.deleteRows(rows);
            redraw();
        });
        connect(reset, &QPushButton::clicked, this, [this] {
            showAlert(sheetParent(), alertModel(PuncMapEditer::kResetAlert), true, [this] {
                presenter_.reset(true);
                redraw();
            });
        });
        row->addWidget(add);
        row->addWidget(remove);
        row->addStretch(1);
        row->addWidget(reset);
        layout->addLayout(row);

        presenter_.viewDidLoad();
        redraw();
    }

private:
    QPushButton* button(const char* name, const char* title) { return namedButton(this, name, title); }
    QWidget* sheetParent() { return window() ? window() : window_; }

    void commit(QTableWidgetItem* item) {
        const auto result = presenter_.commitEdit(item->row(), item->column(), item->text().toStdString());
        if (result == PuncMapEditer::Edit::duplicateKey)
            showAlert(sheetParent(), alertModel(PuncMapEditer::kDuplicateKeyAlert), true);
        // Redrawn after the edit has ended: the item is still the editor's.
        QMetaObject::invokeMethod(this, [this] { redraw(); }, Qt::QueuedConnection);
    }

    void redraw() {
        QSignalBlocker block(table_);
        force_->setChecked(presenter_.forceEngComma());
        table_->setEnabled(presenter_.tableEnabled());
        table_->setRowCount(presenter_.numberOfRows());
        for (int r = 0; r < presenter_.numberOfRows(); ++r)
            for (int c = 0; c < 2; ++c) {
                auto* item = new QTableWidgetItem(QString::fromStdString(presenter_.cellText(r, c)));
                if (c == 0) item->setTextAlignment(Qt::AlignCenter);
                table_->setItem(r, c, item);
            }
    }

    PuncMapEditer presenter_;
    QWidget* window_;
    QCheckBox* force_;
    QTableWidget* table_;
};

} // namespace

QWidget* makePuncMapView(const PageContext& context) { return new PuncMapView(context); }

} // namespace kelvane::ui
