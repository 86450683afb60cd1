#pragma once
#include "Settings/Functions/CodeTable.h"
#include "Settings/ImportReporter.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace plat {
class SerialQueue;
}

namespace kelvane {

class ModelManager;
class PbarController;

// The custom phrase editor: the rows of "custom.db" (code, phrase, weight) with in-place
// edits, adding and deleting. Every call of the store runs on one serial worker, so an
// added row has its id before a later edit of it is written.
class CustomPhraseEditor {
public:
    enum Column { code = 0, phrase = 1, weight = 2 };
    static constexpr const char* kNewCode = "Code Here!";
    static constexpr const char* kNewPhrase = "这里写字";

    explicit CustomPhraseEditor(ModelManager& store);
    ~CustomPhraseEditor();

    // Reads the rows again; the last row is selected.
    void load();
    const std::vector<CodeTable>& rows() const { return rows_; }
    int selectedRow() const { return selected_; }
    // The text a cell shows.
    std::string cellText(int row, int column) const;

    // An in-place edit of one cell. An empty code or phrase, or a weight that is not a
    // finite number, is refused: the row keeps its value and nothing is written.
    bool editCell(int row, int column, const std::string& text);
    // Appends a row ("Code Here!", the pasted text or "这里写字", 0), stores it and selects it.
    void addRow(const std::optional<std::string>& pasted);
    // Deletes the rows at these indexes in one transaction and reads the list again.
    void deleteRows(const std::set<int>& indexes);

    // A text file of phrase TAB code [TAB weight] lines: the rows, or the first bad line.
    struct Parsed {
        std::vector<CodeTable> rows;
        std::optional<std::string> badLine;
    };
    static Parsed parseText(const std::string& text);
    // phrase TAB code TAB whole weight, one line per row.
    static std::string exportText(const std::vector<CodeTable>& rows);
    // A dropped shortcut list (an array of {"shortcut", "phrase"} dictionaries); none when
    // the file is larger than kMaxDropBytes or not such a list. Entries without a
    // shortcut or a phrase (missing or empty) are skipped.
    static std::optional<std::vector<CodeTable>> readShortcutList(const std::filesystem::path& path);
    static constexpr std::uintmax_t kMaxDropBytes = 16u << 20;

    // Adds the rows in one transaction (progress from 0 to below 1), then reads the list
    // again. False when the transaction failed: none of the rows was added.
    bool importRows(const std::vector<CodeTable>& rows, const std::function<void(double)>& progress = nullptr);

    // Imports a text file behind `sheet` (presented by the caller): reading, parsing and
    // the insert run on the worker, the bar follows the insert, and the list is read
    // again. Success closes the sheet; a file that cannot be read, a bad line or a failed
    // write (kStoreError) leaves its reason on the sheet and adds nothing. `done` runs on the main queue, once.
    void importFile(const std::filesystem::path& path, std::shared_ptr<PbarController> sheet,
                    std::function<void(bool)> done = nullptr);
    // The same for a dropped shortcut list; a file that is not one closes the sheet
    // without a message.
    void importShortcutFile(const std::filesystem::path& path, std::shared_ptr<PbarController> sheet,
                            std::function<void(bool)> done = nullptr);
    static constexpr const char* kFileError = "文件不存在或编码不正确！";
    static constexpr const char* kStoreError = importText::kDatabaseFailed;
    // "错误行：" and the line, then the expected form.
    static std::string lineErrorText(const std::string& line);
    // Writes the list atomically; false when it could not be written.
    bool exportTo(const std::filesystem::path& path) const;
    // The same on the worker, with the list as it is now; `done` gets the result on the
    // main queue.
    void exportFile(const std::filesystem::path& path, std::function<void(bool)> done);

    // A weight as typed: a whole C-locale number, ASCII, no spaces, finite.
    static std::optional<double> parseWeight(const std::string& text);

private:
    // Rows to import, or why there are none (an empty reason: close without a message).
    struct Source {
        std::vector<CodeTable> rows;
        std::optional<std::string> failure;
    };
    void importOnWorker(std::function<Source()> read, std::shared_ptr<PbarController> sheet,
                        std::function<void(bool)> done);

    ModelManager& store_;
    std::unique_ptr<plat::SerialQueue> queue_;
    std::vector<CodeTable> rows_;
    int selected_ = -1;
    // Lets a worker block that ends after the editor is gone skip it.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kelvane
