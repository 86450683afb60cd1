#pragma once
#include "InputMethod/TavCandidates/CandidateController.h"

#include <QImage>
#include <QWidget>

#include <memory>

namespace taviro::qt {

// Draws one candidate window model and forwards clicks, the wheel and keys
// to it. Holds no state of its own besides the arrow images.
class CandidateWidget : public QWidget {
public:
    explicit CandidateWidget(CandidateController& model);

    // Follows the model: geometry, visibility, repaint.
    void sync();
    CandidateController& model() const { return model_; }
    // Window points (y up) to widget pixels (y down).
    QRectF toWidget(const Rect& r) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    CandidateController& model_;
};

// The CandidateView of a model: owns the widget.
class QtCandidateView : public CandidateView {
public:
    explicit QtCandidateView(CandidateController& model);
    ~QtCandidateView() override;
    void modelChanged() override;
    void post(const AccessibilityEvent& event) override;
    CandidateWidget& widget() const { return *widget_; }

private:
    std::unique_ptr<CandidateWidget> widget_;
};

// A right-pointing arrow of `size` pixels in `color`, turned by `degrees`
// about its centre on a canvas of the same size (what turns outside is cut).
QImage arrowImage(int size, const QColor& color, double degrees);
QImage rotated(const QImage& image, double degrees);

// The desktop's y-down pixels and the windows' y-up points.
double primaryScreenBottom();

} // namespace taviro::qt
