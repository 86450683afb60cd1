#pragma once
#include "InputMethod/FontSize.h"
#include "Platform/Notifications/Command.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
    virtual void setBootButtonName(const std::string& name) = 0;
    virtual void saveConfig() = 0;
    virtual void loadConfig() = 0;
    virtual void reloadInputDelegate() = 0;
    // A new window of that layout, with the old window's delegate and the
    // configured font size, in place of the old one (which is closed).
    virtual void switchCandidatesPanel(bool vertical) = 0;
    virtual void setFontSize(FontSize size) = 0;

    virtual FileBeneath customDBPath() const = 0;
    virtual FileBeneath userDBPath() const = 0;
    virtual FileBeneath defaultBootButtonsPath() const = 0;
};

// The input method's side of the command channel: one command at a time,
// on the main thread, in the order the preferences application posted them.
//
// With a `defer` function, "configNeedsReload" and "needsReloadDBLink" do not
// reload at once: each asks for one reload, run by `defer` (the end of the
// main queue), so that a burst of them costs one reload of each kind. Waiting
// reloads run in the order of their latest request, and before any other
// command (which therefore still sees them done), except:
// - "okToUse" only moves the ready flag and lets them wait;
// - "closeDatabase" drops a waiting reopen, which the close would undo.
// At most one deferred block waits at any time.
class CommandHandler {
public:
    using Defer = std::function<void(std::function<void()>)>;

    explicit CommandHandler(CommandTargets& targets, Defer defer = {})
        : targets_(targets), defer_(std::move(defer)) {}

    // Runs the command; unknown commands and missing arguments do nothing.
    void dealWithNotifications(const plat::Command& command);
    // Runs the requested reloads now, if any are waiting.
    void flushPendingReload();
    bool reloadPending() const { return !state_->pending.empty(); }

private:
    enum class Reload { config, databases };
    struct State {
        std::vector<Reload> pending;  // each kind at most once, in the order of its latest request
        bool scheduled = false;       // a deferred block is on its way
    };
    void request(Reload kind);
    void run(Reload kind);
    // Takes a waiting reload of that kind off the list; whether one was waiting.
    bool drop(Reload kind);

    CommandTargets& targets_;
    Defer defer_;
    // Shared with the deferred block, which does nothing once the handler is gone.
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// The targets of the running input method.
class DefaultCommandTargets : public CommandTargets {
public:
    DefaultCommandTargets(Database& store, ConfigManager& config, CompositionEngine& engine,
                          CandidateWindowHolder& windows);

    void setEngineReady(bool ready) override;
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
    FileBeneath customDBPath() const override;
    FileBeneath userDBPath() const override;
    FileBeneath defaultBootButtonsPath() const override;

private:
    Database& store_;
    ConfigManager& config_;
    CompositionEngine& engine_;
    CandidateWindowHolder& windows_;
};

} // namespace taviro
