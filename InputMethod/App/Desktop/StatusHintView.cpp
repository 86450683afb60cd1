#include "InputMethod/App/Desktop/StatusHintView.h"

#include "InputMethod/App/Desktop/Images.h"
#include "InputMethod/StatusHint.h"

#include <QLabel>
#include <QPixmap>
#include <QPropertyAnimation>

namespace taviro {

StatusHintView::StatusHintView() : image_(new QLabel(this)), fade_(new QPropertyAnimation(this, "windowOpacity", this)) {
    setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                   Qt::X11BypassWindowManagerHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle("TaviroMac2 Status");
    setFixedSize(22, 22);
    setAutoFillBackground(true);
    setStyleSheet("background: white; border-radius: 4px;");
    image_->setGeometry(0, 0, 22, 22);
    image_->setStyleSheet("background: transparent;");
    fade_->setDuration(200);
    QObject::connect(fade_, &QPropertyAnimation::finished, this, [this] {
        if (target_ <= 0) hide();
    });
}

void StatusHintView::sync(const StatusHint& hint, double screenHeight) {
    if (!hint.isCreated()) return;
    if (hint.imageName() != imageName_) {
        imageName_ = hint.imageName();
        if (auto img = statusHintImage(imageName_, devicePixelRatioF()))
            image_->setPixmap(QPixmap::fromImage(img->image));
    }
    const plat::TextRect f = hint.frame();
    move(static_cast<int>(f.x), static_cast<int>(screenHeight - f.y - f.height));
    fadeTo(hint.alpha());
}

void StatusHintView::fadeTo(double opacity) {
    if (opacity == target_ && (opacity > 0) == isVisible()) return;
    target_ = opacity;
    fade_->stop();
    if (opacity > 0 && !isVisible()) {
        setWindowOpacity(0);
        show();
    }
    if (!isVisible()) return;
    fade_->setStartValue(windowOpacity());
    fade_->setEndValue(opacity);
    fade_->start();
}

} // namespace taviro
