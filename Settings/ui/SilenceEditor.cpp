#include "Settings/ConfigManager.h"
#include "Settings/Pages/DesktopApplications.h"
#include "Settings/Pages/ResetController.h"
#include "Settings/Pages/SilenceManager.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/Style.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <set>

namespace kelvane::ui {
namespace {

// Lets the user pick installed applications (from their desktop entries).
class ApplicationPicker : public QDialog {
public:
    ApplicationPicker(QWidget* parent, std::function<void(std::vector<DesktopApplication>)> chosen)
        : QDialog(parent), apps_(installedApplications()) {
        setObjectName("applicationPicker");
        setWindowTitle("选择应用");
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowModality(Qt::WindowModal);
        resize(360, 420);
        auto* layout = new QVBoxLayout(this);
        list_ = new QListWidget(this);
        list_->setObjectName("applications");
        list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
        for (const auto& app : apps_) list_->addItem(QString::fromStdString(SilenceManager::pickerLabel(app)));
        layout->addWidget(list_);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(this, &QDialog::accepted, this, [this, chosen = std::move(chosen)] {
            std::vector<DesktopApplication> picked;
            for (int row = 0; row < list_->count(); ++row)
                if (list_->item(row)->isSelected()) picked.push_back(apps_[static_cast<size_t>(row)]);
            chosen(picked);
        });
    }

private:
    std::vector<DesktopApplication> apps_;
    QListWidget* list_;
};

// The silence list editor: a table of identifier and name, add and delete buttons.
class SilenceEditor : public QWidget {
public:
    explicit SilenceEditor(const PageContext& context) : presenter_(*context.config) {
        setObjectName("silence");
        setFixedSize(480, 320);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(12, 12, 12, 4);
        table_ = new QTableWidget(0, 2, this);
        table_->setObjectName("tableView");
        table_->setHorizontalHeaderLabels({"应用标识", "应用名称"});
        table_->horizontalHeader()->setStretchLastSection(true);
        table_->setColumnWidth(0, 240);
        table_->verticalHeader()->hide();
        table_->setSelectionBehavior(QAbstractItemView::SelectRows);
        table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
        layout->addWidget(table_);
        auto* row = new QHBoxLayout;
        auto* add = new QPushButton("+", this);
        add->setObjectName("addButton");
        auto* remove = new QPushButton("−", this);
        remove->setObjectName("deleteButton");
        for (auto* b : {add, remove}) b->setFixedWidth(32);
        row->addWidget(add);
        row->addWidget(remove);
        row->addStretch();
        layout->addLayout(row);
        connect(add, &QPushButton::clicked, this, [this] {
            (new ApplicationPicker(window(), [this](std::vector<DesktopApplication> apps) {
                presenter_.addApplications(apps);
                reload();
            }))->open();
        });
        connect(remove, &QPushButton::clicked, this, [this] {
            std::set<size_t> rows;
            for (const auto& index : table_->selectionModel()->selectedRows()) rows.insert(static_cast<size_t>(index.row()));
            presenter_.deleteRows(rows);
            reload();
        });
        connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
            if (reloading_) return;
            presenter_.endEditing(item->row(), item->column(), item->text().toStdString());
            QMetaObject::invokeMethod(this, [this] { reload(); }, Qt::QueuedConnection);
        });
        reload();
    }

private:
    void reload() {
        reloading_ = true;
        table_->setRowCount(static_cast<int>(presenter_.numberOfRows()));
        for (size_t r = 0; r < presenter_.numberOfRows(); ++r) {
            table_->setItem(static_cast<int>(r), 0, new QTableWidgetItem(QString::fromStdString(presenter_.objectValue("id", r))));
            table_->setItem(static_cast<int>(r), 1, new QTableWidgetItem(QString::fromStdString(presenter_.objectValue("name", r))));
        }
        reloading_ = false;
    }

    SilenceManager presenter_;
    QTableWidget* table_;
    bool reloading_ = false;
};

// The reset panel: two resets carried out by the input method.
class ResetPanel : public QDialog {
public:
    explicit ResetPanel(QWidget* parent) : QDialog(parent) {
        setObjectName("resetPanel");
        setWindowTitle("重置");
        setWindowModality(Qt::WindowModal);
        setAttribute(Qt::WA_DeleteOnClose);
        setFont(uiFont());
        setFixedSize(320, 150);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel("由输入法恢复默认设置：", this));
        auto* boot = new QPushButton("恢复默认引导符号", this);
        boot->setObjectName("resetBootButton");
        auto* custom = new QPushButton("恢复内置自定义短语", this);
        custom->setObjectName("resetCustom");
        auto* cancel = new QPushButton("取消", this);
        cancel->setObjectName("cancel");
        layout->addWidget(boot);
        layout->addWidget(custom);
        layout->addWidget(cancel, 0, Qt::AlignRight);
        connect(boot, &QPushButton::clicked, this, [this] {
            presenter_.resetBootButton();
            accept();
        });
        connect(custom, &QPushButton::clicked, this, [this] {
            presenter_.resetCustom();
            accept();
        });
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    }

private:
    ResetController presenter_;
};

} // namespace

QWidget* makeSilenceEditor(const PageContext& context) { return new SilenceEditor(context); }

QWidget* openResetPanel(const PageContext& context) {
    auto* panel = new ResetPanel(context.window);
    panel->open();
    return panel;
}

} // namespace kelvane::ui
