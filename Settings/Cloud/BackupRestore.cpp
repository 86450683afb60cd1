#include "Settings/Cloud/BackupRestore.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Foundation/ReplaceJournal.h"
#include "Settings/Cloud/BackupsController.h"
#include "Settings/Cloud/CloudStore.h"
#include "Settings/CodeTable/CodeTableImporter.h"
#include "Settings/DatabaseCopy.h"
#include "Settings/DatabaseFile.h"
#include "Settings/InputMethodCommands.h"
#include "Settings/MainThread.h"

#include <condition_variable>
#include <mutex>

namespace fs = std::filesystem;

namespace kelvane {

namespace cloud = plat::cloud;

namespace {

// The asset's bytes, when the record carries it and it can be read.
std::optional<std::string> assetBytes(const cloud::Record& record, const char* key) {
    const cloud::Asset* asset = record.assetForKey(key);
    return asset ? plat::readWholeFile(asset->fileURL()) : std::nullopt;
}

std::optional<std::string> stringSetting(const plat::PlistValue::Dictionary& settings, const char* key) {
    const auto it = settings.find(key);
    if (it == settings.end() || !it->second.isString()) return std::nullopt;
    return it->second.asString();
}

// What describes this machine rather than the setup: where its store is and who uses it.
void keepMachineSettings(plat::PlistValue::Dictionary& restored, const plat::PlistValue::Dictionary& current) {
    for (const char* key : {kCloudStoreFolderKey, kCloudAccountNameKey}) {
        const auto it = current.find(key);
        if (it == current.end()) restored.erase(key);
        else restored[key] = it->second;
    }
}

// A table database built into its staged file from a text (staged or already in place).
struct ImportJob {
    fs::path templatePath, textPath, stagedDb;
    bool assist;
};

// Runs one rebuild and waits for its completion (bounded).
bool runImport(const ImportJob& job, const std::shared_ptr<ProgressSink>& sheet) {
    struct Wait {
        std::mutex m;
        std::condition_variable cv;
        bool done = false, ok = false;
    };
    auto wait = std::make_shared<Wait>();
    CodeTableImporter::buildDatabase(job.templatePath, job.textPath, job.stagedDb, job.assist, sheet,
                                       [wait](bool ok) {
                                           std::lock_guard lk(wait->m);
                                           wait->done = true;
                                           wait->ok = ok;
                                           wait->cv.notify_all();
                                       });
    std::unique_lock lk(wait->m);
    if (!wait->cv.wait_for(lk, BackupRestore::kImportWait, [&] { return wait->done; })) {
        plat::log("Kelvane: restore stopped waiting for the import of " + job.textPath.string());
        return false;
    }
    return wait->ok;
}

} // namespace

BackupRestore::Outcome BackupRestore::restoreBackup(const cloud::Record& record, const TableLocations& where,
                                                    ConfigManager& config,
                                                    std::function<ImportSheet()> presentImportSheet) {
    Outcome outcome;
    auto safeName = [&](const std::optional<std::string>& name) -> std::optional<std::string> {
        if (!name) return std::nullopt;
        if (plat::Paths::isSafeRelativeName(*name)) return name;
        outcome.refusedNames.push_back(*name);
        plat::log("Kelvane: restore refused the name " + *name);
        return std::nullopt;
    };

    InputMethodCommands::restoreBackup(config, [&]() -> bool {
        plat::FileManager::createDirectory(where.perUserFolder, true);
        plat::FileManager::createDirectory(where.userFolder, true);
        std::string why;
        auto journal = plat::ReplaceJournal::begin(where.perUserFolder, &why);
        if (!journal) {
            plat::log("Kelvane: restore cannot start: " + why);
            return false;
        }
        // Every file is staged beside its target; nothing is replaced before the commit.
        auto stage = [&](const fs::path& target, std::string_view bytes,
                         plat::ReplaceJournal::Order order = plat::ReplaceJournal::Order::Normal) {
            plat::FileManager::createDirectory(target.parent_path(), true);
            return journal->stage(target, bytes, order);
        };
        auto stageAsset = [&](const char* key, const fs::path& target) -> std::optional<fs::path> {
            const auto bytes = assetBytes(record, key);
            return bytes ? stage(target, *bytes) : std::nullopt;
        };
        // The text a table is built from: the backup's, else the one already there.
        auto tableText = [&](const char* key, const fs::path& target) -> std::optional<fs::path> {
            if (auto staged = stageAsset(key, target)) return staged;
            if (plat::FileManager::isRegularFile(target)) return target;
            return std::nullopt;
        };

        const fs::path configPath = where.perUserFolder / "config.plist";
        const auto current = plat::readPlistFile(configPath, plat::PlistValue::Type::Dictionary);
        plat::PlistValue::Dictionary settings;
        // A settings file that is not a dictionary would lose every setting: keep the old one.
        // The settings go in place last: they name the tables, which must be there first.
        if (const auto bytes = assetBytes(record, backupfield::kConfig)) {
            const auto parsed = plat::parsePlist(*bytes);
            if (parsed && parsed->isDictionary()) {
                settings = *parsed->asDictionary();
                keepMachineSettings(settings, current ? *current->asDictionary() : plat::PlistValue::Dictionary{});
                if (!stage(configPath, plat::plistToXml(plat::PlistValue(settings)),
                           plat::ReplaceJournal::Order::CommitPoint))
                    settings.clear();
            }
            if (!journal->stagedFor(configPath))
                plat::log("Kelvane: the backup's config.plist is not readable; kept the current one");
        }
        if (!journal->stagedFor(configPath) && current) settings = *current->asDictionary();

        // A name that would lead out of its folder refuses the whole backup: the settings
        // would name a table that is not there.
        for (const char* key : {"AssistPlanName", "BootButtonName", "CodeTableName", "InputPlanName"}) {
            const auto name = stringSetting(settings, key);
            if (name && !safeName(name)) {
                journal->rollback();
                return false;
            }
        }

        std::vector<ImportJob> imports;
        auto addImport = [&](const fs::path& templatePath, const std::optional<fs::path>& text, const fs::path& db,
                             bool assist) {
            if (!text) return;
            if (const auto staged = stage(db, ""))
                imports.push_back({templatePath, *text, *staged, assist});
        };
        if (const auto assist = safeName(stringSetting(settings, "AssistPlanName")); assist && *assist != kNoAssistTable)
            addImport(where.resourceFolder / "assist.database",
                      tableText(backupfield::kAssistCodeTable, where.userFolder / "AssistCodes" / (*assist + ".txt")),
                      where.perUserFolder / "assist.database", true);
        if (record.assetForKey(backupfield::kBootButton)) {
            if (const auto boot = safeName(stringSetting(settings, "BootButtonName")))
                stageAsset(backupfield::kBootButton, where.userFolder / "BootButtons" / *boot);
        }
        if (const auto main = safeName(stringSetting(settings, "CodeTableName")); main && *main != kNoMainCodeTable)
            addImport(where.resourceFolder / "codetable.database",
                      tableText(backupfield::kCodeTable, where.userFolder / (*main + ".txt")),
                      where.perUserFolder / "mainCodeTable.database", false);
        // The phrases go in rollback-journal mode, checked, so nothing is left beside them.
        if (const auto staged = stageAsset(backupfield::kCustomCodeTable, where.perUserFolder / "custom.db")) {
            const auto error = DatabaseFile::hasSQLiteHeader(*staged)
                                   ? settleDatabase(*staged)
                                   : DatabaseCopyError{DatabaseCopyError::Step::Check, "no SQLite header"};
            if (error) {
                plat::log("Kelvane: the backup's custom.db is not a database (" + error->detail +
                          "); kept the current one");
                journal->discard(*staged);
            }
        }
        stageAsset(backupfield::kSilenceDict, where.perUserFolder / "silence.plist");
        stageAsset(backupfield::kPunctuationMapping, where.perUserFolder / punctuationMappingFileName());

        bool schemeCopied = false;
        const auto disable = settings.find("DisableDatabase");
        if (disable != settings.end() && disable->second.isBool() && !disable->second.asBool()) {
            if (const auto plan = safeName(stringSetting(settings, "InputPlanName"))) {
                const fs::path scheme = where.userFolder / "KeyMaps" / (*plan + ".plist");
                // The active copy is the backup's scheme, else the scheme file already there.
                auto bytes = assetBytes(record, backupfield::kSPPlan);
                if (bytes) stage(scheme, *bytes);
                else bytes = plat::readWholeFile(scheme);
                schemeCopied = bytes && stage(where.perUserFolder / "spScheme.plist", *bytes);
            }
        }

        // One sheet, one import at a time.
        if (!imports.empty()) {
            auto sheet = std::make_shared<ImportSheet>();
            onMainAndWait([sheet, presentImportSheet] {
                if (presentImportSheet) *sheet = presentImportSheet();
            });
            for (const auto& job : imports) {
                ++outcome.importsStarted;
                if (!runImport(job, sheet->sink)) outcome.importsSucceeded = false;
            }
            const bool ok = outcome.importsSucceeded;
            onMainAndWait([sheet, ok] {
                if (sheet->finish) sheet->finish(ok);
            });
        }
        // All or nothing: a table that could not be built keeps the whole setup as it was.
        if (!outcome.importsSucceeded) {
            journal->rollback();
            return false;
        }
        outcome.committed = journal->commit();
        return outcome.committed && schemeCopied;
    });
    return outcome;
}

} // namespace kelvane
