#include "InputMethod/App/Desktop/AboutWindow.h"

#include "InputMethod/App/Desktop/QtFonts.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace taviro {

AboutWindow::AboutWindow(std::unique_ptr<AboutController> controller, bool dark,
                         std::function<void(const std::string&)> openURL)
    : controller_(std::move(controller)), openURL_(std::move(openURL)) {
    setWindowTitle("关于塔维输入法");
    setWindowFlag(Qt::WindowStaysOnTopHint);  // the floating level
    setFixedSize(360, 230);
    controller_->viewDidLoad();

    const QColor background = AboutController::blackBackground(dark) ? Qt::black : Qt::white;
    const QColor text = dark ? QColor(235, 235, 235) : QColor(30, 30, 30);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::WindowText, text);
    setPalette(pal);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(10);
    auto* title = new QLabel("塔维输入法 2", this);
    title->setFont(uiFont(22, true));
    title->setAlignment(Qt::AlignCenter);
    version_ = new QLabel(QString::fromStdString(controller_->versionLabel()), this);
    version_->setFont(uiFont(13));
    version_->setAlignment(Qt::AlignCenter);
    version_->setObjectName("versionLabel");

    auto* row = new QHBoxLayout();
    auto* freqLabel = new QLabel("自动检查更新：", this);
    freqLabel->setFont(uiFont(13));
    popup_ = new QComboBox(this);
    popup_->setObjectName("updateFreqPop");
    popup_->setFont(uiFont(13));
    for (const auto& item : AboutController::popupItems()) popup_->addItem(QString::fromStdString(item));
    popup_->setCurrentIndex(controller_->selectedIndex());
    QObject::connect(popup_, &QComboBox::activated, this, [this](int index) { controller_->updateFreq(index); });
    row->addStretch();
    row->addWidget(freqLabel);
    row->addWidget(popup_);
    row->addStretch();

    auto* community = new QPushButton("加入用户群…", this);
    community->setFont(uiFont(13));
    QObject::connect(community, &QPushButton::clicked, this, [this] { showCommunityAlert(); });

    layout->addWidget(title);
    layout->addWidget(version_);
    layout->addStretch();
    layout->addLayout(row);
    layout->addWidget(community, 0, Qt::AlignCenter);
}

QWidget* AboutWindow::showCommunityAlert(bool run) {
    const AboutController::Alert alert = controller_->goToWeb();
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);  // a sheet on this window
    box->setFont(uiFont(13));
    box->setText(QString::fromStdString(alert.messageText));
    box->setInformativeText(QString::fromStdString(alert.informativeText));
    std::vector<QAbstractButton*> buttons;
    for (const auto& b : alert.buttons)
        buttons.push_back(box->addButton(QString::fromStdString(b), QMessageBox::ActionRole));
    QObject::connect(box, &QMessageBox::buttonClicked, this, [this, buttons](QAbstractButton* clicked) {
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            if (buttons[i] != clicked) continue;
            if (auto url = controller_->alertResponse(1000 + static_cast<int>(i))) {
                if (openURL_) openURL_(*url);
                close();
            }
        }
    });
    if (run) box->open();
    return box;
}

} // namespace taviro
