#include "Platform/Foundation/Paths.h"
#include "Settings/Cloud/CloudStore.h"
#include "Settings/Cloud/QvCloudController.h"
#include "Settings/Cloud/UploadController.h"
#include "Settings/ConfigManager.h"
#include "Settings/ui/Cloud/CloudViews.h"
#include "Settings/ui/Style.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTableWidget>
#include <QTextEdit>
#include <QVBoxLayout>

namespace kelvane::ui {
namespace {

void setTextKeepingEdits(QLineEdit* field, const std::string& text) {
    if (field->text() != qs(text)) field->setText(qs(text));
}

// The upload sheet: heading, form, file choice and the three actions.
class UploadSheet : public QDialog {
public:
    UploadSheet(QWidget* parent, std::shared_ptr<UploadController> presenter)
        : QDialog(parent), presenter_(std::move(presenter)) {
        setObjectName("uploader");
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowModality(Qt::WindowModal);
        setFont(uiFont());
        setFixedSize(440, 340);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(20, 16, 20, 16);
        hit_ = label(this, "hit", 16, true);
        layout->addWidget(hit_);
        auto* form = new QGridLayout;
        form->setHorizontalSpacing(10);
        name_ = new QLineEdit(this);
        name_->setObjectName("name");
        nickname_ = new QLineEdit(this);
        nickname_->setObjectName("nickname");
        des_ = new QTextEdit(this);
        des_->setObjectName("des");
        des_->setAcceptRichText(false);
        pathIndicator_ = label(this, "pathIndicator");
        auto* choose = new QPushButton("选择文件…", this);
        choose->setObjectName("selectFile");
        form->addWidget(new QLabel("名称", this), 0, 0);
        form->addWidget(name_, 0, 1, 1, 2);
        form->addWidget(new QLabel("昵称", this), 1, 0);
        form->addWidget(nickname_, 1, 1, 1, 2);
        form->addWidget(new QLabel("描述", this), 2, 0, Qt::AlignTop);
        form->addWidget(des_, 2, 1, 1, 2);
        form->addWidget(new QLabel("文件", this), 3, 0);
        form->addWidget(pathIndicator_, 3, 1);
        form->addWidget(choose, 3, 2);
        form->setColumnStretch(1, 1);
        layout->addLayout(form, 1);
        auto* row = new QHBoxLayout;
        deleteButton_ = new QPushButton("删除", this);
        deleteButton_->setObjectName("deleteButton");
        loading_ = busyIndicator(this, "loading");
        auto* closeButton = new QPushButton("关闭", this);
        closeButton->setObjectName("closeButton");
        uploadButton_ = new QPushButton(this);
        uploadButton_->setObjectName("uploadButton");
        uploadButton_->setDefault(true);
        row->addWidget(deleteButton_);
        row->addWidget(loading_);
        row->addStretch();
        row->addWidget(closeButton);
        row->addWidget(uploadButton_);
        layout->addLayout(row);

        connect(name_, &QLineEdit::textEdited, this, [this](const QString& t) { presenter_->name = t.toStdString(); });
        connect(nickname_, &QLineEdit::textEdited, this,
                [this](const QString& t) { presenter_->nickname = t.toStdString(); });
        connect(des_, &QTextEdit::textChanged, this, [this] {
            if (!redrawing_) presenter_->des = des_->toPlainText().toStdString();
        });
        connect(choose, &QPushButton::clicked, this, [this] {
            auto* panel = new QFileDialog(this, "选择要分享的文件", qs(presenter_->kindFolder().string()));
            panel->setObjectName("filePanel");
            panel->setFileMode(QFileDialog::ExistingFile);
            panel->setAttribute(Qt::WA_DeleteOnClose);
            connect(panel, &QFileDialog::fileSelected, this,
                    [this](const QString& file) { presenter_->selectFile(file.toStdString()); });
            panel->open();
        });
        connect(uploadButton_, &QPushButton::clicked, this, [this] { presenter_->doUpload(); });
        connect(closeButton, &QPushButton::clicked, this, [this] { presenter_->dismissController(); });
        connect(deleteButton_, &QPushButton::clicked, this, [this] {
            std::weak_ptr<UploadController> weak = presenter_;
            showAlert(this, UploadController::deleteQuestion(), true, [weak] {
                if (auto p = weak.lock()) p->deleteConfirmed();
            });
        });
        // Transfers show their progress over this sheet.
        presenter_->presentSheet = [self = QPointer<QWidget>(this), fallback = presenter_->presentSheet] {
            return self ? presentProgressSheet(self) : fallback();
        };
        subscription_ = presenter_->changed.subscribe([this] { redraw(); });
        presenter_->viewDidLoad();
        redraw();
    }

private:
    void redraw() {
        if (presenter_->closed) {
            subscription_.reset();
            accept();
            return;
        }
        redrawing_ = true;
        hit_->setText(qs(presenter_->hit));
        setTextKeepingEdits(name_, presenter_->name);
        setTextKeepingEdits(nickname_, presenter_->nickname);
        if (des_->toPlainText() != qs(presenter_->des)) des_->setPlainText(qs(presenter_->des));
        redrawing_ = false;
        name_->setEnabled(presenter_->nameEnabled);
        nickname_->setEnabled(presenter_->nicknameEnabled);
        des_->setReadOnly(!presenter_->desEditable);
        pathIndicator_->setText(qs(presenter_->pathIndicator));
        loading_->setVisible(presenter_->loading);
        deleteButton_->setVisible(!presenter_->deleteButtonHidden);
        uploadButton_->setText(qs(presenter_->uploadButtonTitle));
        if (presenter_->alert) {
            const AlertModel alert = *presenter_->alert;
            presenter_->alertShown();
            showAlert(this, alert, false);
        }
    }

    std::shared_ptr<UploadController> presenter_;
    Subscription subscription_;
    QLabel* hit_;
    QLineEdit *name_, *nickname_;
    QTextEdit* des_;
    QLabel* pathIndicator_;
    QProgressBar* loading_;
    QPushButton *deleteButton_, *uploadButton_;
    bool redrawing_ = false;
};

// The sharing screen.
class QvCloudView : public CloudTabPage {
public:
    explicit QvCloudView(const PageContext& context) : CloudTabPage(context, "qvcloudView", "blockBox", "loading") {
        presenter_ = QvCloudController::create(
            makeCloudContainer(CloudStoreSettings::from(
                (context.config ? *context.config : ConfigManager::shared()).configData)),
            plat::Paths::userFolder());
        QWidget* host = sheetParent();
        presenter_->presentSheet = [host] { return presentProgressSheet(host); };

        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(16, 10, 16, 8);
        kinds_ = new QTabBar(this);
        kinds_->setObjectName("kindSelector");
        for (const char* title : {"主码表", "辅码表", "输入方案", "点划引导", "扩展词库"}) kinds_->addTab(title);
        kinds_->setExpanding(false);
        layout->addWidget(kinds_, 0, Qt::AlignHCenter);

        auto* body = new QHBoxLayout;
        table_ = new QTableWidget(0, 1, this);
        table_->setObjectName("tableView");
        table_->setHorizontalHeaderLabels({"名称"});
        table_->horizontalHeader()->setStretchLastSection(true);
        table_->verticalHeader()->hide();
        table_->setSelectionBehavior(QAbstractItemView::SelectRows);
        table_->setSelectionMode(QAbstractItemView::SingleSelection);
        table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table_->setFixedWidth(220);
        body->addWidget(table_);

        auto* detail = new QVBoxLayout;
        codeTableName_ = label(this, "codeTableName", 16, true);
        codeTableUpdateTime_ = label(this, "codeTableUpdateTime", 12);
        codeTableDes_ = new QTextEdit(this);
        codeTableDes_->setObjectName("codeTableDes");
        codeTableDes_->setReadOnly(true);
        uploaderName_ = label(this, "uploaderName", 12);
        detail->addWidget(codeTableName_);
        detail->addWidget(codeTableUpdateTime_);
        detail->addWidget(codeTableDes_, 1);
        detail->addWidget(uploaderName_);
        auto* buttons = new QHBoxLayout;
        downloadButton_ = new QPushButton("下载", this);
        downloadButton_->setObjectName("downloadButton");
        editButton_ = new QPushButton("编辑", this);
        editButton_->setObjectName("editButton");
        uploadButton_ = new QPushButton("分享我的…", this);
        uploadButton_->setObjectName("uploadButton");
        buttons->addWidget(downloadButton_);
        buttons->addWidget(editButton_);
        buttons->addStretch();
        buttons->addWidget(uploadButton_);
        detail->addLayout(buttons);
        body->addLayout(detail, 1);
        layout->addLayout(body, 1);

        layout->addLayout(footer());

        connect(kinds_, &QTabBar::currentChanged, this, [this](int i) {
            if (!redrawing_) presenter_->changeClass(i);
        });
        connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
            if (!redrawing_) presenter_->selectionChanged(table_->currentRow());
        });
        connect(downloadButton_, &QPushButton::clicked, this, [this] { presenter_->downloadTap(); });
        connect(uploadButton_, &QPushButton::clicked, this,
                [this] { openUploadSheet(sheetParent(), presenter_->uploadTap()); });
        connect(editButton_, &QPushButton::clicked, this, [this] {
            if (auto sheet = presenter_->editTap()) openUploadSheet(sheetParent(), sheet);
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
        static constexpr int segmentOf[] = {0, 1, 2, 2, 3, 4}; // by kind; key-hint files are not browsed
        kinds_->setCurrentIndex(segmentOf[static_cast<int>(p.codeTableType)]);
        table_->setRowCount(p.numberOfRows());
        for (int r = 0; r < p.numberOfRows(); ++r) {
            auto* item = table_->item(r, 0);
            if (!item) table_->setItem(r, 0, item = new QTableWidgetItem);
            item->setText(qs(p.cellText(r)));
        }
        if (p.selectedRow >= 0 && p.selectedRow < p.numberOfRows()) table_->selectRow(p.selectedRow);
        else table_->clearSelection();
        codeTableName_->setText(qs(p.codeTableNameText));
        codeTableUpdateTime_->setText(qs(p.codeTableUpdateTimeText));
        codeTableDes_->setPlainText(qs(p.codeTableDesText));
        uploaderName_->setText(p.uploaderNameText.empty() ? QString() : "分享者：" + qs(p.uploaderNameText));
        downloadButton_->setVisible(!p.downloadButtonHidden);
        editButton_->setVisible(!p.editButtonHidden);
        downloadButton_->setEnabled(p.downloadEnabled);
        uploadButton_->setEnabled(p.uploadEnabled);
        drawCommon(p.storeText, p.statusText, p.loading, !p.blockBoxHidden);
        redrawing_ = false;
    }

    std::shared_ptr<QvCloudController> presenter_;
    Subscription subscription_;
    QTabBar* kinds_;
    QTableWidget* table_;
    QLabel *codeTableName_, *codeTableUpdateTime_, *uploaderName_;
    QTextEdit* codeTableDes_;
    QPushButton *downloadButton_, *editButton_, *uploadButton_;
};

} // namespace

QWidget* openUploadSheet(QWidget* parent, std::shared_ptr<UploadController> presenter) {
    auto* sheet = new UploadSheet(parent, std::move(presenter));
    sheet->open();
    return sheet;
}

QWidget* makeQvCloudView(const PageContext& context) { return new QvCloudView(context); }

} // namespace kelvane::ui
