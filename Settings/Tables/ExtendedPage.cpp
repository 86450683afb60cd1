#include "Settings/Tables/ExtendedPage.h"

#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Settings/ConfigManager.h"
#include "Settings/Functions/ExtendedController/ExtendedDatabasetManager.h"
#include "Settings/ImportReporter.h"
#include "Settings/MainThread.h"
#include "Settings/Pages/PbarController.h"

#include <algorithm>
#include <set>
#include <system_error>

namespace kelvane {

namespace fs = std::filesystem;

namespace {

bool endsWith(const std::string& s, std::string_view tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Deletes a library's text file; names that could leave the folder are refused.
void deleteLibraryFile(const ExtendedDatabasetManager& database, const std::string& name) {
    const auto path = database.libraryPath(name);
    if (!path) return;
    std::error_code ec;
    fs::remove(*path, ec);
}

} // namespace

ExtendedPage::ExtendedPage(ConfigManager& config, SheetFactory presentSheet)
    : ExtendedPage(config, plat::Paths::perUserFile("extended.db"), plat::Paths::userFile("Extended"),
                   std::move(presentSheet)) {}

ExtendedPage::ExtendedPage(ConfigManager& config, fs::path databasePath, fs::path libraryFolder,
                           SheetFactory presentSheet)
    : config_(config),
      libraryFolder_(std::move(libraryFolder)),
      database_(std::make_shared<ExtendedDatabasetManager>(std::move(databasePath), libraryFolder_)),
      presentSheet_(std::move(presentSheet)) {}

ExtendedPage::~ExtendedPage() = default;

std::string ExtendedPage::name(int row) const {
    if (imported(row)) return cells_[size_t(row)].name;
    const int file = row - int(cells_.size());
    if (file >= 0 && file < int(dicts_.size())) return dicts_[size_t(file)];
    return {};
}

std::string ExtendedPage::rowCountText(int row) const {
    if (imported(row)) return std::to_string(cells_[size_t(row)].rowCount) + " 条";
    return row >= 0 && row < rowCount() ? "-- 条" : "";
}

void ExtendedPage::reloadList() {
    if (!config_.extendedDict) return;
    std::error_code ec;
    fs::recursive_directory_iterator it(libraryFolder_, ec);
    if (ec) return;

    cells_ = database_->loadCells();
    std::set<std::string> importedNames;
    for (const auto& cell : cells_) importedNames.insert(cell.name);

    std::vector<std::string> found;
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        std::string relative = it->path().lexically_relative(libraryFolder_).generic_string();
        if (endsWith(relative, ".TXT")) {
            // Only the extension changes, and an existing "name.txt" is never replaced: the
            // listed name then stands for the file that has it. Files of every depth are
            // renamed, since the import opens "<name>.txt".
            fs::path target = it->path();
            target.replace_extension(".txt");
            std::error_code renameError;
            if (!fs::exists(target, renameError)) fs::rename(it->path(), target, renameError);
        } else if (!endsWith(relative, ".txt")) {
            continue;
        }
        std::string name = relative.substr(0, relative.size() - 4);
        if (importedNames.count(name) || !database_->libraryPath(name)) continue;
        found.push_back(std::move(name));
    }
    // The folder's own order differs between file systems; the list is sorted instead.
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    dicts_ = std::move(found);
    if (onChange) onChange();
}

void ExtendedPage::addFiles(const std::vector<fs::path>& files) {
    std::error_code ec;
    fs::create_directories(libraryFolder_, ec);
    for (const auto& file : files) {
        const fs::path target = libraryFolder_ / file.filename();
        std::error_code sameError;
        // A file chosen from the folder itself is already there.
        if (fs::equivalent(file, target, sameError)) continue;
        std::error_code sizeError;
        const auto size = fs::file_size(file, sizeError);
        if (sizeError || size > kMaxImportFileBytes) {
            plat::log("ExtendedPage: not copying \"" + file.string() + "\"");
            continue;
        }
        // The earlier file of that name is replaced in one step, never removed first.
        const auto bytes = plat::readWholeFile(file);
        std::string error;
        if (!bytes || !plat::writeFileAtomically(target, *bytes, &error))
            plat::log("ExtendedPage: cannot copy \"" + file.string() + "\" " + error);
    }
    reloadList();
}

void ExtendedPage::deleteFile(const std::string& name) { deleteLibraryFile(*database_, name); }

void ExtendedPage::removeRow(int row) {
    if (row < 0 || row >= rowCount()) return;
    if (imported(row)) {
        removeLibrary(row, true, nullptr);
        return;
    }
    deleteFile(name(row));
    reloadList();
}

void ExtendedPage::removeLibrary(int row, bool withFile, std::function<void(bool)> done) {
    auto sheet = presentSheet_ ? presentSheet_() : nullptr;
    if (!sheet) return;
    sheet->setStringValue(kWorking);
    const CellDict cell = cells_[size_t(row)];
    plat::WorkerPool::shared().submit([this, alive = std::weak_ptr<int>(alive_), database = database_, cell, sheet,
                                       withFile, done = std::move(done)] {
        database->deleteCell(cell.id);
        onMain([this, alive, database, cell, sheet, withFile, done] {
            if (withFile) deleteLibraryFile(*database, cell.name);
            if (alive.lock()) reloadList();
            sheet->dismiss();
            if (done) done(true);
        });
    });
}

void ExtendedPage::toggleRow(int row, std::function<void(bool)> done) {
    if (row < 0 || row >= rowCount()) return;
    if (imported(row)) {
        removeLibrary(row, false, std::move(done));
        return;
    }
    auto sheet = presentSheet_ ? presentSheet_() : nullptr;
    if (!sheet) return;
    const std::string library = name(row);
    auto finish = [this, alive = std::weak_ptr<int>(alive_), sheet, done = std::move(done)](bool ok) {
        // A failure leaves the import's last message up until the user closes the sheet.
        if (ok && alive.lock()) reloadList();
        sheet->finish(ok);
        if (done) done(ok);
    };
    plat::WorkerPool::shared().submit([database = database_, library, sheet, finish = std::move(finish)]() mutable {
        database->importWordLibrary(library, sheet, std::move(finish));
    });
}

std::string ExtendedPage::helpText() {
    return "在此页面选中点击名称左侧勾选以导入或取消扩展词库表。\n"
           "点击加号（+）导入一个 txt 文本词库表到扩展词库目录中；\n"
           "点击减号（-）取消导入并删除对应词库表文件。";
}

} // namespace kelvane
