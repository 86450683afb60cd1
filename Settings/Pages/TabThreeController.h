#pragma once
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

class ConfigManager;

// Presenter of the system tab: check boxes over the settings (silence list, word
// libraries, key counting, user dictionary, crash reports, page keys, fuzzy pinyin),
// the editor buttons that follow their boxes, and the user-dictionary and uninstall
// buttons. Every box click sets one setting and saves.
class TabThreeController {
public:
    enum class Box { silence, extended, keyCount, userDict, uploadCrashLog };
    struct BoxInfo {
        Box box;
        std::string_view outlet;
        std::string_view title;
        bool ConfigManager::*field;
    };
    static const std::array<BoxInfo, 5>& boxes();
    // Page-key boxes by tag 1-4: outlet, title, setting.
    struct PageKeyInfo {
        int tag;
        std::string_view outlet;
        std::string_view title;
        bool ConfigManager::*field;
    };
    static const std::array<PageKeyInfo, 4>& pageKeys();
    // Fuzzy boxes: their titles name their setting.
    struct FuzzyInfo {
        std::string_view outlet;
        std::string_view title;
        bool ConfigManager::*field;
    };
    static const std::array<FuzzyInfo, 9>& fuzzyPairs();

    // Editor buttons and the sub-page each opens.
    struct EditorButton {
        std::string_view outlet;
        std::string_view title;
        std::string_view route;
        std::optional<Box> followsBox; // enabled exactly when this box is on
    };
    static const std::array<EditorButton, 6>& editorButtons();

    static const std::string kUploadCrashLogHelp;
    static const std::string kKeyLoggerHelp;

    // Confirmation alerts.
    struct Alert {
        std::string_view message, informativeText, firstButton, secondButton;
        bool critical;
    };
    static const Alert kCleanUserDictAlert;
    static const Alert kUninstallAlert;

    explicit TabThreeController(ConfigManager& config);
    ~TabThreeController();

    // The state the view draws, read from the settings at each call (so a tab shown
    // again shows what changed elsewhere).
    void toggle(Box box, bool on);
    // By tag; a tag outside 1-4 changes nothing.
    void switchPage(int tag, bool on);
    // By title; a title that names no pair changes nothing.
    void switchFuzzy(std::string_view title, bool on);

    bool checked(Box box) const;
    bool pageKeyChecked(int tag) const;
    bool fuzzyChecked(std::string_view title) const;
    bool editorEnabled(std::string_view route) const;

    // User dictionary. The results are shown in an alert when !ok.
    struct Result {
        bool ok = false;
        std::string error;
        bool cancelled = false;
    };
    // `target`: the save dialog's answer (none: cancelled, nothing happens).
    Result exportUserDictionary(const std::optional<std::filesystem::path>& target);
    // `choose` asks the user for a file while the input method goes on using its
    // dictionary; it is told to let go of it only while the checked copy is renamed into
    // place. A cancelled or refused import tells it nothing.
    Result importUserDictionary(const std::function<std::optional<std::filesystem::path>()>& choose);
    // The same for a dialog that answers later (none: cancelled).
    Result finishImportUserDictionary(const std::optional<std::filesystem::path>& chosen);
    // After the clear alert: "resetUserDict" when the first button was pressed.
    void cleanUserDictionary(bool confirmed);

    // Uninstall. `run` starts a program with arguments and calls back with its exit status
    // (-1 when it could not start) and what it wrote (output and errors together).
    using Runner = std::function<void(const std::string& program, const std::vector<std::string>& arguments,
                                      std::function<void(int status, const std::string& output)> done)>;
    // Before the confirmation: asks the script, which then changes nothing, where the
    // backups will stay, and calls `ready`; uninstallAlert() says it.
    void prepareUninstall(const Runner& run, std::function<void()> ready);
    // The confirmation: kUninstallAlert's words, then where the backups stay. This alert
    // and the result's hold their texts in the tab until the next prepareUninstall.
    Alert uninstallAlert() const;
    // After the confirmation: the script with administrator rights. When it ends, prints
    // its words and "success!" or "failure!" (from its real exit status) and calls
    // `finished`; uninstallResultAlert() then says how it went and where the backups are.
    void uninstall(bool confirmed, const Runner& run, std::function<void()> finished = {});
    bool uninstallSucceeded() const;
    Alert uninstallResultAlert() const;
    // The command line of the uninstall: pkexec /bin/sh <script> <prefix> <user> <per-user folder> <user folder>
    // <store folder>.
    // None when the script is not among the resources.
    static std::optional<std::vector<std::string>> uninstallCommand();
    // The same script's dry run, which needs no rights: /bin/sh <script> --dry-run <prefix> ...
    static std::optional<std::vector<std::string>> uninstallPreviewCommand();

    std::filesystem::path perUserFolder;

private:
    struct UninstallState;
    ConfigManager& config_;
    // Shared with the callbacks of a running script, which may outlive the tab.
    std::shared_ptr<UninstallState> uninstall_;
};

} // namespace kelvane
