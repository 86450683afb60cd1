#pragma once
#include <QApplication>
#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdlib>
#include <filesystem>

namespace kelvane::test {

// The one QApplication of a view test process, on the offscreen platform.
inline QApplication& qtApp() {
    static int argc = 1;
    static char name[] = "kelvane-ui-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Where screenshots go: <build>/screenshots/kelvane/<name>.png.
inline std::filesystem::path screenshotPath(const std::string& name) {
    std::filesystem::path dir = KELVANE_SCREENSHOT_DIR;
    std::filesystem::create_directories(dir);
    return dir / (name + ".png");
}

inline bool saveScreenshot(QWidget& widget, const std::string& name) {
    QApplication::processEvents();
    return widget.grab().save(QString::fromStdString(screenshotPath(name).string()));
}

} // namespace kelvane::test
