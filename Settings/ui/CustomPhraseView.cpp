#include "Settings/Functions/ModelManager.h"
#include "Settings/Tables/CustomPhraseEditor.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/Style.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include <set>

namespace kelvane::ui {
namespace {

// The custom phrase editor: a three-column table over CustomPhraseEditor.
class CustomPhraseView : public QWidget {
public:
    explicit CustomPhraseView(const PageContext&) : editor_(ModelManager::shared()) {
        setFont(uiFont());
        setMinimumSize(480, 320);
        auto* layout = new QVBoxLayout(this);
        table_ = new QTableWidget(0, 3, this);
        table_->setObjectName("customTable");
        table_->setHorizontalHeaderLabels({"编码", "短语", "权重"});
        table_->horizontalHeader()->setSectionsMovable(false);
        table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
        table_->setSelectionBehavior(QAbstractItemView::SelectRows);
        layout->addWidget(table_);
        connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
            if (!editor_.editCell(item->row(), item->column(), item->text().toStdString())) redraw();
        });
        auto* buttons = new QHBoxLayout;
        auto* add = new QPushButton("+", this);
        add->setObjectName("addRow");
        auto* remove = new QPushButton("-", this);
        remove->setObjectName("deleteRow");
        auto* importButton = new QPushButton("导入", this);
        importButton->setObjectName("input");
        auto* exportButton = new QPushButton("导出", this);
        exportButton->setObjectName("output");
        buttons->addWidget(add);
        buttons->addWidget(remove);
        buttons->addStretch(1);
        buttons->addWidget(importButton);
        buttons->addWidget(exportButton);
        connect(importButton, &QPushButton::clicked, this, [this] {
            const QString path = QFileDialog::getOpenFileName(this, {}, {}, "Text (*.txt)");
            if (!path.isEmpty()) importText(path.toStdString());
        });
        connect(exportButton, &QPushButton::clicked, this, [this] {
            const QString path = QFileDialog::getSaveFileName(this, {}, {}, "Text (*.txt)");
            if (path.isEmpty()) return;
            editor_.exportFile(path.toStdString(), [view = QPointer<CustomPhraseView>(this)](bool ok) {
                if (view) view->showExportResult(ok);
            });
        });
        setAcceptDrops(true);
        layout->addLayout(buttons);
        connect(add, &QPushButton::clicked, this, [this] {
            const QString text = QApplication::clipboard()->text();
            editor_.addRow(text.isEmpty() ? std::nullopt : std::optional<std::string>(text.toStdString()));
            redraw();
        });
        connect(remove, &QPushButton::clicked, this, [this] {
            std::set<int> rows;
            for (const auto& index : table_->selectionModel()->selectedRows()) rows.insert(index.row());
            editor_.deleteRows(rows);
            redraw();
        });
        editor_.load();
        redraw();
    }

    // Reading, parsing and storing run on the editor's worker behind a progress sheet over
    // the editor's own sheet.
    void importText(const std::filesystem::path& path) {
        editor_.importFile(path, presentProgressSheet(window()), redrawWhenDone());
    }

protected:
    // One local file of at most kMaxDropBytes; anything else is not taken.
    static std::optional<std::filesystem::path> droppedFile(const QMimeData* data) {
        if (!data || data->urls().size() != 1 || !data->urls()[0].isLocalFile()) return std::nullopt;
        std::filesystem::path path(data->urls()[0].toLocalFile().toStdString());
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
        const auto size = std::filesystem::file_size(path, ec);
        if (ec || size > CustomPhraseEditor::kMaxDropBytes) return std::nullopt;
        return path;
    }
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (droppedFile(event->mimeData())) event->acceptProposedAction();
    }
    void dropEvent(QDropEvent* event) override {
        const auto path = droppedFile(event->mimeData());
        if (!path) return;
        event->acceptProposedAction();
        editor_.importShortcutFile(*path, presentProgressSheet(window()), redrawWhenDone());
    }

private:
    // "导出成功！" with its one button "好", as a sheet of the window.
    void showExportResult(bool ok) {
        auto* box = new QMessageBox(ok ? QMessageBox::Information : QMessageBox::Warning, {},
                                    ok ? "导出成功！" : "无法写入该文件。", QMessageBox::NoButton, window());
        box->setObjectName("exportResult");
        box->addButton(ok ? "好" : "OK", QMessageBox::AcceptRole);
        box->setWindowModality(Qt::WindowModal);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->show();
    }

    std::function<void(bool)> redrawWhenDone() {
        return [view = QPointer<CustomPhraseView>(this)](bool) {
            if (view) view->redraw();
        };
    }

    void redraw() {
        QSignalBlocker block(table_);
        table_->setRowCount(int(editor_.rows().size()));
        for (int r = 0; r < int(editor_.rows().size()); ++r)
            for (int c = 0; c < 3; ++c)
                table_->setItem(r, c, new QTableWidgetItem(QString::fromStdString(editor_.cellText(r, c))));
        if (editor_.selectedRow() >= 0) {
            table_->selectRow(editor_.selectedRow());
            table_->scrollToItem(table_->item(editor_.selectedRow(), 0));
        }
    }

    CustomPhraseEditor editor_;
    QTableWidget* table_;
};

} // namespace

QWidget* makeCustomPhraseView(const PageContext& context) { return new CustomPhraseView(context); }

} // namespace kelvane::ui
