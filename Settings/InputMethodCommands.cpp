#include "Settings/InputMethodCommands.h"

#include "Settings/MainThread.h"

#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Settings/ConfigManager.h"
#include "Settings/NotificationSender.h"
#include "SharedLib/contract/CandidateFontSizes.h"

#include <unistd.h>

#include <system_error>

namespace kelvane {

namespace fs = std::filesystem;
namespace cmd = plat::command;

namespace {

// Copies source beside target and renames it into place; target is untouched on failure.
bool copyIntoPlace(const fs::path& source, const fs::path& target) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    const auto bytes = plat::readWholeFile(source);
    std::string error;
    if (!bytes || !plat::writeFileAtomically(target, *bytes, &error)) {
        plat::log("Kelvane: could not copy " + source.string() + " to " + target.string() + ": " + error);
        return false;
    }
    return true;
}

} // namespace

bool InputMethodCommands::selectDoublePinyinScheme(ConfigManager& config, const std::string& name,
                                                   const fs::path& perUserFolder, const fs::path& userFolder) {
    // The scheme file goes in place first: a failed copy leaves the name and the input
    // method on the scheme they have.
    bool copied = false;
    const std::string file = name + ".plist";
    if (!name.empty() && plat::Paths::isSafeRelativeName(file)) {
        const fs::path source = userFolder / "KeyMaps" / file;
        std::error_code ec;
        if (fs::is_regular_file(source, ec)) copied = copyIntoPlace(source, perUserFolder / "spScheme.plist");
        else plat::log("Kelvane: no scheme file " + source.string());
    } else {
        plat::log("Kelvane: refusing the scheme name \"" + name + "\"");
    }
    if (!copied) return false;
    config.inputPlanName = name;
    config.save();
    NotificationSender::post(cmd::kNeedReloadPlan);
    return true;
}

void InputMethodCommands::chooseCandidatePanel(ConfigManager& config, bool vertical) {
    config.verticalCandidates = vertical;
    config.save();
    NotificationSender::switchCandidatesPanel(vertical ? cmd::kVerticalPanel : cmd::kHorizontalPanel);
}

void InputMethodCommands::chooseFontSize(ConfigManager& config, int64_t size) {
    config.fontSize = size;
    config.save();
    NotificationSender::setFontSize(size);
}

void InputMethodCommands::candidateFontChanged(const ConfigManager& config) {
    NotificationSender::setFontSize(contract::nearestCandidateFontSize(config.fontSize));
}

void InputMethodCommands::resetUserDict() { NotificationSender::post(cmd::kResetUserDict); }
void InputMethodCommands::resetCustom() { NotificationSender::post(cmd::kResetCustom); }
void InputMethodCommands::resetBootButtons() { NotificationSender::post(cmd::kResetBootButtons); }

void InputMethodCommands::restoreBackup(ConfigManager& config, const std::function<bool()>& writeFiles) {
    NotificationSender::okToUse(false);
    NotificationSender::post(cmd::kCloseDatabase);
    const bool schemeCopied = writeFiles ? writeFiles() : false;
    if (schemeCopied) NotificationSender::post(cmd::kNeedReloadPlan);
    // The settings object belongs to the main queue; the restored values are read there too.
    auto restored = std::make_shared<plat::PlistValue::Dictionary>();
    onMainAndWait([&config, restored] {
        config.discardPendingChanges();
        config.loadConfig();
        *restored = config.configData;
    });
    NotificationSender::post(cmd::kNeedsReloadDBLink);
    NotificationSender::post(cmd::kConfigNeedsReload);
    NotificationSender::okToUse(true);
    const auto vertical = restored->find("VerticalCandidates");
    if (vertical != restored->end() && vertical->second.isBool())
        NotificationSender::switchCandidatesPanel(*vertical->second.getBool() ? cmd::kVerticalPanel
                                                                              : cmd::kHorizontalPanel);
    const auto size = restored->find("FontSize");
    if (size != restored->end() && size->second.isInteger())
        NotificationSender::setFontSize(contract::nearestCandidateFontSize(*size->second.getInteger()));
}

std::string InputMethodCommands::normaliseTableFileName(const fs::path& folder, const std::string& relativeName) {
    constexpr std::string_view upper = ".TXT";
    if (relativeName.find('/') != std::string::npos || relativeName.size() <= upper.size() ||
        relativeName.compare(relativeName.size() - upper.size(), upper.size(), upper) != 0 ||
        !plat::Paths::isSafeRelativeName(relativeName))
        return relativeName;
    const std::string lower = relativeName.substr(0, relativeName.size() - upper.size()) + ".txt";
    // link() refuses an existing target, so a file of the new name is never overwritten.
    const fs::path from = folder / relativeName, to = folder / lower;
    if (::link(from.c_str(), to.c_str()) != 0) return relativeName;
    ::unlink(from.c_str());
    return lower;
}

} // namespace kelvane
