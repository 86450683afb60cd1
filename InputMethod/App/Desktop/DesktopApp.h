#pragma once
#include <chrono>

class QApplication;

namespace taviro {

struct DesktopOptions {
    // When main began (start-up is measured from here).
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    // Started by the daemon from the component file (else register standalone).
    bool startedByDaemon = false;
};

// Runs the input method on the application's event loop until the bus goes
// away. Returns the exit status.
int runDesktopApp(QApplication& app, const DesktopOptions& options);

} // namespace taviro
