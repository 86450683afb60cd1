#include "InputMethod/TavCandidates/Qt/QtCandidateView.h"

#include "InputMethod/TavCandidates/CandidatesHController.h"
#include "InputMethod/TavCandidates/Qt/QtAccessibility.h"
#include "InputMethod/TavCandidates/Qt/QtFonts.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <QWheelEvent>

#include <cmath>

namespace taviro::qt {
namespace {

QColor qtColor(const Color& c) {
    const auto& v = c.components();
    if (v.size() >= 4) return QColor::fromRgbF(float(v[0]), float(v[1]), float(v[2]), float(v[3]));
    if (v.size() >= 2) return QColor::fromRgbF(float(v[0]), float(v[0]), float(v[0]), float(v[1]));
    return Qt::transparent;
}

const CandidatesHController* horizontal(const CandidateController& model) {
    return dynamic_cast<const CandidatesHController*>(&model);
}

} // namespace

QImage rotated(const QImage& image, double degrees) {
    QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(image.devicePixelRatio());
    out.fill(Qt::transparent);
    const QSizeF s = QSizeF(image.size()) / image.devicePixelRatio();
    QPainter p(&out);
    // Turn about the centre; what leaves the canvas is cut off.
    QTransform t;
    t.translate(s.width() * 0.5, s.height() * 0.5);
    t.rotate(degrees);
    t.translate(-s.width() * 0.5, -s.height() * 0.5);
    p.setTransform(t);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(QRectF(0, 0, s.width(), s.height()), image);
    return out;
}

QImage arrowImage(int size, const QColor& color, double degrees) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath arrow;
        arrow.moveTo(size * 0.2, size * 0.05);
        arrow.lineTo(size * 0.85, size * 0.5);
        arrow.lineTo(size * 0.2, size * 0.95);
        arrow.closeSubpath();
        p.fillPath(arrow, color);
    }
    return rotated(image, degrees);
}

CandidateWidget::CandidateWidget(CandidateController& model)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint),
      model_(model) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("Candidates"));
    installAccessibility();
}

QRectF CandidateWidget::toWidget(const Rect& r) const {
    const double height = model_.frame().size.height;
    return QRectF(r.origin.x, height - (r.origin.y + r.size.height), r.size.width, r.size.height);
}

void CandidateWidget::sync() {
    const Rect f = model_.frame();
    const int w = std::max(1, static_cast<int>(std::lround(f.size.width)));
    const int h = std::max(1, static_cast<int>(std::lround(f.size.height)));
    const int x = static_cast<int>(std::lround(f.origin.x));
    const int y = static_cast<int>(std::lround(primaryScreenBottom() - (f.origin.y + f.size.height)));
    if (geometry() != QRect(x, y, w, h)) setGeometry(x, y, w, h);
    if (model_.isVisible() != isVisible()) setVisible(model_.isVisible());
    update();
}

void CandidateWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.fillRect(rect(), qtColor(model_.background()));

    const auto& highlight = model_.highlightView();
    if (!highlight.hidden && !model_.visiableCandidateCells().empty()) {
        QPainterPath path;
        path.addRoundedRect(toWidget(highlight.frame), CandidateController::kCornerRadius,
                            CandidateController::kCornerRadius);
        p.fillPath(path, qtColor(highlight.background));
    }

    for (const CandidateCell* cell : model_.visiableCandidateCells()) {
        const QRectF cellRect = toWidget(cell->frame);
        auto drawLabel = [&](const CellLabel& label, bool elide) {
            // Label frames are within the cell, y up from the cell's bottom.
            const QRectF r(cellRect.x() + label.frame.origin.x,
                           cellRect.bottom() - (label.frame.origin.y + label.frame.size.height),
                           label.frame.size.width, label.frame.size.height);
            const QFont font = qtFont(label.font);
            p.setFont(font);
            p.setPen(qtColor(label.color));
            QString text = QString::fromStdString(label.text);
            const QRectF inner = r.adjusted(2, 0, -2, 0);
            if (elide) text = QFontMetricsF(font).elidedText(text, Qt::ElideMiddle, inner.width());
            p.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        };
        drawLabel(cell->numberField, false);
        drawLabel(cell->contentField, true);
    }

    if (const auto* h = horizontal(model_)) {
        using Image = CandidatesHController::PageButton::Image;
        for (const auto* button : {&h->upButton(), &h->downButton()}) {
            if (button->hidden || button->image == Image::none) continue;
            const bool white = button->image == Image::upWhite || button->image == Image::downWhite;
            const bool up = button->image == Image::upBlack || button->image == Image::upWhite;
            const QRectF r = toWidget(button->frame);
            const qreal ratio = devicePixelRatioF();
            QImage arrow = arrowImage(static_cast<int>(std::lround(r.width() * ratio)), white ? Qt::white : Qt::black,
                                      up ? -90.0 : 90.0);
            arrow.setDevicePixelRatio(ratio);
            p.setOpacity(button->alpha);
            p.drawImage(r, arrow);
            p.setOpacity(1.0);
        }
    }
}

void CandidateWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPointF at = event->position();
    if (const auto* h = horizontal(model_)) {
        // The 8-point buttons take a little slack around them.
        auto hit = [&](const CandidatesHController::PageButton& b) {
            return !b.hidden && toWidget(b.frame).adjusted(-3, -3, 3, 3).contains(at);
        };
        auto* mutableH = const_cast<CandidatesHController*>(h);
        if (hit(h->upButton())) return mutableH->pressUpButton();
        if (hit(h->downButton())) return mutableH->pressDownButton();
    }
    for (CandidateCell* cell : model_.visiableCandidateCells()) {
        const QRectF cellRect = toWidget(cell->frame);
        const auto& label = cell->contentField.frame;
        const QRectF content(cellRect.x() + label.origin.x, cellRect.bottom() - (label.origin.y + label.size.height),
                             label.size.width, label.size.height);
        // Only the content label takes clicks.
        if (content.contains(at)) {
            cell->didClickCell();
            return;
        }
    }
}

void CandidateWidget::wheelEvent(QWheelEvent* event) {
    const int dy = event->angleDelta().y();
    if (dy < 0) model_.nextPage();
    else if (dy > 0) model_.previousPage();
}

void CandidateWidget::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_PageDown: model_.nextPage(); break;
    case Qt::Key_PageUp: model_.previousPage(); break;
    case Qt::Key_Return:
    case Qt::Key_Enter: model_.selectCandidate(); break;
    default: QWidget::keyPressEvent(event);
    }
}

QtCandidateView::QtCandidateView(CandidateController& model) : widget_(std::make_unique<CandidateWidget>(model)) {}

QtCandidateView::~QtCandidateView() = default;

void QtCandidateView::modelChanged() { widget_->sync(); }

void QtCandidateView::post(const AccessibilityEvent& event) { postAccessibilityEvent(*widget_, event); }

} // namespace taviro::qt
