#pragma once
#include "InputMethod/CandidateWindow.h"
#include "InputMethod/Core/Database/UserNotice.h"
#include "InputMethod/StatusHint.h"
#include "Platform/Dispatch/Timer.h"
#include "Platform/InputMethodKit/InputController.h"
#include "Platform/InputMethodKit/KeyEvent.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace plat {
class MainQueue;
class UserDefaults;
} // namespace plat

namespace taviro {

class CandidateWindowHolder;
class CompositionEngine;
class ConfigManager;
class KeyLogger;
struct Settings;

// What a controller works with. Unset members use the process's shared ones.
struct ControllerEnvironment {
    CompositionEngine* engine = nullptr;  // required
    ConfigManager* config = nullptr;
    CandidateWindowHolder* windows = nullptr;
    plat::UserDefaults* defaults = nullptr;
    KeyLogger* keyLogger = nullptr;
    plat::MainQueue* queue = nullptr;
    StatusHint::Environment hint;
    // Date and time placeholders of guide-button values.
    std::function<std::string(const std::string&)> expandTemplate;
    // The user folder ("塔维输入法") and the per-user folder ("TaviroMac").
    std::optional<std::filesystem::path> userFolder;
    std::optional<std::filesystem::path> perUserFolder;
    // Messages for the user (a full composition); none: logged only.
    std::shared_ptr<UserNotice> notice;
};

// The per-client input controller: the key road, the mode switch, the
// composition and its commit, the function commands and the guide buttons.
// Main thread only.
class TaviroController : public plat::InputController, public CandidateWindowDelegate {
public:
    TaviroController(plat::InputMethodServer* server, plat::TextInputClient* client,
                     ControllerEnvironment environment);
    ~TaviroController() override;

    // --- the framework's entries ------------------------------------------
    bool handleEvent(const plat::KeyEvent& event, plat::TextInputClient* client) override;
    void activateServer(plat::TextInputClient* sender) override;
    void deactivateServer(plat::TextInputClient* sender) override;
    void commitComposition(plat::TextInputClient* sender) override;

    // --- the candidate window's delegate -----------------------------------
    std::vector<std::string> candidates() override;
    void candidateSelectionChanged(const std::string& candidate) override;
    plat::TextInputClient* currentClient() const override { return currentClient_; }
    void candidateSelected(const std::string& candidate);
    std::string composedString() const;
    std::string originalString() const;

    // --- the key road -----------------------------------------------------
    bool handle(const std::optional<plat::KeyEvent>& event, plat::TextInputClient* client);
    bool flagsChanged(const plat::KeyEvent& event);
    void shiftPressDownCounter() { timerCount_ += 0.1; }

    // --- composition ------------------------------------------------------
    // Keys a composition holds at most (the pinyin engine's own limit); keys
    // beyond it are consumed and dropped, and the user is told once per filling.
    static constexpr std::size_t kMaxCompositionKeys = 500;
    static constexpr const char* kBufferFullTitle = "输入码已满";
    static constexpr const char* kBufferFullText = "一次最多输入 500 个按键，之后的按键未被接收。请先上屏或删除部分输入码。";
    void refreshComposition(const std::string& key);
    void showCandidateWindow();

    // --- output -----------------------------------------------------------
    void insertText(const std::string& text);
    void setMarkedText(const std::string& text, const std::optional<plat::TextAttributes>& attributes);

    // --- commands and guide buttons --------------------------------------
    int performFunctionKey(const std::string& name);
    void insertMacroText(const std::string& text);
    void sendBackspace();
    bool bootButtonOutput(const std::string& key);
    void showStatusHint(const std::string& text);

    // The text the next commit inserts, shared by every controller.
    static std::string& pendingCommitText();

    // --- state, for the status line and tests ----------------------------
    bool englishMode() const { return englishMode_; }
    bool rightComma() const { return rightComma_; }
    bool needEnComma() const { return needEnComma_; }
    bool readyToChangeMode() const { return readyToChangeMode_; }
    double timerCount() const { return timerCount_; }
    const std::string& shortCutComma() const { return shortCutComma_; }
    const std::map<std::string, std::string>& shortCutInputDic() const { return shortCutInputDic_; }
    const std::vector<std::string>& macros() const { return macros_; }
    const std::vector<std::uint16_t>& arrows() const { return arrows_; }
    const std::string& numbers() const { return numbers_; }
    const std::set<std::string>& systemList() const { return systemList_; }
    const std::set<std::string>& noMarcoList() const { return noMarcoList_; }
    const StatusHint& statusHint() const { return hint_; }
    CandidateWindow& window() const;

private:
    std::shared_ptr<const Settings> settings() const;
    bool matchesSilenceList(const std::vector<std::string>& applicationNames, const Settings& s) const;
    // The user picked a mode: no mode is waiting to come back after silence.
    void setEnglishModeByUser(bool english);
    // `schemeKeys`: the code keys of the double-pinyin scheme in use.
    bool isCodeCharacter(const std::string& key, const Settings& s, const std::string& schemeKeys) const;
    void output(const std::string& text);
    void closeWindow();
    void removeLastInputCharacter();
    // Commits typed keys as they stand: counted, inserted, nothing learnt.
    void commitKeys(const std::string& text);
    // True while the only candidate is the engine's waiting text.
    bool showsWaitingCandidate() const;
    // The waiting text of a composition typed while the store was not ready is
    // replaced by the real candidates once it is ready.
    void refreshStaleCandidates();
    void setConfig(const std::function<void(Settings&)>& change, bool reloadStrategy);
    template <typename F>
    void later(std::chrono::milliseconds delay, F fn);
    // Keys typed into a composition while the store is not ready ("okToUse" false) are
    // held and handled in order once it is ready again, so that a word they end is
    // committed on its own. True when the key was held.
    bool holdWhileNotReady(const plat::KeyEvent& event, plat::TextInputClient* client);
    void pollHeldKeys();
    void releaseHeldKeys();

    ControllerEnvironment env_;
    CompositionEngine& engine_;

    plat::TextInputClient* currentClient_ = nullptr;
    bool readyToChangeMode_ = false;
    bool englishMode_ = false;
    // The mode this context had before the silence list put it into English;
    // it comes back at an activation where the list no longer silences it.
    std::optional<bool> modeBeforeSilence_;
    bool needEnComma_ = false;
    std::vector<std::uint16_t> arrows_;
    std::map<std::string, std::string> shortCutInputDic_;
    std::vector<std::string> macros_;
    plat::Timer timer_;
    double timerCount_ = 0;
    std::int64_t selectionCount_ = 0;
    bool isCombo_ = false;
    StatusHint hint_;
    std::uint64_t lastModifierFlags_ = 0;
    std::string numbers_;
    bool rightComma_ = false;
    std::set<std::string> systemList_;
    std::set<std::string> noMarcoList_;
    bool fiveCodeDedouble_ = false;
    bool dotTurnedPage_ = false;
    std::string shortCutComma_;
    bool toldBufferFull_ = false;
    struct HeldKey {
        plat::KeyEvent event;
        plat::TextInputClient* client;
    };
    std::vector<HeldKey> heldKeys_;
    int heldPolls_ = 0;
    bool heldTooLong_ = false;

    // Deferred work holds it weakly: a controller gone before its turn is skipped.
    std::shared_ptr<TaviroController*> self_;
};

} // namespace taviro
