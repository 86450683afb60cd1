#pragma once
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

class ConfigManager;

// The punctuation map page: one row per key (key, text committed for it), rows added,
// deleted and edited in place, a reset to the default map and the force-English-comma
// switch (which disables the table). Every change is written and announced at once
// through the settings store.
//
// The rows are a view of the map's keys in an order of their own (loaded sorted, added
// rows at the end); a row may show a key the map lacks (an added row not yet given a
// value) and several rows may show the empty key.
class PuncMapEditer {
public:
    static constexpr std::string_view kKeyColumn = "key";

    struct Alert {
        std::string_view informativeText, message;
        std::vector<std::string_view> buttons;
        bool critical;
    };
    static const Alert kResetAlert;
    static const Alert kDuplicateKeyAlert;

    explicit PuncMapEditer(ConfigManager& config);

    // Reads the switch and the keys (sorted) from the settings store.
    void viewDidLoad();

    bool forceEngComma() const;
    // The table takes edits exactly when the switch is off.
    bool tableEnabled() const { return !forceEngComma(); }
    void setForceEngComma(bool on);

    const std::vector<std::string>& puncList() const { return puncList_; }
    int numberOfRows() const { return static_cast<int>(puncList_.size()); }
    // Column 0 shows the key, any other the text the map holds for it ("" when none).
    std::string cellText(int row, int column) const;

    // Appends a row with the empty key and selects it alone; stores nothing.
    void addRow();
    // Removes these rows, highest first, each removal written and announced.
    void deleteRows(const std::set<int>& rows);
    // The row selected by addRow(), or none.
    std::optional<int> selectedRow() const { return selected_; }

    enum class Edit { stored, duplicateKey, ignored };
    // Commits the text of the cell at (row, column). No row, or a row out of range, does
    // nothing. A key equal to another row's key is refused (the duplicate-key alert). A
    // changed key takes the old key's text; the old key's entry is dropped unless another
    // row still shows it.
    Edit commitEdit(std::optional<int> row, int column, const std::string& text);

    // After the reset alert: the default map when confirmed, else nothing.
    void reset(bool confirmed);

private:
    void reloadKeys();

    ConfigManager& config_;
    std::vector<std::string> puncList_;
    std::optional<int> selected_;
};

} // namespace kelvane
