#include "Settings/Cloud/UploadController.h"
#include "Settings/Editors/BootButtonsController.h"
#include "Settings/ui/Cloud/CloudViews.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/Style.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace kelvane::ui {
namespace {

// The guide-button editor: the table pop-up and the 52 rows of the chosen table over
// BootButtonsController.
class BootButtonsView : public QWidget {
public:
    explicit BootButtonsView(const PageContext& context) : presenter_(*context.config) {
        setObjectName("bootButton");
        setFont(uiFont());
        setFixedSize(420, 480);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(12, 12, 12, 4);

        auto* top = new QHBoxLayout;
        top->addWidget(new QLabel("引导符号表", this));
        configList_ = new QComboBox(this);
        configList_->setObjectName("configList");
        configList_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        connect(configList_, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
            presenter_.changeList(index < 0 ? std::nullopt : std::optional<std::string>(configList_->itemText(index).toStdString()));
            redraw();
        });
        top->addWidget(configList_, 1);
        auto* more = new QPushButton("?", this);
        more->setObjectName("more");
        more->setFixedSize(20, 20);
        connect(more, &QPushButton::clicked, this,
                [] { QDesktopServices::openUrl(QUrl(BootButtonsController::kHelpURL)); });
        top->addWidget(more);
        layout->addLayout(top);

        table_ = new QTableWidget(BootButtonsController::numberOfRows(), 2, this);
        table_->setObjectName("tableView");
        table_->setHorizontalHeaderLabels({"按键", "输出"});
        table_->horizontalHeader()->setStretchLastSection(true);
        table_->setColumnWidth(0, 80);
        table_->verticalHeader()->hide();
        table_->verticalHeader()->setDefaultSectionSize(24);
        table_->setSelectionBehavior(QAbstractItemView::SelectRows);
        table_->setSelectionMode(QAbstractItemView::SingleSelection);
        table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::AnyKeyPressed);
        connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
            if (!presenter_.commitEdit(item->row(), item->column(), item->text().toStdString()))
                showAlert(window(), AlertModel{presenter_.lastError(), {}, {"好"}}, true);
        });
        layout->addWidget(table_);

        presenter_.viewDidLoad();
        redraw();
    }

private:
    void redraw() {
        {
            QSignalBlocker block(configList_);
            configList_->clear();
            for (const auto& title : presenter_.configTitles()) configList_->addItem(QString::fromStdString(title));
            configList_->setCurrentIndex(presenter_.selectedTitle().value_or(-1));
            configList_->setEnabled(presenter_.configListEnabled());
        }
        QSignalBlocker block(table_);
        for (int r = 0; r < BootButtonsController::numberOfRows(); ++r)
            for (int c = 0; c < 2; ++c) {
                auto* item = new QTableWidgetItem(QString::fromStdString(presenter_.cellText(r, c)));
                if (!BootButtonsController::isEditable(c)) {
                    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
                    item->setTextAlignment(Qt::AlignCenter);
                }
                table_->setItem(r, c, item);
            }
    }

    BootButtonsController presenter_;
    QComboBox* configList_;
    QTableWidget* table_;
};

} // namespace

QWidget* makeBootButtonsView(const PageContext& context) { return new BootButtonsView(context); }

} // namespace kelvane::ui
