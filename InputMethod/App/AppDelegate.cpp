#include "InputMethod/App/AppDelegate.h"

#include "InputMethod/App/Updater.h"
#include "InputMethod/App/VersionCheck.h"
#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/Core/ConfigManager.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"

namespace taviro {

AppDelegate::AppDelegate(AppEnvironment environment)
    : env_(std::move(environment)),
      queue_(env_.queue ? *env_.queue : plat::MainQueue::shared()),
      // Reloads asked for by a burst of commands run once, behind the burst.
      handler_(*env_.commandTargets, [q = &queue_](std::function<void()> fn) { q->async(std::move(fn)); },
               [q = &queue_](std::chrono::milliseconds delay, std::function<void()> fn) {
                   q->after(delay, std::move(fn));
               }),
      brackets_(*env_.commandTargets) {}

AppDelegate::~AppDelegate() {
    timer_.cancel();
    receiver_.reset();
}

bool AppDelegate::applicationDidFinishLaunching() {
    // 1-2: the server, named by its connection.
    if (!env_.startServer || !env_.startServer(kConnectionName, env_.bundleIdentifier)) {
        plat::log("TaviroMac2: the input-method server could not be created");
        return false;
    }
    // 3: the shared candidate window with the configured font size.
    const auto settings = env_.config->settings();
    env_.windows->setInitialLayout(settings->verticalCandidates);
    CandidateWindow& window = env_.windows->window();
    window.setFontSize(nearestFontSize(settings->fontSize));
    // 4: the preferences application's commands.
    if (env_.subscribe) {
        std::weak_ptr<AppDelegate*> weak = self_;
        receiver_ = env_.subscribe(
            [weak](const plat::Command& c, const std::string& sender) {
                if (auto self = weak.lock()) (*self)->dealWithNotifications(c, sender);
            },
            [weak](const std::string& name) {
                if (auto self = weak.lock()) (*self)->senderGone(name);
            });
    }
    // 5: the engine's first use.
    if (env_.cleanEngine) env_.cleanEngine();
    // 6-7: delegates of the updater and the notices.
    std::weak_ptr<AppDelegate*> weak = self_;
    if (env_.updater)
        env_.updater->setFoundHandler([weak] {
            if (auto self = weak.lock()) (*self)->updaterDidFindValidUpdate();
        });
    if (env_.notices)
        env_.notices->setActivationHandler([weak](const Notice& n) {
            if (auto self = weak.lock()) (*self)->didActivateNotification(n);
        });
    // 8: the control strip.
    if (env_.controlStrip) env_.controlStrip();
    // 9: the crash reporter, only when asked for.
    if (settings->uploadCrashLog && env_.startCrashReporter) env_.startCrashReporter();
    // 10: a silent update check, later on the main queue.
    queue_.async([weak] {
        if (auto self = weak.lock())
            if ((*self)->env_.updater) (*self)->env_.updater->checkForUpdateInformation();
    });
    // 11: the installed-version check every 2.0 s.
    timer_ = queue_.repeating(std::chrono::milliseconds(2000), [weak] {
        if (auto self = weak.lock()) (*self)->updateTimer();
    });
    // 12: the user folder and its subfolders, with any missing parent (a new
    // account may have no documents folder yet). Failures are ignored.
    if (!env_.userFolder.empty()) {
        plat::Paths::ensureFolder(env_.userFolder);
        for (const char* sub : {"KeyMaps", "AssistCodes", "BootButtons", "data", "Extended"})
            plat::Paths::ensureFolder(env_.userFolder / sub);
    }
    // 13: notices left from an earlier run.
    if (env_.notices) env_.notices->removeAllDelivered();
    return true;
}

void AppDelegate::applicationWillBecomeActive() { plat::log("active!!!!!"); }

void AppDelegate::dealWithNotifications(const plat::Command& command, const std::string& sender) {
    brackets_.commandReceived(command, sender);
    handler_.dealWithNotifications(command);
}

void AppDelegate::senderGone(const std::string& name) { brackets_.senderGone(name); }

void AppDelegate::updateTimer() {
    if (updateScheduled_ || !env_.versionCheck || !env_.versionCheck->installedVersionDiffers()) return;
    updateScheduled_ = true;
    std::weak_ptr<AppDelegate*> weak = self_;
    queue_.after(std::chrono::milliseconds(500), [weak] {
        auto self = weak.lock();
        if (!self) return;
        AppDelegate& d = **self;
        if (d.env_.notices) d.env_.notices->deliver(changedBundleNotice());
        if (d.env_.terminate) d.env_.terminate();
    });
}

void AppDelegate::updaterDidFindValidUpdate() {
    if (env_.notices) env_.notices->deliver(updateNotice());
}

void AppDelegate::didActivateNotification(const Notice& notice) {
    if (env_.notices) env_.notices->removeDelivered(notice);
    if (notice.identifier && *notice.identifier == "update_alert" && env_.openAbout) env_.openAbout();
}

Notice AppDelegate::changedBundleNotice() {
    return Notice{std::nullopt, "尝试进行免注销更新", std::nullopt, "如果输入法更新后出现异常或无法使用，请注销系统"};
}

Notice AppDelegate::updateNotice() {
    return Notice{std::string("update_alert"), "塔维输入法有更新了！", std::string("点我直达关于页面"),
                  "在塔维输入法的菜单中打开“关于”面板，点击检查更新以获取更新。"};
}

Notice AppDelegate::unsavedSettingsNotice() {
    return Notice{std::nullopt, "设置未能保存", std::nullopt,
                  "输入法退出时，设置文件被另一个程序占用或无法写入，本次更改的设置已丢失。"};
}

} // namespace taviro
