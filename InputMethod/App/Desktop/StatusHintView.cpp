#include "InputMethod/App/Desktop/StatusHintView.h"

#include "InputMethod/App/Desktop/Images.h"
#include "InputMethod/StatusHint.h"

#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QPixmap>

namespace taviro {

StatusHintView::StatusHintView() : image_(new QLabel(this)) {
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
    setWindowOpacity(hint.alpha());
    if (hint.alpha() > 0 && !isVisible()) show();
    if (hint.alpha() <= 0 && isVisible()) hide();
}

} // namespace taviro
