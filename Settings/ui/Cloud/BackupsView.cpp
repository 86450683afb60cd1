#include "Platform/Foundation/Paths.h"
#include "Settings/Cloud/BackupsController.h"
#include "Settings/Cloud/CloudStore.h"
#include "Settings/ConfigManager.h"
#include "Settings/ui/Cloud/CloudViews.h"
#include "Settings/ui/Style.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kelvane::ui {
namespace {

const char* const kColumns[] = {"日期", "来源设备", "备注"};

// The comment prompt: message, informative text and a 200 × 24 text field.
QWidget* promptForText(QWidget* parent, const PromptModel& prompt, std::function<void(std::string)> done) {
    auto* dialog = new QDialog(parent);
    dialog->setObjectName("prompt");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setFont(uiFont());
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(20, 16, 20, 16);
    auto* message = new QLabel(qs(prompt.message), dialog);
    QFont bold = uiFont(14);
    bold.setBold(true);
    message->setFont(bold);
    auto* informative = new QLabel(qs(prompt.informative), dialog);
    informative->setWordWrap(true);
    auto* field = new QLineEdit(dialog);
    field->setObjectName("promptField");
    field->setFixedSize(200, 24);
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton(qs(prompt.buttons.at(0)), QDialogButtonBox::AcceptRole);
    ok->setObjectName("promptOK");
    ok->setDefault(true);
    if (prompt.buttons.size() > 1) buttons->addButton(qs(prompt.buttons[1]), QDialogButtonBox::RejectRole);
    layout->addWidget(message);
    layout->addWidget(informative);
    layout->addWidget(field);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [dialog, field, done] {
        done(field->text().toStdString());
        dialog->accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    dialog->setFixedWidth(420);
    dialog->open();
    return dialog;
}

// The Backups page.
class BackupsView : public CloudTabPage {
public:
    explicit BackupsView(const PageContext& context) : CloudTabPage(context, "backupsView", "block", "indicator") {
        ConfigManager& config = context.config ? *context.config : ConfigManager::shared();
        presenter_ = BackupsController::create(makeCloudContainer(CloudStoreSettings::from(config.configData)),
                                               TableLocations::current(), config);
        QWidget* host = sheetParent();
        presenter_->presentSheet = [host] { return presentProgressSheet(host); };

        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(16, 12, 16, 8);
        table_ = new QTableWidget(0, 3, this);
        table_->setObjectName("tableView");
        table_->setHorizontalHeaderLabels({kColumns[0], kColumns[1], kColumns[2]});
        table_->horizontalHeader()->setStretchLastSection(true);
        table_->setColumnWidth(0, 175);
        table_->setColumnWidth(1, 70);
        table_->verticalHeader()->hide();
        table_->setSelectionBehavior(QAbstractItemView::SelectRows);
        table_->setSelectionMode(QAbstractItemView::SingleSelection);
        table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        layout->addWidget(table_, 1);

        auto* row = new QHBoxLayout;
        auto* backup = new QPushButton("备份", this);
        backup->setObjectName("backupButton");
        auto* recover = new QPushButton("恢复", this);
        recover->setObjectName("recoverButton");
        auto* remove = new QPushButton("删除", this);
        remove->setObjectName("deleteButton");
        row->addStretch();
        row->addWidget(remove);
        row->addWidget(recover);
        row->addWidget(backup);
        layout->addLayout(row);
        layout->addLayout(footer());

        connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
            if (!redrawing_) presenter_->selectedRow = table_->selectionModel()->hasSelection() ? table_->currentRow() : -1;
        });
        std::weak_ptr<BackupsController> weak = presenter_;
        connect(backup, &QPushButton::clicked, this, [this, weak] {
            promptForText(sheetParent(), BackupsController::backupPrompt(), [weak](std::string comment) {
                if (auto p = weak.lock()) p->backup(comment);
            });
        });
        connect(recover, &QPushButton::clicked, this, [this, weak] {
            if (auto q = presenter_->restoreQuestion())
                showAlert(sheetParent(), *q, true, [weak] {
                    if (auto p = weak.lock()) p->restoreConfirmed();
                });
        });
        connect(remove, &QPushButton::clicked, this, [this, weak] {
            if (auto q = presenter_->deleteQuestion())
                showAlert(sheetParent(), *q, true, [weak] {
                    if (auto p = weak.lock()) p->deleteConfirmed();
                });
        });
        subscription_ = presenter_->changed.subscribe([this] { redraw(); });
        presenter_->viewDidLoad();
        redraw();
    }

protected:
    void appeared() override { presenter_->viewDidAppear(); }

private:
    void redraw() {
        redrawing_ = true;
        const auto& p = *presenter_;
        table_->setRowCount(p.numberOfRows());
        for (int r = 0; r < p.numberOfRows(); ++r)
            for (int c = 0; c < 3; ++c) {
                auto* item = table_->item(r, c);
                if (!item) table_->setItem(r, c, item = new QTableWidgetItem);
                item->setText(qs(p.cellText(r, kColumns[c])));
            }
        if (p.selectedRow >= 0 && p.selectedRow < p.numberOfRows()) table_->selectRow(p.selectedRow);
        else table_->clearSelection();
        drawCommon(p.storeText, p.statusText, p.indicatorAnimating, !p.blockHidden);
        redrawing_ = false;
    }

    std::shared_ptr<BackupsController> presenter_;
    Subscription subscription_;
    QTableWidget* table_;
};

} // namespace

QWidget* makeBackupsView(const PageContext& context) { return new BackupsView(context); }

} // namespace kelvane::ui
