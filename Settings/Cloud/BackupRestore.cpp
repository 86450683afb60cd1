#include "Settings/Cloud/BackupRestore.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/CodeTable/CodeTableImporter.h"
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

bool writeAsset(const cloud::Record& record, const char* key, const fs::path& target) {
    const auto bytes = assetBytes(record, key);
    if (!bytes) return false;
    plat::FileManager::createDirectory(target.parent_path(), true);
    std::string why;
    if (plat::writeFileAtomically(target, *bytes, &why)) return true;
    plat::log("Kelvane: restore could not write " + target.string() + ": " + why);
    return false;
}

std::optional<std::string> stringSetting(const plat::PlistValue::Dictionary& settings, const char* key) {
    const auto it = settings.find(key);
    if (it == settings.end() || !it->second.isString()) return std::nullopt;
    return it->second.asString();
}

struct ImportJob {
    fs::path templatePath, textPath, dbPath;
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
    CodeTableImporter::rebuildDatabase(job.templatePath, job.textPath, job.dbPath, job.assist, sheet,
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
        const fs::path configPath = where.perUserFolder / "config.plist";
        // A settings file that is not a dictionary would lose every setting: keep the old one.
        if (const auto bytes = assetBytes(record, backupfield::kConfig)) {
            const auto parsed = plat::parsePlist(*bytes);
            if (parsed && parsed->isDictionary()) plat::writeFileAtomically(configPath, *bytes);
            else plat::log("Kelvane: the backup's config.plist is not readable; kept the current one");
        }
        plat::PlistValue::Dictionary settings;
        if (const auto v = plat::readPlistFile(configPath, plat::PlistValue::Type::Dictionary))
            settings = *v->asDictionary();

        std::vector<ImportJob> imports;
        if (const auto assist = safeName(stringSetting(settings, "AssistPlanName")); assist && *assist != kNoAssistTable) {
            const fs::path text = where.userFolder / "AssistCodes" / (*assist + ".txt");
            writeAsset(record, backupfield::kAssistCodeTable, text);
            if (plat::FileManager::isRegularFile(text))
                imports.push_back({where.resourceFolder / "assist.database", text,
                                   where.perUserFolder / "assist.database", true});
        }
        if (record.assetForKey(backupfield::kBootButton)) {
            if (const auto boot = safeName(stringSetting(settings, "BootButtonName")))
                writeAsset(record, backupfield::kBootButton, where.userFolder / "BootButtons" / *boot);
        }
        if (const auto main = safeName(stringSetting(settings, "CodeTableName")); main && *main != kNoMainCodeTable) {
            const fs::path text = where.userFolder / (*main + ".txt");
            writeAsset(record, backupfield::kCodeTable, text);
            if (plat::FileManager::isRegularFile(text))
                imports.push_back({where.resourceFolder / "codetable.database", text,
                                   where.perUserFolder / "mainCodeTable.database", false});
        }
        if (const auto bytes = assetBytes(record, backupfield::kCustomCodeTable)) {
            const fs::path target = where.perUserFolder / "custom.db";
            const fs::path temp = DatabaseFile::temporaryPathBeside(target);
            if (plat::writeFileAtomically(temp, *bytes) && DatabaseFile::check(temp)) DatabaseFile::replace(temp, target);
            else {
                plat::log("Kelvane: the backup's custom.db is not a database; kept the current one");
                DatabaseFile::removeWithCompanions(temp);
            }
        }
        writeAsset(record, backupfield::kSilenceDict, where.perUserFolder / "silence.plist");
        writeAsset(record, backupfield::kPunctuationMapping, where.perUserFolder / "PunctuationMapping.plist");

        bool schemeCopied = false;
        const auto disable = settings.find("DisableDatabase");
        if (disable != settings.end() && disable->second.isBool() && !disable->second.asBool()) {
            if (const auto plan = safeName(stringSetting(settings, "InputPlanName"))) {
                const fs::path scheme = where.userFolder / "KeyMaps" / (*plan + ".plist");
                writeAsset(record, backupfield::kSPPlan, scheme);
                if (plat::FileManager::isRegularFile(scheme))
                    schemeCopied = plat::FileManager::copyItem(scheme, where.perUserFolder / "spScheme.plist", true);
            }
        }

        // One sheet, one import at a time.
        if (imports.empty()) return schemeCopied;
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
        return schemeCopied;
    });
    return outcome;
}

} // namespace kelvane
