#include "InputMethod/App/Desktop/DesktopApp.h"

#include "InputMethod/App/AppDelegate.h"
#include "InputMethod/App/CrashLog.h"
#include "InputMethod/App/AboutController.h"
#include "InputMethod/App/Desktop/AboutWindow.h"
#include "InputMethod/App/Desktop/DesktopServices.h"
#include "InputMethod/App/Desktop/DisplayChoice.h"
#include "InputMethod/App/Desktop/LookupTableView.h"
#include "InputMethod/App/Desktop/StatusHintView.h"
#include "InputMethod/App/DesktopState.h"
#include "InputMethod/SharedFunctions.h"
#include "InputMethod/App/FreedesktopNotices.h"
#include "InputMethod/App/InputMenu.h"
#include "InputMethod/App/Updater.h"
#include "InputMethod/App/VersionCheck.h"
#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/CommandHandler.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "InputMethod/TavCandidates/Qt/QtCandidateWindows.h"
#include "InputMethod/TaviroController.h"
#include "InputMethod/TaviroEngineAdapter.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/ReplaceJournal.h"
#include "Platform/InputMethodKit/GLibMainQueueDriver.h"
#include "Platform/InputMethodKit/IBusHost.h"
#include "Platform/InputMethodKit/InputMethodServer.h"
#include "Platform/Notifications/CommandReceiver.h"
#include "Platform/SunPinyin/SunpinyinWrapper.h"
#include "Platform/TouchBar/TouchBarHost.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QScreen>

#include <glib-unix.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>
#include <unistd.h>

namespace taviro {
namespace {

double primaryScreenHeight() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().height() : 1080.0;
}

// Screens in points with y up from the primary screen's lower left.
std::vector<plat::TextRect> screenFrames() {
    std::vector<plat::TextRect> out;
    const double h = primaryScreenHeight();
    const QScreen* primary = QGuiApplication::primaryScreen();
    auto add = [&](const QScreen* s) {
        const QRect g = s->geometry();
        out.push_back({static_cast<double>(g.x()), h - g.y() - g.height(), static_cast<double>(g.width()),
                       static_cast<double>(g.height())});
    };
    if (primary) add(primary);
    for (const QScreen* s : QGuiApplication::screens())
        if (s != primary) add(s);
    return out;
}

std::string executableDir() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

// A notice as a window that does not block typing (no service to show it).
void showNoticeWindow(const Notice& notice) {
    auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(notice.title),
                                QString::fromStdString(notice.title), QMessageBox::Ok);
    const std::string text = notice.subtitle ? *notice.subtitle + "\n" + notice.informativeText : notice.informativeText;
    box->setInformativeText(QString::fromStdString(text));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

// Settings the stop could not write: the settings manager logged which; the
// user is told in a notice while a service can still show one.
void tellUnsavedSettings(FreedesktopNoticeCenter* notices) {
    if (notices && notices->deliverNow(AppDelegate::unsavedSettingsNotice(), std::chrono::seconds(1))) return;
    plat::log("TaviroMac2: no notice could be shown that the settings changes were not saved");
}

// The display going away ends the process from inside Qt (exit(1)), with the
// event loop still running: the stop's last writes run at exit then. Set
// while the event loop runs.
std::function<void()> stopAtExit;

void runStopAtExit() {
    auto stop = std::exchange(stopAtExit, nullptr);
    if (!stop) return;
    plat::log("TaviroMac2: ending without its event loop (the display is gone?)");
    stop();
}

} // namespace

int runDesktopApp(QApplication& app, const DesktopOptions& options) {
    (void)app;
    const auto started = options.started;
    // The IBus engine lives on GLib's default context: Qt must run it.
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher || !dispatcher->inherits("QEventDispatcherGlib")) {
        plat::log("TaviroMac2: Qt does not run on the GLib event loop (QT_NO_GLIB set?)");
        return 1;
    }
    plat::GLibMainQueueDriver driver(plat::MainQueue::shared());

    // A restore that a killed preferences application left half done is finished or undone
    // before the settings are read and the databases opened.
    plat::recoverAtStart(plat::Paths::perUserFolder(), plat::Paths::userFolder());
    ConfigManager& config = ConfigManager::shared();
    TaviroIMEngine& engine = TaviroIMEngine::shared();
    TaviroEngineAdapter adapter(engine);
    CandidateWindowHolder windows;
    windows.setFactory(qt::candidateWindowFactory(windows));
    const std::string platformName = QGuiApplication::platformName().toStdString();
    const CandidatePresentation presentation = candidatePresentationFor(platformName, processEnvironment());
    plat::log(describe(presentation, platformName));

    // The status hint of the controller that showed one last, drawn when its
    // model changes; another controller's hide step leaves it alone.
    StatusHintView hintView;
    const StatusHint* shownHint = nullptr;
    auto hintChanged = [&hintView, &shownHint](const StatusHint& hint) {
        if (hint.alpha() <= 0 && &hint != shownHint) return;
        shownHint = hint.alpha() > 0 ? &hint : nullptr;
        hintView.sync(hint, primaryScreenHeight());
    };

    ControllerEnvironment controllerEnv;
    controllerEnv.engine = &adapter;
    controllerEnv.config = &config;
    controllerEnv.windows = &windows;
    controllerEnv.hint.screens = screenFrames;
    controllerEnv.hint.changed = hintChanged;
    controllerEnv.hint.mouseLocation = [] {
        const QPoint p = QCursor::pos();
        return plat::TextRect{static_cast<double>(p.x()), primaryScreenHeight() - p.y(), 0, 0};
    };

    UnservedNoticeCenter noService;
    auto desktopNotices = FreedesktopNoticeCenter::create(
        [](std::function<void()> fn) { plat::MainQueue::shared().async(std::move(fn)); });
    NoticeCenter& notices = desktopNotices ? static_cast<NoticeCenter&>(*desktopNotices) : noService;
    // Without a notification service a notice opens a small window of its own.
    notices.setUndeliveredHandler(showNoticeWindow);
    // The store's messages (a damaged or long-locked user dictionary) as notices.
    auto storeNotices = std::make_shared<NoticeCenterUserNotice>(notices);
    Database::shared().setUserNotice(storeNotices);
    // A damaged settings file met at start-up, and a full composition, likewise.
    config.setUserNotice(storeNotices);
    // Files of SunPinyin's folder set aside as its engine starts, likewise.
    plat::SunpinyinWrapper::setUserNotice(
        [storeNotices](const std::string& title, const std::string& text) { storeNotices->post(title, text); });
    controllerEnv.notice = storeNotices;
    struct StoreNoticesEnd {
        std::shared_ptr<NoticeCenterUserNotice> n;
        ~StoreNoticesEnd() {
            Database::shared().setUserNotice(nullptr);
            ConfigManager::shared().setUserNotice(nullptr);
            plat::SunpinyinWrapper::setUserNotice(nullptr);
            n->detach();
        }
    } storeNoticesEnd{storeNotices};
    PackageManagerUpdater updater(notices);
    // The Info.plist of the bundle this program runs from: under the install
    // prefix when installed (a package update replaces it), in the build tree
    // when run from there.
    VersionCheck versionCheck(TAVIRO_VERSION, plat::Paths::resourceFolder(plat::Bundle::TaviroMac2) / "Info.plist");
    DefaultCommandTargets targets(Database::shared(), config, adapter, windows);

    std::unique_ptr<plat::InputMethodServer> server;
    std::unique_ptr<plat::IBusHost> host;
    std::unique_ptr<DesktopServices> services;
    if (presentation == CandidatePresentation::lookupTable) {
        // The window model lays out the pages; the desktop's panel draws them.
        windows.setFactory([&windows, &host](bool vertical) -> std::unique_ptr<CandidateWindow> {
            CandidateEnvironment env;
            env.strip = &windows.strip();
            auto model = qt::makeCandidateWindow(vertical, env);
            LookupTableView::Output out;
            out.show = [&host](const plat::HostLookupTable& table) {
                if (host) host->showLookupTable(table);
            };
            out.hide = [&host] {
                if (host) host->hideLookupTable();
            };
            model->setView(std::make_unique<LookupTableView>(*model, std::move(out), plat::MainQueue::shared()));
            return model;
        });
    }
    const std::string kelvane = executableDir() + "/Kelvane";

    // The desktop's appearance and screen reader, read in the background.
    auto desktopState = DesktopState::start();
    setSystemInterfaceStyleSource([state = desktopState.get()] { return state->interfaceStyle(); });

    // The About window: each opening builds a new one; the last is kept.
    static std::unique_ptr<AboutWindow> aboutWindow;
    auto openAbout = [&updater] {
        aboutWindow = std::make_unique<AboutWindow>(
            std::make_unique<AboutController>(&updater, TAVIRO_VERSION, TAVIRO_VERSION), isDarkAppearance(),
            [](const std::string& url) { openWithDesktop(url); });
        aboutWindow->show();
        aboutWindow->raise();
        aboutWindow->activateWindow();
    };

    InputMenuActions menuActions(MenuEnvironment{
        &config, &updater, openAbout,
        [kelvane] { return launchProgram(kelvane); }, [] { return hasSchemeHandler("taviromac2"); },
        openWithDesktop});

    AppEnvironment env;
    env.config = &config;
    env.windows = &windows;
    env.commandTargets = &targets;
    env.updater = &updater;
    env.notices = &notices;
    env.versionCheck = &versionCheck;
    env.bundleIdentifier = std::string("com.quorvel.inputmethod.TaviroMac2");
    env.userFolder = plat::Paths::userFolder();
    env.startServer = [&](const std::string& name, const std::optional<std::string>& bundleId) {
        server = std::make_unique<plat::InputMethodServer>(
            name, bundleId.value_or(""), [&](plat::InputMethodServer& s, plat::TextInputClient* client) {
                return std::make_unique<TaviroController>(&s, client, controllerEnv);
            });
        plat::IBusHost::Options o;
        o.standalone = !options.startedByDaemon;
        o.description = "塔维输入法";
        o.version = TAVIRO_VERSION;
        o.execPath = executableDir() + "/TaviroMac2 --ibus";
        o.primaryScreenHeight = primaryScreenHeight;
        o.disconnected = [] { QCoreApplication::exit(0); };
        o.caretMoved = [&windows, presentation](plat::TextInputClient& client) {
            // The panel follows the caret by itself.
            if (presentation == CandidatePresentation::lookupTable) return;
            CandidateWindow& w = windows.window();
            if (w.isVisible()) w.showAtCaret(&client);
        };
        o.candidateClicked = [&windows](int index) {
            auto* w = dynamic_cast<CandidateController*>(&windows.window());
            if (!w || !w->isVisible() || index < 0 || index >= w->visibleCandidateCount()) return;
            w->highlightCandidate(index);
            w->selectCandidate();
        };
        o.pageUp = [&windows] {
            if (windows.window().isVisible()) windows.window().previousPage();
        };
        o.pageDown = [&windows] {
            if (windows.window().isVisible()) windows.window().nextPage();
        };
        o.properties = [&config] {
            std::vector<plat::HostProperty> props;
            const InputMenu menu = buildInputMenu(*config.settings());
            int n = 0;
            for (const auto& item : menu.items) {
                plat::HostProperty p;
                p.separator = item.separator;
                p.key = item.separator ? "separator" + std::to_string(++n) : item.action;
                p.label = item.title;
                if (!item.keyEquivalent.empty()) p.shortcut = "⇧⌘" + item.keyEquivalent;
                props.push_back(std::move(p));
            }
            return props;
        };
        o.propertyActivated = [&](const std::string& key) {
            menuActions.perform(key);
            if (host) host->refreshProperties();
        };
        host = std::make_unique<plat::IBusHost>(*server, std::move(o));
        if (!host->start()) return false;
        services = std::make_unique<DesktopServices>(*host);
        plat::SystemServices::setShared(services.get());
        return true;
    };
    env.subscribe = [](plat::CommandReceiver::SenderHandler handler, plat::CommandReceiver::GoneHandler gone) {
        // The session bus gone (the end of the desktop session): the same stop
        // as a logout's SIGTERM.
        return plat::CommandReceiver::start(
            std::move(handler), std::move(gone),
            [](std::function<void()> fn) { plat::MainQueue::shared().async(std::move(fn)); }, std::nullopt,
            [] {
                plat::log("TaviroMac2: the session bus is gone; ending");
                QCoreApplication::exit(0);
            });
    };
    env.openAbout = openAbout;
    env.controlStrip = [] {
        plat::TouchBarHost::shared().setControlStripPresence(AppDelegate::kControlStripIdentifier, true);
    };
    env.cleanEngine = [&] { adapter.clean(); };
    env.startCrashReporter = [] { CrashLog::start(plat::Paths::perUserFile("crash.log")); };
    // The stop: settings still waiting for the lock get one last write (saying
    // so when they cannot have it), then the store's writes finish, for a
    // bounded time (a write cut off halfway is rolled back at the next start).
    auto lastWrites = [&engine, &config, &desktopNotices](const std::string& when) {
        if (!config.saveBeforeExit()) tellUnsavedSettings(desktopNotices.get());
        if (!engine.finishForExit(std::chrono::seconds(3)))
            plat::log("TaviroMac2: store writes still running " + when + "; ending anyway");
    };
    env.terminate = [lastWrites] {
        lastWrites("at the update");
        ::kill(::getpid(), SIGKILL);
    };

    AppDelegate delegate(env);
    if (!delegate.applicationDidFinishLaunching()) return 1;

    // Say once when keys are served with real candidates.
    plat::Timer readyProbe = plat::MainQueue::shared().repeating(std::chrono::milliseconds(2), [&] {
        if (!TaviroIMEngine::isReady()) return;
        const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started);
        plat::log("TaviroMac2: ready for keys after " + std::to_string(static_cast<int>(ms.count())) + " ms");
        readyProbe.cancel();
    });

    // Logout, a service manager or Ctrl-C end the loop instead of the process,
    // so that the stop below runs.
    std::vector<guint> signalSources;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        signalSources.push_back(g_unix_signal_add(
            sig,
            [](gpointer) -> gboolean {
                QCoreApplication::exit(0);
                return G_SOURCE_CONTINUE;
            },
            nullptr));

    stopAtExit = [lastWrites] { lastWrites("at exit"); };
    std::atexit(runStopAtExit);
    const int status = QApplication::exec();
    stopAtExit = nullptr;
    aboutWindow.reset();
    setSystemInterfaceStyleSource(nullptr);
    plat::SystemServices::setShared(nullptr);
    lastWrites("at exit");
    for (guint source : signalSources) g_source_remove(source);
    return status;
}

} // namespace taviro
