// Kelvane: the preferences application of the input method.
#include "Platform/Dispatch/MainQueue.h"
#include "Settings/App/AppDelegate.h"
#include "Settings/App/SettingsController.h"
#include "Settings/App/SingleInstance.h"
#include "Settings/CodeTable/CodeTableChooser.h"
#include "Settings/ConfigManager.h"
#include "Settings/MainThread.h"
#include "Settings/App/AppLifecycle.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/QtMainQueueDriver.h"
#include "Settings/ui/SettingsWindow.h"

#include <QApplication>
#include <QMessageBox>

#include <string>
#include <vector>

int main(int argc, char** argv) {
    // Every argument that is not an option is a URL to carry out.
    std::vector<std::string> urls;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '-') urls.emplace_back(argv[i]);

    QApplication app(argc, argv);
    QApplication::setApplicationName("Kelvane");
    QApplication::setDesktopFileName("kelvane");
    kelvane::ui::QtMainQueueDriver driver(plat::MainQueue::shared());

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

    const int rc = app.exec();
    kelvane::URLSchemeProcessor::setKeyWindow(nullptr);
    window = nullptr;
    const std::string unsaved = kelvane::saveSettingsBeforeExit(config);
    kelvane::finishBeforeExit();
    instance.reset();
    // The window is gone: the alert stands alone, where a screen can show it.
    const QString platform = QGuiApplication::platformName();
    if (!unsaved.empty() && platform != "offscreen" && platform != "minimal")
        kelvane::ui::makeExitAlert(unsaved)->exec();
    return rc;
}
