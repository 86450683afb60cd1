#pragma once
#include <QWidget>

#include <string>

class QLabel;
class QPropertyAnimation;

namespace taviro {

class StatusHint;

// Draws a controller's status hint: the 22 x 22 image at the model's frame,
// fading in and out (0.2 s) as the model's transparency changes. Never takes
// the focus.
class StatusHintView : public QWidget {
public:
    StatusHintView();
    // Follows the model (frame in screen points, y up).
    void sync(const StatusHint& hint, double screenHeight);
    const std::string& imageName() const { return imageName_; }
    // The opacity the view is showing or fading to.
    double targetOpacity() const { return target_; }

private:
    void fadeTo(double opacity);

    QLabel* image_;
    QPropertyAnimation* fade_;
    std::string imageName_;
    double target_ = 0;
};

} // namespace taviro
