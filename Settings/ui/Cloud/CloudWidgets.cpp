#include "Settings/Cloud/UploadController.h"
#include "Settings/ui/Cloud/CloudViews.h"
#include "Settings/ui/Style.h"

#include <QHBoxLayout>
#include <QResizeEvent>

#include <algorithm>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

namespace kelvane::ui {

QLabel* label(QWidget* parent, const char* name, int pixelSize, bool bold) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    QFont f = uiFont(pixelSize);
    f.setBold(bold);
    l->setFont(f);
    return l;
}

QProgressBar* busyIndicator(QWidget* parent, const char* name) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(80, 8);
    return bar;
}

CloudTabPage::CloudTabPage(const PageContext& context, const char* objectName, const char* blockName,
                           const char* busyName)
    : window_(context.window) {
    setObjectName(objectName);
    setFont(uiFont());
    footer_ = new QVBoxLayout;
    auto* storeLine = new QHBoxLayout;
    store_ = new MiddleElidedLabel(this);
    store_->setObjectName("storeText");
    store_->setFont(uiFont(11));
    store_->setStyleSheet("color: palette(mid);");
    // A long path is cut in its middle rather than widening the page: the account at the
    // end still shows.
    store_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status_ = label(this, "statusText", 11);
    status_->setStyleSheet("color: #b00020;");
    // A refusal names folders and says what they need: it wraps rather than widening the page.
    status_->setWordWrap(true);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->hide();
    busy_ = busyIndicator(this, busyName);
    storeLine->addWidget(store_, 1);
    storeLine->addWidget(busy_);
    footer_->addLayout(storeLine);
    footer_->addWidget(status_);
    block_ = label(this, blockName, 14);
    block_->setText("无法使用本地或共享存储\n请在设置中填写账号名（CloudAccountName）\n并确认存储位置（CloudStoreFolder）可用。");
    block_->setAlignment(Qt::AlignCenter);
    block_->setAutoFillBackground(true);
    block_->setStyleSheet("background: palette(window); border: 1px solid palette(mid);");
}

void MiddleElidedLabel::setFullText(const QString& text) {
    full_ = text;
    setToolTip(text);
    elide();
}

void MiddleElidedLabel::resizeEvent(QResizeEvent* e) {
    QLabel::resizeEvent(e);
    elide();
}

void MiddleElidedLabel::elide() {
    setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(0, contentsRect().width())));
}

void CloudTabPage::drawCommon(const std::string& store, const std::string& status, bool busy, bool blocked) {
    store_->setFullText(qs(store));
    status_->setText(qs(status));
    status_->setVisible(!status.empty());
    busy_->setVisible(busy);
    block_->setVisible(blocked);
    block_->raise();
}

void CloudTabPage::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    appeared();
}

void CloudTabPage::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    block_->setGeometry(rect());
}

QWidget* showAlert(QWidget* parent, const AlertModel& alert, bool warning, std::function<void()> onFirst) {
    auto* box = new QMessageBox(parent);
    box->setObjectName("alert");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setFont(uiFont());
    box->setIcon(warning ? QMessageBox::Warning : QMessageBox::Information);
    box->setText(qs(alert.message));
    box->setInformativeText(qs(alert.informative));
    QPushButton* first = nullptr;
    for (size_t i = 0; i < alert.buttons.size(); ++i) {
        auto* b = box->addButton(qs(alert.buttons[i]), i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
        if (i == 0) first = b;
    }
    if (first) box->setDefaultButton(first);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [box, first, onFirst](QAbstractButton* clicked) {
        if (clicked == first && onFirst) onFirst();
        box->close();
    });
    box->open();
    return box;
}

} // namespace kelvane::ui
