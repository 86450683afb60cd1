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
#include "Platform/Dispatch/SerialQueue.h"
#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/Notifications/CommandChannelNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

namespace taviro {

namespace cmd = plat::command;

// The commands that are run once for a burst.
std::optional<CommandHandler::Reload> CommandHandler::kindOf(const std::string& name) {
    if (name == cmd::kConfigNeedsReload) return Reload::config;
    if (name == cmd::kNeedsReloadDBLink) return Reload::databases;
    if (name == cmd::kResetCustom) return Reload::resetCustom;
    if (name == cmd::kResetUserDict) return Reload::resetUserDict;
    if (name == cmd::kResetBootButtons) return Reload::resetBootButtons;
    return std::nullopt;
}

namespace {

// How long a reset's file work waits for a reopening still under way.
constexpr auto kReopenWait = std::chrono::seconds(10);

} // namespace

CommandHandler::CommandHandler(CommandTargets& targets, Defer defer, After after)
    : targets_(targets), defer_(std::move(defer)), after_(std::move(after)) {
    if (defer_) files_ = std::make_unique<plat::SerialQueue>("command file work");
}

// The file work under way finishes before the targets may go.
CommandHandler::~CommandHandler() { files_.reset(); }

void CommandHandler::offMain(std::function<void()> work, std::function<void()> finish) {
    if (!files_) {
        work();
        finish();
        return;
    }
    state_->busy = true;
    std::weak_ptr<State> weak = state_;
    files_->async([this, weak, defer = defer_, work = std::move(work), finish = std::move(finish)]() mutable {
        try {
            work();
        } catch (const std::exception& e) {
            plat::log(std::string("commands: a reset's file work failed: ") + e.what());
        } catch (...) {
            plat::log("commands: a reset's file work failed");
        }
        defer([this, weak, finish = std::move(finish)] {
            auto state = weak.lock();
            if (!state) return;
            finish();
            state->busy = false;
            resume();
        });
    });
}

void CommandHandler::resume() {
    if (!flush()) return;
    while (!state_->busy && !state_->waiting.empty()) {
        const plat::Command command = std::move(state_->waiting.front());
        state_->waiting.pop_front();
        handle(command);
    }
}

void CommandHandler::run(Reload kind) {
    switch (kind) {
    case Reload::databases:
        targets_.reloadDBLink();
        state_->storeClosed = false;
        return;
    case Reload::config:
        targets_.loadConfig();
        targets_.reloadInputDelegate();
        targets_.cleanCache();
        return;
    case Reload::resetCustom: {
        const bool flagAfter = std::exchange(state_->flagAfterCustomReset, true);
        targets_.setEngineReady(false);
        targets_.closeAll();
        auto copied = std::make_shared<bool>(false);
        offMain(
            [this, copied] {
                targets_.waitUntilReopened();
                targets_.removeFile(targets_.customDBPath());
                *copied = targets_.copyBundledCustomDatabase();
            },
            [this, copied, flagAfter] {
                if (!*copied) plat::log("resetCustom: the bundle's custom.db was not copied");
                targets_.reloadDBLink();
                state_->storeClosed = false;
                targets_.setEngineReady(flagAfter);
            });
        return;
    }
    case Reload::resetUserDict:
        targets_.closeAll();
        offMain(
            [this] {
                targets_.waitUntilReopened();
                const FileBeneath db = targets_.userDBPath();
                targets_.removeFile(db);
                // The journal and any write-ahead files of the old dictionary go with it.
                for (const char* suffix : {"-journal", "-wal", "-shm"}) {
                    FileBeneath side = db;
                    side.relative += suffix;
                    targets_.removeFile(side);
                }
            },
            [this] {
                targets_.reloadDBLink();
                state_->storeClosed = false;
            });
        return;
    case Reload::resetBootButtons:
        offMain(
            [this] {
                targets_.removeFile(targets_.defaultBootButtonsPath());
                targets_.setBootButtonName("BootButtons.plist");
                targets_.saveConfig();
            },
            [] {});
        return;
    }
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
    if (kind == Reload::resetCustom) state_->flagAfterCustomReset = true;
    state_->pending.push_back(kind);
    if (state_->scheduled) return;
    state_->scheduled = true;
    std::weak_ptr<State> weak = state_;
    defer_([this, weak] {
        auto state = weak.lock();
        if (!state) return;
        state->scheduled = false;
        flush();
    });
}

void CommandHandler::flushPendingReload() { flush(); }

bool CommandHandler::flush() {
    // Taken off the list before they run, so none runs twice.
    while (!state_->busy && !state_->pending.empty()) {
        const Reload kind = state_->pending.front();
        state_->pending.erase(state_->pending.begin());
        run(kind);
    }
    return !state_->busy;
}

void CommandHandler::setFlag(bool ready) {
    targets_.setEngineReady(ready);
    if (ready) {
        state_->flagDownSince = 0;
        return;
    }
    const std::uint64_t lowering = ++state_->flagLowerings;
    state_->flagDownSince = lowering;
    if (!after_) return;
    std::weak_ptr<State> weak = state_;
    after_(kFlagDownLimit, [this, weak, lowering] {
        auto state = weak.lock();
        if (!state || state->flagDownSince != lowering) return;
        state->flagDownSince = 0;
        // Raised meanwhile by other means (its sender left).
        if (targets_.engineReady().value_or(false)) return;
        plat::log("commands: \"okToUse\" false has kept the input method off its databases for " +
                  std::to_string(kFlagDownLimit.count() / 1000) + " s; it uses them again");
        state->flagAfterCustomReset = true;
        if (state->storeClosed && !state->busy) {
            targets_.reloadDBLink();
            state->storeClosed = false;
        }
        targets_.setEngineReady(true);
    });
}

void CommandHandler::dealWithNotifications(const plat::Command& command) {
    if (state_->busy || !state_->waiting.empty()) {
        // A burst waits as one: a request repeated at once adds nothing.
        auto& waiting = state_->waiting;
        if (!waiting.empty() && waiting.back().name == command.name && command.userInfo.empty() &&
            waiting.back().userInfo.empty() && kindOf(command.name))
            return;
        waiting.push_back(command);
        return;
    }
    handle(command);
}

void CommandHandler::handle(const plat::Command& command) {
    const std::string& name = command.name;
    if (const auto kind = kindOf(name)) {
        request(*kind);
        return;
    }
    if (name == cmd::kOkToUse) {
        if (auto ok = command.boolValue(cmd::kOkToUseKey)) {
            setFlag(*ok);
            auto& pending = state_->pending;
            if (std::find(pending.begin(), pending.end(), Reload::resetCustom) != pending.end())
                state_->flagAfterCustomReset = *ok;
        }
        return;
    }
    if (name == cmd::kCloseDatabase) {
        // A reopen still waiting would be closed again at once: it is dropped,
        // and only its emptying of the cache is kept.
        if (drop(Reload::databases)) state_->cleanCacheAtClose = true;
        if (!flush()) {
            state_->waiting.push_front(command);
            return;
        }
        targets_.closeAll();
        state_->storeClosed = true;
        if (std::exchange(state_->cleanCacheAtClose, false)) targets_.cleanCache();
        return;
    }
    // What was asked before this command is done before it.
    if (!flush()) {
        state_->waiting.push_front(command);
        return;
    }
    if (name == cmd::kNeedReloadPlan) {
        targets_.postNeedReloadPlan();
        targets_.cleanCache();
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
std::optional<bool> DefaultCommandTargets::engineReady() const { return TaviroIMEngine::isReady(); }
void DefaultCommandTargets::reloadDBLink() {
    auto reopen = store_.reloadDBLink();
    std::lock_guard lk(reopenMutex_);
    reopen_ = std::move(reopen);
}
void DefaultCommandTargets::waitUntilReopened() {
    std::shared_future<void> reopen;
    {
        std::lock_guard lk(reopenMutex_);
        reopen = reopen_;
    }
    if (!reopen.valid()) return;
    plat::WorkerPool::Blocking waiting;
    if (reopen.wait_for(kReopenWait) != std::future_status::ready)
        plat::log("commands: the databases are still being reopened; the reset goes on");
}
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
    const bool showing = delegate && old.isVisible();
    old.close();
    CandidateWindow& next = windows_.replace(vertical);
    next.setDelegate(delegate);
    next.setFontSize(nearestFontSize(config_.settings()->fontSize));
    // The composition on show goes on in the new window.
    if (showing) windows_.show(*delegate);
}

void DefaultCommandTargets::setFontSize(FontSize size) { windows_.window().setFontSize(size); }

FileBeneath DefaultCommandTargets::customDBPath() const { return {store_.locations().userFolder, "custom.db"}; }
FileBeneath DefaultCommandTargets::userDBPath() const { return {store_.locations().userFolder, "user.db"}; }
FileBeneath DefaultCommandTargets::defaultBootButtonsPath() const {
    return {plat::Paths::userFolder(), std::filesystem::path("BootButtons") / "BootButtons.plist"};
}

} // namespace taviro
