#include "Settings/ui/SettingsWindow.h"

#include "Settings/ui/Style.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEvent>
#include <QMessageBox>
#include <QTimer>
#include <QCoreApplication>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

namespace kelvane::ui {

SettingsWindow::SettingsWindow(SettingsController& controller, ConfigManager& config) : controller_(controller) {
    setObjectName("settingsWindow");
    setFont(uiFont());
    context_ = PageContext{this, &config, &controller};

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    tabBar_ = new QTabBar(this);
    tabBar_->setObjectName("tabBar");
    tabBar_->setExpanding(false);
    tabBar_->setDrawBase(true);
    stack_ = new QStackedWidget(this);
    for (const auto& tab : kSettingsTabs) {
        tabBar_->addTab(QString::fromUtf8(tab.title.data(), static_cast<qsizetype>(tab.title.size())));
        QWidget* page = nullptr;
        if (auto factory = tabPageFactory(tab.identifier)) page = factory(context_);
        if (!page) page = new QWidget; // a tab whose page is not built yet stays empty
        page->setObjectName(QString::fromUtf8(tab.identifier.data(), static_cast<qsizetype>(tab.identifier.size())));
        stack_->addWidget(page);
    }
    layout->addWidget(tabBar_, 0, Qt::AlignHCenter);
    layout->addWidget(stack_);
    connect(tabBar_, &QTabBar::currentChanged, this, [this](int index) {
        controller_.refreshSettings();
        stack_->setCurrentIndex(index);
        setWindowTitle(tabBar_->tabText(index));
        controller_.didSelectTabViewItem(index);
    });
    // Like a preferences window, the title names the tab in front.
    setWindowTitle(tabBar_->tabText(0));
    controller_.windowDidLoad(this);
}

SettingsWindow::~SettingsWindow() { controller_.windowWillClose(); }

void SettingsWindow::showTab(int index) {
    const QSignalBlocker block(tabBar_);
    tabBar_->setCurrentIndex(index);
    stack_->setCurrentIndex(index);
    setWindowTitle(tabBar_->tabText(index));
}

void SettingsWindow::setContentSize(Size size) {
    QWidget* current = stack_->currentWidget();
    if (current) current->setVisible(false);
    const int w = static_cast<int>(size.width), h = static_cast<int>(size.height);
    stack_->setFixedSize(w, h);
    setFixedSize(w, h + tabBar_->sizeHint().height());
    if (current) current->setVisible(true);
}

bool SettingsWindow::hasSubPage(std::string_view route) const { return static_cast<bool>(subPageFactory(route)); }

void SettingsWindow::openSubPage(std::string_view route) { openSubPageSheet(context_, route); }

bool SettingsWindow::sheetOpen() const {
    // Sheets, alerts and file dialogs are dialogs over this window (or over a
    // sheet of it); any other modal window counts as well.
    for (const QDialog* dialog : findChildren<QDialog*>())
        if (dialog->isVisible()) return true;
    return QApplication::activeModalWidget() != nullptr;
}

void SettingsWindow::showNotice(std::string_view message) {
    auto* box = new QMessageBox(QMessageBox::Warning, "注意",
                                QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())),
                                QMessageBox::NoButton, this);
    box->setObjectName("settingsNotice");
    box->addButton("好", QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    // The window may still be under construction: the alert opens once it is shown.
    QTimer::singleShot(0, box, [box] { box->open(); });
}

QMessageBox* makeExitAlert(const std::string& message) {
    return makeExitAlert([message] { return message; });
}

QMessageBox* makeExitAlert(std::function<std::string()> text) {
    auto* box = new QMessageBox(QMessageBox::Warning, "Kelvane", QString::fromStdString(text()), QMessageBox::NoButton);
    box->setObjectName("exitAlert");
    box->addButton("好", QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    auto* refresh = new QTimer(box);
    QObject::connect(refresh, &QTimer::timeout, box, [box, text = std::move(text)] {
        const QString now = QString::fromStdString(text());
        if (now != box->text()) box->setText(now);
    });
    refresh->start(250);
    return box;
}

QWidget* SettingsWindow::page(int index) const { return stack_->widget(index); }

void SettingsWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // With a sheet up the page behind it stays as it is; it refreshes when it shows again.
    if (event->type() != QEvent::ActivationChange || !isActiveWindow() || sheetOpen()) return;
    // Back in front: the page in front shows the settings as the files hold them now.
    controller_.refreshSettings();
    if (QWidget* current = stack_->currentWidget(); current && current->isVisible()) {
        current->setVisible(false);
        current->setVisible(true);
    }
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
    controller_.windowWillClose();
    event->accept();
    // Closing the settings window ends the application, whatever else is open.
    QCoreApplication::quit();
}

} // namespace kelvane::ui
