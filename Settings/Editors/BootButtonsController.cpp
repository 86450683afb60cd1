#include "Settings/Editors/BootButtonsController.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/ConfigManager.h"

#include <algorithm>
#include <system_error>

namespace kelvane {

namespace fs = std::filesystem;

BootButtonsController::BootButtonsController(ConfigManager& config, fs::path userFolder)
    : config_(config), userFolder_(std::move(userFolder)) {}

BootButtonsController::BootButtonsController(ConfigManager& config)
    : BootButtonsController(config, plat::Paths::userFolder()) {}

fs::path BootButtonsController::tablePath() const { return bootButtonsFolder(userFolder_) / configName_; }

void BootButtonsController::viewDidLoad() {
    std::error_code ec;
    fs::create_directories(bootButtonsFolder(userFolder_), ec);
    listTables();
    reloadBootButtons();
}

void BootButtonsController::listTables() {
    const fs::path folder = bootButtonsFolder(userFolder_);
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        const std::string name = it->path().lexically_relative(folder).generic_string();
        if (name.size() > 6 && name.ends_with(".plist") && isSafeBootButtonName(name)) found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    configFileList_.assign(1, std::string(kDefaultBootButtonsName));
    configFileList_.insert(configFileList_.end(), found.begin(), found.end());
    // A title added again moves to where it was listed last.
    configTitles_.clear();
    for (const auto& name : configFileList_) {
        std::erase(configTitles_, name);
        configTitles_.push_back(name);
    }
}

void BootButtonsController::reloadBootButtons() {
    const auto root = plat::readPlistFile(config_.configPath, plat::PlistValue::Type::Dictionary);
    configListEnabled_ = root.has_value();
    if (root) {
        const auto& dict = *root->asDictionary();
        const auto it = dict.find("BootButtonName");
        const std::string* name = it == dict.end() ? nullptr : it->second.stringPtr();
        if (name && isSafeBootButtonName(*name)) {
            configName_ = *name;
            config_.bootButtonName = *name;
            const auto title = std::find(configTitles_.begin(), configTitles_.end(), *name);
            if (title != configTitles_.end()) selectedTitle_ = static_cast<int>(title - configTitles_.begin());
        } else if (name) {
            plat::log("Kelvane: ignoring the unsafe guide-button table name \"" + *name + "\"");
        }
    }
    unreadableFile_ = false;
    if (auto table = readBootButtonTable(tablePath())) {
        shortCutInputDic_ = std::move(*table);
    } else {
        std::error_code ec;
        unreadableFile_ = fs::exists(fs::symlink_status(tablePath(), ec));
        shortCutInputDic_ = defaultBootButtons();
    }
}

bool BootButtonsController::saveBootButtons() {
    lastError_.clear();
    if (unreadableFile_) {
        lastError_ = "“" + configName_ + "”不是可读的引导符号表，未覆盖。";
        plat::log("Kelvane: not overwriting unreadable " + tablePath().string());
        return false;
    }
    std::string error;
    if (writeBootButtonTable(tablePath(), shortCutInputDic_, &error)) return true;
    lastError_ = "无法写入“" + configName_ + "”：" + error;
    plat::log("Kelvane: could not write " + tablePath().string() + ": " + error);
    return false;
}

std::string BootButtonsController::cellText(int row, int column) const {
    if (row < 0 || row >= numberOfRows()) return {};
    const std::string& key = bootButtonRowKeys()[static_cast<size_t>(row)];
    if (column != content) return key;
    const auto it = shortCutInputDic_.find(key);
    return it == shortCutInputDic_.end() ? std::string() : it->second;
}

void BootButtonsController::changeList(const std::optional<std::string>& title) {
    if (!title || !configListEnabled_ || !isSafeBootButtonName(*title)) return;
    config_.bootButtonName = *title;
    config_.save();
    reloadBootButtons();
}

bool BootButtonsController::commitEdit(std::optional<int> row, int column, const std::string& text) {
    if (!row || *row < 0 || *row >= numberOfRows() || column != content) return true;
    shortCutInputDic_[bootButtonRowKeys()[static_cast<size_t>(*row)]] = text;
    return saveBootButtons();
}

} // namespace kelvane
