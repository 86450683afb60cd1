#pragma once
#include <QWidget>

#include <string>

class QLabel;

namespace taviro {

class StatusHint;

// Draws a controller's status hint: the 22 x 22 image at the model's frame,
// at the model's transparency. Never takes the focus.
class StatusHintView : public QWidget {
public:
    StatusHintView();
    // Follows the model (frame in screen points, y up).
    void sync(const StatusHint& hint, double screenHeight);
    const std::string& imageName() const { return imageName_; }

private:
    QLabel* image_;
    std::string imageName_;
};

} // namespace taviro
