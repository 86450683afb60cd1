#pragma once
#include "Settings/CodeTable/CodeTableChooser.h"
#include "Settings/ProgressSink.h"

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvane {

class ConfigManager;

// The code-table page: the main code-table pop-up, the commit rule, the code length,
// what an empty code does and three check boxes. Every change is saved at once.
class CodeTablePage {
public:
    CodeTablePage(ConfigManager& config, TableLocations where);

    // Puts the built-in code tables into the user folder (once, when the page is loaded).
    void install();
    // The page is shown: the table list is read again and every control follows the settings.
    void willAppear();

    // Titles of the code tables directly in the user folder, sorted. A "name.TXT" is
    // renamed to "name.txt" first (unless that name is taken).
    static std::vector<std::string> scanTables(const std::filesystem::path& userFolder);
    // The five commit-rule titles for a code length.
    static std::array<std::string, 5> commitRuleTitles(int codeLength);

    const std::vector<std::string>& tables() const { return tables_; }
    // Index of the active table in tables(), -1 when it names none listed.
    int selectedTable() const;
    std::array<std::string, 5> commitRules() const;
    int selectedCommitRule() const;
    int codeLengthIndex() const;
    int emptyCleanIndex() const;
    bool revealCode() const;
    bool emptySlide() const;
    bool codetableInUserDict() const;
    std::filesystem::path userFolder() const { return where_.userFolder; }

    // Rebuilds the main code-table database from the chosen title; `done` runs on the
    // main queue with the result.
    void selectMainCodeTable(const std::string& title, std::shared_ptr<ProgressSink> sink,
                             std::function<void(bool)> done);
    void setEmptyCleanIndex(int index);
    // Both return false (nothing saved) for an index outside the pop-up.
    bool setCodeLengthIndex(int index);
    bool setCommitRule(int index);
    void setRevealCode(bool on);
    void setEmptySlide(bool on);
    void setCodetableInUserDict(bool on);

private:
    ConfigManager& config_;
    TableLocations where_;
    std::vector<std::string> tables_;
};

} // namespace kelvane
