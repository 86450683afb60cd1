#pragma once
#include "InputMethod/App/AboutController.h"

#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QPushButton;

namespace taviro {

// The About window: title, version, update interval and the community
// button; everything it shows comes from its AboutController.
class AboutWindow : public QWidget {
public:
    AboutWindow(std::unique_ptr<AboutController> controller, bool dark,
                std::function<void(const std::string&)> openURL);
    AboutController& controller() { return *controller_; }
    // Shows the community alert as a sheet; for tests, the dialog is returned
    // without running it when `run` is false.
    QWidget* showCommunityAlert(bool run = true);

private:
    std::unique_ptr<AboutController> controller_;
    std::function<void(const std::string&)> openURL_;
    QComboBox* popup_;
    QLabel* version_;
};

} // namespace taviro
