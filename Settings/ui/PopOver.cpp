#include "Settings/ui/PopOver.h"

#include "Settings/Pages/PopOver.h"
#include "Settings/ui/Style.h"

#include <QFrame>
#include <QLabel>
#include <QScreen>

#include <algorithm>

namespace kelvane::ui {

QWidget* showPopOver(const QString& text, QWidget* anchor) {
    if (!anchor) return nullptr;
    auto* popover = new QFrame(anchor->window(), Qt::Popup);
    popover->setObjectName("popOver");
    popover->setAttribute(Qt::WA_DeleteOnClose);
    popover->setFrameShape(QFrame::StyledPanel);
    auto* label = new QLabel(text, popover);
    label->setObjectName("popOverText");
    label->setFont(uiFont());
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    // As wide as its longest line (at most 360), as tall as the wrapped text needs.
    int width = 0;
    for (const QString& line : text.split('\n')) width = std::max(width, label->fontMetrics().horizontalAdvance(line) + 2);
    width = std::min(width, 360);
    label->resize(width, label->heightForWidth(width));
    const auto layout = popOverLayout(Size{static_cast<double>(label->width()), static_cast<double>(label->height())});
    popover->resize(static_cast<int>(layout.content.width), static_cast<int>(layout.content.height));
    label->move(static_cast<int>(layout.label.x), static_cast<int>(layout.label.y));
    // Under the anchor, centred on it.
    const QPoint below = anchor->mapToGlobal(QPoint(anchor->width() / 2, anchor->height()));
    popover->move(below.x() - popover->width() / 2, below.y() + 2);
    popover->show();
    return popover;
}

} // namespace kelvane::ui
