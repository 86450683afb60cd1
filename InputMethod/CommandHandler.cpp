#include "InputMethod/CommandHandler.h"

#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/CompositionEngine.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Notifications/CommandChannelNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace taviro {

namespace cmd = plat::command;

void CommandHandler::run(Reload kind) {
    if (kind == Reload::databases) {
        targets_.reloadDBLink();
        return;
    }
    targets_.loadConfig();
    targets_.reloadInputDelegate();
    targets_.cleanCache();
}

bool CommandHandler::drop(Reload kind) {
    auto& pending = state_->pending;
    const auto it = std::find(pending.begin(), pending.end(), kind);
    if (it == pending.end()) return false;
    pending.erase(it);
    return true;
}

void CommandHandler::request(Reload kind) {
    if (!defer_) {
        run(kind);
        return;
    }
    // A repeated request moves to the end: what it must follow still comes first.
    drop(kind);
    state_->pending.push_back(kind);
    if (state_->scheduled) return;
    state_->scheduled = true;
    std::weak_ptr<State> weak = state_;
    defer_([this, weak] {
        auto state = weak.lock();
        if (!state) return;
        state->scheduled = false;
        flushPendingReload();
    });
}

void CommandHandler::flushPendingReload() {
    // Taken off the list before they run, so a reload never runs twice.
    while (!state_->pending.empty()) {
        const Reload kind = state_->pending.front();
        state_->pending.erase(state_->pending.begin());
        run(kind);
    }
}

void CommandHandler::dealWithNotifications(const plat::Command& command) {
    const std::string& name = command.name;
    if (name == cmd::kConfigNeedsReload) {
        request(Reload::config);
        return;
    }
    if (name == cmd::kNeedsReloadDBLink) {
        request(Reload::databases);
        return;
    }
    if (name == cmd::kOkToUse) {
        if (auto ok = command.boolValue(cmd::kOkToUseKey)) targets_.setEngineReady(*ok);
        return;
    }
    if (name == cmd::kCloseDatabase) {
        // A reopen still waiting would be closed again at once: it is dropped,
        // and only its emptying of the cache is kept.
        const bool reopenDropped = drop(Reload::databases);
        flushPendingReload();
        targets_.closeAll();
        if (reopenDropped) targets_.cleanCache();
        return;
    }
    // What was asked before this command is done before it.
    flushPendingReload();
    if (name == cmd::kNeedReloadPlan) {
        targets_.postNeedReloadPlan();
        targets_.cleanCache();
    } else if (name == cmd::kResetCustom) {
        targets_.setEngineReady(false);
        targets_.closeAll();
        targets_.removeFile(targets_.customDBPath());
        if (!targets_.copyBundledCustomDatabase()) plat::log("resetCustom: the bundle's custom.db was not copied");
        targets_.reloadDBLink();
        targets_.setEngineReady(true);
    } else if (name == cmd::kResetUserDict) {
        targets_.closeAll();
        const FileBeneath db = targets_.userDBPath();
        targets_.removeFile(db);
        // The journal and any write-ahead files of the old dictionary go with it.
        for (const char* suffix : {"-journal", "-wal", "-shm"}) {
            FileBeneath side = db;
            side.relative += suffix;
            targets_.removeFile(side);
        }
        targets_.reloadDBLink();
    } else if (name == cmd::kResetBootButtons) {
        targets_.removeFile(targets_.defaultBootButtonsPath());
        targets_.setBootButtonName("BootButtons.plist");
        targets_.saveConfig();
    } else if (name == cmd::kSwitchCandidatesPanel) {
        const auto panel = command.stringValue(cmd::kNameKey);
        if (panel == std::string(cmd::kHorizontalPanel)) targets_.switchCandidatesPanel(false);
        else if (panel == std::string(cmd::kVerticalPanel)) targets_.switchCandidatesPanel(true);
    } else if (name == cmd::kSetFontSize) {
        if (auto raw = command.intValue(cmd::kSizeKey))
            if (auto size = fontSizeFromRaw(*raw)) targets_.setFontSize(*size);
    }
}

DefaultCommandTargets::DefaultCommandTargets(Database& store, ConfigManager& config, CompositionEngine& engine,
                                             CandidateWindowHolder& windows)
    : store_(store), config_(config), engine_(engine), windows_(windows) {}

void DefaultCommandTargets::setEngineReady(bool ready) { TaviroIMEngine::setReady(ready); }
void DefaultCommandTargets::reloadDBLink() { (void)store_.reloadDBLink(); }
void DefaultCommandTargets::closeAll() { store_.closeAll(); }
void DefaultCommandTargets::cleanCache() { store_.cleanCache(); }
void DefaultCommandTargets::postNeedReloadPlan() {
    plat::NotificationCenter::defaultCenter().post("NeedReloadPlan");
}
bool DefaultCommandTargets::removeFile(const FileBeneath& file) {
    const std::string name = file.relative.filename().string();
    if (name.empty() || name == "." || name == "..") return false;
    const int dir = plat::openFolderBeneath(file.root, file.relative.parent_path());
    if (dir < 0) {
        if (errno != ENOENT)
            plat::log("commands: " + file.path().string() + " was not removed: its folder is reached through a link "
                      "or is no folder (" + std::strerror(errno) + ")");
        return false;
    }
    struct stat st {};
    bool removed = false;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) removed = ::unlinkat(dir, name.c_str(), 0) == 0;
        else plat::log("commands: " + file.path().string() + " was not removed: it is not a file");
    }
    ::close(dir);
    return removed;
}
bool DefaultCommandTargets::copyBundledCustomDatabase() {
    if (!plat::FileManager::isRegularFile(store_.locations().resourceDir / "custom.db")) return false;
    store_.copyBundledDatabase("custom.db", customDBPath().path().string());
    return plat::FileManager::fileExists(customDBPath().path());
}
void DefaultCommandTargets::setBootButtonName(const std::string& name) {
    config_.update([&](Settings& s) { s.bootButtonName = name; });
}
void DefaultCommandTargets::saveConfig() { config_.saveConfig(); }
void DefaultCommandTargets::loadConfig() { config_.loadConfig(); }
void DefaultCommandTargets::reloadInputDelegate() { engine_.reloadInputDelegate(); }

void DefaultCommandTargets::switchCandidatesPanel(bool vertical) {
    CandidateWindow& old = windows_.window();
    CandidateWindowDelegate* delegate = old.delegate();
    old.close();
    CandidateWindow& next = windows_.replace(vertical);
    next.setDelegate(delegate);
    next.setFontSize(nearestFontSize(config_.settings()->fontSize));
}

void DefaultCommandTargets::setFontSize(FontSize size) { windows_.window().setFontSize(size); }

FileBeneath DefaultCommandTargets::customDBPath() const { return {store_.locations().userFolder, "custom.db"}; }
FileBeneath DefaultCommandTargets::userDBPath() const { return {store_.locations().userFolder, "user.db"}; }
FileBeneath DefaultCommandTargets::defaultBootButtonsPath() const {
    return {plat::Paths::userFolder(), std::filesystem::path("BootButtons") / "BootButtons.plist"};
}

} // namespace taviro
