// Kelvane: the preferences application of the input method.
#include "Platform/Dispatch/MainQueue.h"
#include "Settings/App/AppDelegate.h"
#include "Settings/App/SettingsController.h"
#include "Settings/App/SingleInstance.h"
#include "Settings/CodeTable/CodeTableChooser.h"
#include "Settings/ConfigManager.h"
#include "Settings/MainThread.h"
#include "Settings/NotificationSender.h"
#include "Settings/App/AppLifecycle.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/QtMainQueueDriver.h"
#include "Settings/ui/SettingsWindow.h"

#include "Platform/Foundation/Log.h"
#include "Settings/ui/QtTranslations.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Logout's SIGTERM, Ctrl-C and a closed terminal end the event loop, not the
// process, so that the last write after it runs.
int signalPipe[2] = {-1, -1};

void onEndingSignal(int sig) {
    const int saved = errno;
    const unsigned char c = static_cast<unsigned char>(sig);
    (void)!::write(signalPipe[1], &c, 1);
    errno = saved;
}

void installEndingSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = onEndingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

// The display going away ends the process from inside Qt (exit(1)), with the
// event loop still running: the last write is made at exit then. Set while
// the event loop runs.
kelvane::ConfigManager* configAtExit = nullptr;

void lastWriteAtExit() {
    kelvane::ConfigManager* config = std::exchange(configAtExit, nullptr);
    if (!config) return;
    plat::log("Kelvane: ending without its event loop (the display is gone?)");
    kelvane::saveSettingsBeforeExit(*config);
    kelvane::finishBeforeExit();
}

} // namespace

int main(int argc, char** argv) {
    // Every argument that is not an option is a URL to carry out.
    std::vector<std::string> urls;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '-') urls.emplace_back(argv[i]);

    installEndingSignals();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kelvane");
    QApplication::setDesktopFileName("kelvane");
    kelvane::ui::installQtTranslations(app);
    kelvane::ui::QtMainQueueDriver driver(plat::MainQueue::shared());

    // Ended with the session (a signal, the session bus gone): no alert can
    // reach the user then; what could not be saved is said on stderr.
    bool sessionEnds = false;
    QSocketNotifier endingSignals(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&endingSignals, &QSocketNotifier::activated, [&sessionEnds] {
        unsigned char sig = 0;
        while (::read(signalPipe[0], &sig, 1) == 1) {
            const char* name = sigabbrev_np(sig);
            plat::log(std::string("Kelvane: ending on SIG") + (name ? name : "?"));
        }
        sessionEnds = true;
        QCoreApplication::quit();
    });

    kelvane::AppDelegate delegate;
    kelvane::ui::SettingsWindow* window = nullptr;
    auto [role, instance] = kelvane::SingleInstance::claim(urls, [&](std::vector<std::string> received) {
        kelvane::onMain([&delegate, &window, received = std::move(received)] {
            if (window) {
                window->raise();
                window->activateWindow();
            }
            for (const auto& url : received) delegate.handleGetURL(url);
        });
    }, std::nullopt, [&sessionEnds] {
        kelvane::onMain([&sessionEnds] {
            sessionEnds = true;
            QCoreApplication::quit();
        });
    });
    if (role == kelvane::SingleInstance::Role::Forwarded) return 0;

    // Before anything reads the settings or opens a database.
    kelvane::prepareStart(kelvane::TableLocations::current());
    kelvane::CodeTableChooser::removeStaleRebuilds(kelvane::TableLocations::current());
    for (const auto& url : urls) delegate.handleGetURL(url);

    kelvane::ConfigManager& config = kelvane::ConfigManager::shared();
    kelvane::ui::registerPages();
    kelvane::SettingsController controller(config);
    kelvane::ui::SettingsWindow settingsWindow(controller, config);
    window = &settingsWindow;
    kelvane::URLSchemeProcessor::setKeyWindow(&controller);
    settingsWindow.show();
    delegate.windowDidLoad();

    // What lastWriteAtExit uses is built before it is registered, so it is
    // still there when it runs.
    kelvane::NotificationSender::setChannel(kelvane::NotificationSender::setChannel(nullptr));
    configAtExit = &config;
    std::atexit(lastWriteAtExit);
    const int rc = app.exec();
    configAtExit = nullptr;
    kelvane::URLSchemeProcessor::setKeyWindow(nullptr);
    window = nullptr;
    const std::string unsaved = kelvane::saveSettingsBeforeExit(config);
    kelvane::finishBeforeExit();
    instance.reset();
    // The window is gone: the alert stands alone, where a screen can show it.
    // It says so when a retry writes the change while it stands.
    const QString platform = QGuiApplication::platformName();
    if (!unsaved.empty() && !sessionEnds && platform != "offscreen" && platform != "minimal")
        kelvane::ui::makeExitAlert([&config, unsaved] { return kelvane::exitAlertText(config, unsaved); })->exec();
    return rc;
}
