#include "Settings/CodeTable/CodeTableChooser.h"

#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Settings/CodeTable/CodeTableImporter.h"
#include "Settings/CommandBracket.h"
#include "Settings/ConfigManager.h"
#include "Settings/DatabaseFile.h"
#include "Settings/ImportReporter.h"
#include "Settings/MainThread.h"

#include <optional>

namespace kelvane {

namespace fs = std::filesystem;

TableLocations TableLocations::current() {
    return {plat::Paths::perUserFolder(), plat::Paths::userFolder(), plat::Paths::resourceFolder(plat::Bundle::Kelvane)};
}

namespace {

struct Choice {
    fs::path templatePath;
    fs::path dbPath;
    std::optional<fs::path> textPath;  // none for a title that could leave its folder
    bool assist;
    std::string ConfigManager::*nameField;
    int64_t ConfigManager::*versionField;
};

void choose(ConfigManager& config, const Choice& choice, const std::string& title,
            std::shared_ptr<ProgressSink> sink, CodeTableChooser::Done done) {
    // Back on the main queue once the import has ended, whichever way. The table is built
    // beside the live database while the input method goes on using it; only putting it
    // in place, and saving what it is, happens inside the bracket.
    // `built` is the temporary's only holder: whatever is left of it is gone before the
    // result is reported.
    auto finish = [&config, choice, title, done](std::shared_ptr<TemporaryDatabase> built, bool ok) {
        {
            CommandBracket bracket(CommandBracket::Kind::Full);
            ok = ok && built && built->putInPlace();
            built.reset();
            // A failure changes no setting: the live database is intact, and a version of
            // -1 would make the input method drop it.
            if (ok) {
                config.*choice.nameField = title;
                config.save();
                config.*choice.versionField = 1;
                config.save();
            }
        }
        if (done) done(ok);
    };

    if (!choice.textPath) {
        plat::log("Kelvane: refusing the table name \"" + title + "\"");
        onMain([finish, sink] {
            if (sink) sink->setStringValue(importText::kBadFileName);
            finish(nullptr, false);
        });
        return;
    }
    std::error_code ec;
    fs::create_directories(choice.dbPath.parent_path(), ec);
    plat::WorkerPool::shared().submit([choice, sink = std::move(sink), finish] {
        // Leftovers of a rebuild that was killed.
        DatabaseFile::removeStaleTemporaries(choice.dbPath);
        auto work = std::make_shared<TemporaryDatabase>(choice.dbPath);
        if (!work->created()) {
            plat::log("Kelvane: no temporary file beside " + choice.dbPath.string());
            onMain([finish, sink] {
                if (sink) sink->setStringValue(importText::kDatabaseFailed);
                finish(nullptr, false);
            });
            return;
        }
        const fs::path staged = work->path();
        // The completion takes the worker's hold: the worker keeps none once the result
        // is on its way.
        CodeTableImporter::buildDatabase(choice.templatePath, *choice.textPath, staged, choice.assist, sink,
                                         [finish, work = std::move(work)](bool ok) mutable {
                                             finish(std::move(work), ok);
                                         });
    });
}

std::optional<fs::path> textTable(const fs::path& folder, const std::string& title) {
    const std::string name = title + ".txt";
    if (title.empty() || !plat::Paths::isSafeRelativeName(name)) return std::nullopt;
    return folder / name;
}

} // namespace

void CodeTableChooser::selectMainCodeTable(ConfigManager& config, const TableLocations& where,
                                           const std::string& title, std::shared_ptr<ProgressSink> sink, Done done) {
    choose(config,
           {where.resourceFolder / "codetable.database", where.perUserFolder / "mainCodeTable.database",
            textTable(where.userFolder, title), false, &ConfigManager::codeTableName, &ConfigManager::codeTableVersion},
           title, std::move(sink), std::move(done));
}

void CodeTableChooser::selectAssistTable(ConfigManager& config, const TableLocations& where,
                                         const std::string& title, std::shared_ptr<ProgressSink> sink, Done done) {
    choose(config,
           {where.resourceFolder / "assist.database", where.perUserFolder / "assist.database",
            textTable(where.userFolder / "AssistCodes", title), true, &ConfigManager::assistPlanName,
            &ConfigManager::assistCodePlan},
           title, std::move(sink), std::move(done));
}

void CodeTableChooser::removeStaleRebuilds(const TableLocations& where) {
    for (const char* name : {"mainCodeTable.database", "assist.database"})
        DatabaseFile::removeStaleTemporaries(where.perUserFolder / name);
}

void CodeTableChooser::selectMainCodeTable(const std::string& title, std::shared_ptr<ProgressSink> sink, Done done) {
    selectMainCodeTable(ConfigManager::shared(), TableLocations::current(), title, std::move(sink), std::move(done));
}

void CodeTableChooser::selectAssistTable(const std::string& title, std::shared_ptr<ProgressSink> sink, Done done) {
    selectAssistTable(ConfigManager::shared(), TableLocations::current(), title, std::move(sink), std::move(done));
}

} // namespace kelvane
