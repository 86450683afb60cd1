#pragma once
#include "Settings/Pages/DesktopApplications.h"

#include <set>
#include <string>
#include <vector>

namespace kelvane {

class ConfigManager;

// Presenter of the silence list editor: the applications in which the input method stays
// silent, as rows of identifier and name sorted by identifier. Each add, delete or edit
// goes through the settings store at once (silence.plist written, "configNeedsReload").
class SilenceManager {
public:
    explicit SilenceManager(ConfigManager& config);

    // Table: rows, and the text of column "id" or "name" (other columns: empty).
    size_t numberOfRows() const { return data_.size(); }
    std::string objectValue(const std::string& column, size_t row) const;
    const std::vector<std::string>& data() const { return data_; }

    // Applications chosen in the picker, each listed under the pattern that
    // matches its names and no other ("^gedit$", named "Text Editor";
    // "^(myed|Realed)$" for an entry that starts "myed" and whose windows are
    // of class "Realed"; "^(myed|realed)$" for "realed.desktop" starting
    // "myed"); entries without a name or a program are skipped.
    void addApplications(const std::vector<DesktopApplication>& apps);
    // The picker's line for an application: its name and the names it is
    // silenced under ("Realed  (myed, realed)").
    static std::string pickerLabel(const DesktopApplication& app);
    // The selected rows.
    void deleteRows(const std::set<size_t>& rows);
    // An in-place edit of `row` (none selected: -1) in column 0 (identifier) or 1 (name).
    // An identifier edited to empty is refused. Returns whether anything changed.
    bool endEditing(long row, int column, const std::string& text);

private:
    void reload();

    ConfigManager& config_;
    std::vector<std::string> data_;
};

} // namespace kelvane
