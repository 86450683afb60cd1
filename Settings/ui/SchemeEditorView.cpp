#include "Platform/Foundation/Paths.h"
#include "Settings/ConfigManager.h"
#include "Settings/Editors/SPEditorController.h"
#include "Settings/ui/Cloud/CloudViews.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/TableControls.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/PopOver.h"
#include "Settings/ui/Style.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include <set>

namespace kelvane::ui {
namespace {

using Table = SPEditorController::Table;

// The double-pinyin scheme editor: the scheme name, the plan and special tables and the
// guide key over SPEditorController. Saving closes the sheet that holds it.
class SchemeEditorView : public QWidget {
public:
    explicit SchemeEditorView(const PageContext& context)
        : presenter_(*context.config, plat::Paths::userFolder()), window_(context.window) {
        setObjectName("spEditor");
        setFont(uiFont());
        setFixedSize(600, 540);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(16, 12, 16, 4);
        layout->setSpacing(8);

        auto* top = new QHBoxLayout;
        fileList_ = new QComboBox(this);
        fileList_->setObjectName("fileList");
        fileList_->setEditable(true);
        fileList_->setInsertPolicy(QComboBox::NoInsert);
        fileList_->setMinimumWidth(220);
        connect(fileList_, &QComboBox::textActivated, this,
                [this](const QString& text) { presenter_.didSelectFile(text.toStdString()); });
        connect(fileList_, &QComboBox::editTextChanged, this,
                [this](const QString& text) { presenter_.setFileListText(text.toStdString()); });
        auto* reload = button("reload", "载入");
        connect(reload, &QPushButton::clicked, this, [this] {
            if (const auto alert = presenter_.reload()) showAlert(sheetParent(), *alert, true);
            redraw();
        });
        auto* clear = button("clearAll", "新建方案");
        connect(clear, &QPushButton::clicked, this, [this] {
            presenter_.clearAll();
            redraw();
        });
        top->addWidget(new QLabel("方案", this));
        top->addWidget(fileList_, 1);
        top->addWidget(reload);
        top->addWidget(clear);
        layout->addLayout(top);

        auto* tables = new QGridLayout;
        tables->setHorizontalSpacing(16);
        planTable_ = table("planTableView", {"按键", "声母", "韵母"});
        planTable_->setColumnWidth(0, 48);
        planTable_->setColumnWidth(1, 110);
        specialTable_ = table("specialTableView", {"编码", "拼音"});
        specialTable_->setColumnWidth(0, 80);
        tables->addWidget(heading("双拼键位", "planHelp", SPEditorController::kPlanHelp), 0, 0);
        tables->addWidget(heading("特殊组合", "spHelp", SPEditorController::kSpHelp), 0, 1);
        tables->addWidget(planTable_, 1, 0);
        tables->addWidget(specialTable_, 1, 1);
        auto* rowButtons = new QHBoxLayout;
        auto* add = button("spAdd", "+");
        auto* remove = button("spDel", "−");
        for (auto* b : {add, remove}) b->setFixedWidth(32);
        connect(add, &QPushButton::clicked, this, [this] {
            presenter_.spAdd();
            redraw();
        });
        connect(remove, &QPushButton::clicked, this, [this] {
            std::set<int> rows;
            for (const auto& index : specialTable_->selectionModel()->selectedRows()) rows.insert(index.row());
            presenter_.spDel(rows);
            redraw();
        });
        rowButtons->addWidget(add);
        rowButtons->addWidget(remove);
        rowButtons->addStretch(1);
        tables->addLayout(rowButtons, 2, 1);
        tables->setColumnStretch(0, 3);
        tables->setColumnStretch(1, 2);
        layout->addLayout(tables, 1);

        auto* bottom = new QHBoxLayout;
        bootButtonField_ = new QLineEdit(this);
        bootButtonField_->setObjectName("bootButtonField");
        bootButtonField_->setFixedWidth(60);
        bootButtonField_->setPlaceholderText("无");
        connect(bootButtonField_, &QLineEdit::textEdited, this,
                [this](const QString& text) { presenter_.setBootButtonFieldText(text.toStdString()); });
        connect(bootButtonField_, &QLineEdit::editingFinished, this, [this] {
            presenter_.bootButtonChanged();
            redraw();
        });
        auto* save = button("save", "保存");
        save->setDefault(true);
        connect(save, &QPushButton::clicked, this, [this] { this->save(false); });
        bottom->addWidget(new QLabel("引导键（代替零声母）", this));
        bottom->addWidget(bootButtonField_);
        bottom->addStretch(1);
        bottom->addWidget(save);
        layout->addLayout(bottom);

        presenter_.viewDidLoad();
        redraw();
    }

protected:
    void showEvent(QShowEvent* event) override {
        // Closing the sheet without saving drops the edits: say so on its button.
        if (auto* done = window()->findChild<QPushButton*>("sheetDoneButton", Qt::FindDirectChildrenOnly))
            done->setText("取消");
        QWidget::showEvent(event);
    }

private:
    QPushButton* button(const char* name, const char* title) { return namedButton(this, name, title); }
    QWidget* sheetParent() { return window() ? window() : window_; }

    QWidget* heading(const char* title, const char* helpName, const std::string& help) {
        auto* box = new QWidget(this);
        auto* row = new QHBoxLayout(box);
        row->setContentsMargins(0, 0, 0, 0);
        auto* helpButton = button(helpName, "?");
        helpButton->setFixedSize(20, 20);
        connect(helpButton, &QPushButton::clicked, this,
                [helpButton, text = qs(help)] { showPopOver(text, helpButton); });
        row->addWidget(new QLabel(title, box));
        row->addWidget(helpButton);
        row->addStretch(1);
        return box;
    }

    QTableWidget* table(const char* name, const QStringList& titles) {
        auto* t = new QTableWidget(0, int(titles.size()), this);
        t->setObjectName(name);
        t->setHorizontalHeaderLabels(titles);
        t->horizontalHeader()->setStretchLastSection(true);
        t->horizontalHeader()->setSectionsMovable(false);
        t->verticalHeader()->hide();
        t->verticalHeader()->setDefaultSectionSize(22);
        t->setSelectionBehavior(QAbstractItemView::SelectRows);
        t->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
        const Table which = std::string_view(name) == "planTableView" ? Table::Plan : Table::Special;
        connect(t, &QTableWidget::itemChanged, this, [this, which](QTableWidgetItem* item) {
            // The edited cell's own row and column, whatever is selected.
            if (const auto alert = presenter_.controlTextDidEndEditing(which, item->row(), item->column(),
                                                                       item->text().toStdString()))
                showAlert(sheetParent(), *alert, true);
            // Redrawn after the edit has ended: the item is still the editor's.
            QMetaObject::invokeMethod(this, [this] { redraw(); }, Qt::QueuedConnection);
        });
        return t;
    }

    void save(bool confirmed) {
        const auto result = presenter_.save(confirmed);
        switch (result.outcome) {
        case SPEditorController::SaveOutcome::Saved:
            closeSheet(this);
            return;
        case SPEditorController::SaveOutcome::Ignored:
            return;
        case SPEditorController::SaveOutcome::Refused:
            showAlert(sheetParent(), result.alert, true);
            break;
        case SPEditorController::SaveOutcome::NeedsConfirmation:
            showAlert(sheetParent(), result.alert, true, [this] { save(true); });
            break;
        }
        redraw();
    }

    void fill(QTableWidget* t, Table which, const std::vector<const char*>& columns) {
        const int rows = presenter_.numberOfRows(which);
        t->setRowCount(rows);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < int(columns.size()); ++c) {
                auto* item = new QTableWidgetItem(qs(presenter_.objectValue(which, columns[c], r).value_or("")));
                if (which == Table::Plan && c == 0) {
                    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
                    item->setTextAlignment(Qt::AlignCenter);
                }
                t->setItem(r, c, item);
            }
    }

    void redraw() {
        {
            QSignalBlocker block(fileList_);
            fileList_->clear();
            for (const auto& name : presenter_.spList()) fileList_->addItem(qs(name));
            fileList_->setEditText(qs(presenter_.fileListText()));
        }
        bootButtonField_->setText(qs(presenter_.bootButtonFieldText()));
        QSignalBlocker planBlock(planTable_), specialBlock(specialTable_);
        fill(planTable_, Table::Plan, {"key", "s", "y"});
        fill(specialTable_, Table::Special, {"code", "py"});
    }

    SPEditorController presenter_;
    QWidget* window_;
    QComboBox* fileList_;
    QTableWidget* planTable_;
    QTableWidget* specialTable_;
    QLineEdit* bootButtonField_;
};

} // namespace

QWidget* makeSchemeEditorView(const PageContext& context) { return new SchemeEditorView(context); }

} // namespace kelvane::ui
