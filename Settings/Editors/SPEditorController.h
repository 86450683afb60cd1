#pragma once
// The double-pinyin scheme editor: one scheme file of "KeyMaps" as an open document,
// its plan table (the 27 keys with their initials and finals) and its special table
// (codes that stand for whole syllables), the guide key, and the save that writes it.
#include "Platform/Foundation/Plist.h"
#include "Settings/Cloud/UploadController.h"

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

class ConfigManager;

class SPEditorController {
public:
    using StringTable = std::map<std::string, std::string>;
    enum class Table { Plan, Special };

    // The key row of the plan table, one key per row.
    static constexpr const char* kKeyRow = "qwertyuiopasdfghjklzxcvbnm;";
    // The row added by spAdd(); save() leaves it out while it is unchanged.
    static constexpr const char* kPlaceholderCode = "code";
    static constexpr const char* kPlaceholderPinyin = "pinyin";
    static const std::string kPlanHelp;
    static const std::string kSpHelp;
    static const AlertModel kDuplicateCodeAlert;

    // `userFolder` holds "KeyMaps".
    SPEditorController(ConfigManager& config, std::filesystem::path userFolder);

    // The view is shown: the scheme list is read, and the active scheme is opened.
    void viewDidLoad();
    // Replaces the document by an empty scheme named "new"; nothing is written.
    void clearAll();
    // Opens the scheme named in the combo box. A name that could leave "KeyMaps" opens
    // nothing and gives an alert.
    std::optional<AlertModel> reload();
    // A name chosen from the list: it becomes the combo box's text; nothing is opened.
    void didSelectFile(const std::string& text);
    // The combo box's text as the user types it.
    void setFileListText(const std::string& text) { fileListText_ = text; }
    // The guide-key field as the user types it; bootButtonChanged() checks it.
    void setBootButtonFieldText(const std::string& text) { bootButtonFieldText_ = text; }
    // One letter a-z or A-Z becomes the guide key, empty text clears it; anything else
    // puts the previous guide key back into the field.
    void bootButtonChanged();

    enum class SaveOutcome {
        Saved,             // written: the editor closes
        Ignored,           // no name: nothing written, the editor stays open
        Refused,           // `alert` says why; nothing written, the editor stays open
        NeedsConfirmation, // `alert` asks before another scheme's file is replaced
    };
    struct SaveResult {
        SaveOutcome outcome = SaveOutcome::Ignored;
        AlertModel alert;
    };
    // Writes the document to "KeyMaps/<name>.plist", <name> being the combo box's text.
    // The guide-key field is checked again first. Replacing the file of a scheme other
    // than the open one needs `overwriteConfirmed`.
    SaveResult save(bool overwriteConfirmed = false);

    // Tables. Plan columns: "key", "s", "y"; special columns: "code", "py".
    static const std::vector<std::string>& alphaKeys();
    int numberOfRows(Table table) const;
    // The text of a cell; none for an empty cell.
    std::optional<std::string> objectValue(Table table, std::string_view column, int row) const;
    // An edit of the cell at `row`, `column` (by position) ends with `text`. Returns the
    // alert to show when the special table already has that code.
    std::optional<AlertModel> controlTextDidEndEditing(Table table, int row, int column, const std::string& text);
    // Adds the placeholder row to the special table (or resets its pinyin).
    void spAdd();
    // Removes the special rows at these positions.
    void spDel(const std::set<int>& rows);
    // The special codes in row order.
    std::vector<std::string> specialCodes() const;

    const std::vector<std::string>& spList() const { return spList_; }
    const std::string& fileListText() const { return fileListText_; }
    const std::string& bootButtonFieldText() const { return bootButtonFieldText_; }
    const std::string& bootButton() const { return bootButton_; }
    const std::string& mapName() const { return mapName_; }
    // The open document: "Version", "Sheng", "Yun", "Special" and any other key of its file.
    plat::PlistValue mapDict() const;

    std::filesystem::path schemeFolder() const { return userFolder_ / "KeyMaps"; }
    std::filesystem::path schemePath(const std::string& name) const;

private:
    void loadScheme(const std::string& name);
    void showGuideKey();
    bool checkGuideKey();

    ConfigManager& config_;
    std::filesystem::path userFolder_;
    std::vector<std::string> spList_;
    std::string fileListText_;
    std::string bootButtonFieldText_;
    std::string bootButton_;
    std::string mapName_;
    // The scheme whose file the document came from; empty for a new one.
    std::string openedName_;
    // The document: its three tables, and every other key of the file ("Version" among them).
    StringTable sheng_, yun_, special_;
    plat::PlistValue::Dictionary others_;
};

} // namespace kelvane
