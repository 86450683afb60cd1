#pragma once
#include "InputMethod/FontSize.h"
#include "Platform/Notifications/Command.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace plat {
class SerialQueue;
}

namespace taviro {

class CandidateWindowHolder;
class CompositionEngine;
class ConfigManager;
class Database;

// A file the commands remove: `relative` beneath `root`. The root may be reached
// through links (the programs' own folders may be); the folders below it are not.
struct FileBeneath {
    std::filesystem::path root, relative;
    std::filesystem::path path() const { return root / relative; }
};

// What the preferences application's commands act on.
class CommandTargets {
public:
    virtual ~CommandTargets() = default;

    virtual void setEngineReady(bool ready) = 0;
    // Close every database now, reopen them on a worker, clear the cache.
    virtual void reloadDBLink() = 0;
    virtual void closeAll() = 0;
    virtual void cleanCache() = 0;
    // The in-process "NeedReloadPlan": every scheme reader rereads its scheme.
    virtual void postNeedReloadPlan() = 0;
    // False when nothing was removed.
    virtual bool removeFile(const FileBeneath& file) = 0;
    // Replaces the per-user "custom.db" by the bundle's copy.
    virtual bool copyBundledCustomDatabase() = 0;
    // These two may be called off the main thread.
    virtual void setBootButtonName(const std::string& name) = 0;
    virtual void saveConfig() = 0;
    virtual void loadConfig() = 0;
    virtual void reloadInputDelegate() = 0;
    // A new window of that layout, with the old window's delegate and the
    // configured font size, in place of the old one (which is closed). A
    // window on show leaves its successor on show, with the same composition.
    virtual void switchCandidatesPanel(bool vertical) = 0;
    virtual void setFontSize(FontSize size) = 0;
    // Waits, bounded, until the last reopening has run, so that no connection it
    // makes meets a file being replaced. Called off the main thread.
    virtual void waitUntilReopened() {}
    // The ready flag as it stands, where known.
    virtual std::optional<bool> engineReady() const { return std::nullopt; }

    virtual FileBeneath customDBPath() const = 0;
    virtual FileBeneath userDBPath() const = 0;
    virtual FileBeneath defaultBootButtonsPath() const = 0;
};

// The input method's side of the command channel: one command at a time,
// on the main thread, in the order the preferences application posted them.
//
// With a `defer` function, "configNeedsReload", "needsReloadDBLink" and the three
// resets do not run at once: each asks for one run, made by `defer` (the end of
// the main queue), so that a burst of them costs one run of each kind. Waiting
// runs go in the order of their latest request, and before any other command
// (which therefore still sees them done), except:
// - "okToUse" only moves the ready flag and lets them wait (a waiting
//   "resetCustom" then ends with the flag as the command left it);
// - "closeDatabase" drops a waiting reopen, which the close would undo.
// At most one deferred block waits at any time. The file work of a reset then runs
// on a worker, off the key path; until it is done the commands that came after it
// wait, and the reset ends (reopen, flag) through `defer`.
//
// With an `after` function, a ready flag that "okToUse" false has held down for
// kFlagDownLimit is raised again, with a log line, and a store that
// "closeDatabase" left closed meanwhile is reopened.
class CommandHandler {
public:
    using Defer = std::function<void(std::function<void()>)>;
    using After = std::function<void(std::chrono::milliseconds, std::function<void()>)>;

    // Longer than any change of the preferences application keeps the flag down.
    static constexpr std::chrono::milliseconds kFlagDownLimit{30000};

    explicit CommandHandler(CommandTargets& targets, Defer defer = {}, After after = {});
    ~CommandHandler();
    CommandHandler(const CommandHandler&) = delete;
    CommandHandler& operator=(const CommandHandler&) = delete;

    // Runs the command; unknown commands and missing arguments do nothing.
    void dealWithNotifications(const plat::Command& command);
    // Runs the requested reloads and resets now, if any are waiting.
    void flushPendingReload();
    bool reloadPending() const { return !state_->pending.empty(); }
    // A reset's file work is under way; commands wait for it.
    bool busy() const { return state_->busy; }

private:
    enum class Reload { config, databases, resetCustom, resetUserDict, resetBootButtons };
    static std::optional<Reload> kindOf(const std::string& name);
    struct State {
        std::vector<Reload> pending;  // each kind at most once, in the order of its latest request
        bool scheduled = false;       // a deferred block is on its way
        bool busy = false;            // a reset's file work runs on a worker
        std::deque<plat::Command> waiting;  // commands that came while busy
        bool flagAfterCustomReset = true;   // what a waiting "resetCustom" leaves the flag at
        bool cleanCacheAtClose = false;     // a close dropped a waiting reopen
        bool storeClosed = false;           // by "closeDatabase", with no reopen since
        std::uint64_t flagDownSince = 0;    // which "okToUse" false holds the flag down; 0: none
        std::uint64_t flagLowerings = 0;
    };
    void handle(const plat::Command& command);
    void request(Reload kind);
    // False when a reset went off the main thread: what follows must wait.
    bool flush();
    void run(Reload kind);
    // Runs `work` on a worker (inline without `defer`), then `finish` on the main thread.
    void offMain(std::function<void()> work, std::function<void()> finish);
    // After a reset's file work: what is waiting runs.
    void resume();
    void setFlag(bool ready);
    // Takes a waiting run of that kind off the list; whether one was waiting.
    bool drop(Reload kind);

    CommandTargets& targets_;
    Defer defer_;
    After after_;
    // Shared with the deferred blocks, which do nothing once the handler is gone.
    std::shared_ptr<State> state_ = std::make_shared<State>();
    // The resets' file work, one at a time; waited for when the handler goes.
    std::unique_ptr<plat::SerialQueue> files_;
};

// The targets of the running input method.
class DefaultCommandTargets : public CommandTargets {
public:
    DefaultCommandTargets(Database& store, ConfigManager& config, CompositionEngine& engine,
                          CandidateWindowHolder& windows);

    void setEngineReady(bool ready) override;
    std::optional<bool> engineReady() const override;
    void reloadDBLink() override;
    void closeAll() override;
    void cleanCache() override;
    void postNeedReloadPlan() override;
    // Removes the file, or a link in its place (never what the link points to), in its
    // folder reached without a link; a folder or a folder of links on the way is left
    // alone with a log line.
    bool removeFile(const FileBeneath& file) override;
    bool copyBundledCustomDatabase() override;
    void setBootButtonName(const std::string& name) override;
    void saveConfig() override;
    void loadConfig() override;
    void reloadInputDelegate() override;
    void switchCandidatesPanel(bool vertical) override;
    void setFontSize(FontSize size) override;
    void waitUntilReopened() override;
    FileBeneath customDBPath() const override;
    FileBeneath userDBPath() const override;
    FileBeneath defaultBootButtonsPath() const override;

private:
    Database& store_;
    ConfigManager& config_;
    CompositionEngine& engine_;
    CandidateWindowHolder& windows_;
    std::mutex reopenMutex_;
    std::shared_future<void> reopen_;  // the last reopening asked for
};

} // namespace taviro
