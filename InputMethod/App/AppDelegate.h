#pragma once
#include "InputMethod/App/CommandBrackets.h"
#include "InputMethod/App/Notices.h"
#include "InputMethod/CommandHandler.h"
#include "Platform/Dispatch/Timer.h"
#include "Platform/Notifications/CommandReceiver.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace plat {
class MainQueue;
}

namespace taviro {

class CandidateWindowHolder;
class ConfigManager;
class Updater;
class VersionCheck;

// What start-up brings together. Hooks left empty are skipped.
struct AppEnvironment {
    plat::MainQueue* queue = nullptr;  // default: the shared main queue
    ConfigManager* config = nullptr;   // required
    CandidateWindowHolder* windows = nullptr;  // required
    CommandTargets* commandTargets = nullptr;  // required
    Updater* updater = nullptr;
    NoticeCenter* notices = nullptr;
    VersionCheck* versionCheck = nullptr;
    std::optional<std::string> bundleIdentifier;
    // The user folder ("<Documents>/塔维输入法").
    std::filesystem::path userFolder;

    // Creates the input-method server under that connection name; false when
    // there is none (start-up then fails).
    std::function<bool(const std::string& connectionName, const std::optional<std::string>& bundleIdentifier)>
        startServer;
    // Subscribes to the command channel.
    std::function<std::unique_ptr<plat::CommandReceiver>(plat::CommandReceiver::SenderHandler,
                                                         plat::CommandReceiver::GoneHandler)>
        subscribe;
    // The engine's first use (its start-up jobs begin).
    std::function<void()> cleanEngine;
    // Makes the input method's item present in the control strip.
    std::function<void()> controlStrip;
    // Starts the crash reporter.
    std::function<void()> startCrashReporter;
    std::function<void()> openAbout;
    // Ends the process after a changed install (waits, bounded, for the
    // store's writes first).
    std::function<void()> terminate;
};

// The application delegate of TaviroMac2: start-up, the preferences
// application's commands, the 2.0 s installed-version check and the notices.
// Main thread only.
class AppDelegate {
public:
    static constexpr const char* kConnectionName = "TaviroMac_3_Connection";
    static constexpr const char* kControlStripIdentifier = "com.quorvel.inputmethod.TaviroMac2.Vorid";

    explicit AppDelegate(AppEnvironment environment);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Start-up; false when the server could not be created (the process ends).
    bool applicationDidFinishLaunching();
    void applicationWillTerminate() {}
    void applicationWillBecomeActive();

    // A command of the preferences application, from `sender` (its bus name).
    void dealWithNotifications(const plat::Command& command, const std::string& sender = {});
    // A connection left the bus.
    void senderGone(const std::string& name);
    // The tick of the 2.0 s timer.
    void updateTimer();
    void updaterDidFindValidUpdate();
    void didActivateNotification(const Notice& notice);

    static Notice changedBundleNotice();
    static Notice updateNotice();
    // Settings changed in this session that the last write at exit could not save.
    static Notice unsavedSettingsNotice();

    bool timerRunning() const { return timer_.isActive(); }
    bool subscribed() const { return receiver_ != nullptr; }
    bool updateScheduled() const { return updateScheduled_; }

private:
    AppEnvironment env_;
    plat::MainQueue& queue_;
    CommandHandler handler_;
    CommandBrackets brackets_;
    std::unique_ptr<plat::CommandReceiver> receiver_;
    plat::Timer timer_;
    bool updateScheduled_ = false;
    std::shared_ptr<AppDelegate*> self_ = std::make_shared<AppDelegate*>(this);
};

} // namespace taviro
