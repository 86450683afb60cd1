#include "Settings/Tables/CodeTablePage.h"

#include "Settings/BuiltinFiles.h"
#include "Settings/Cloud/BackupsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/ConfigOptions.h"

#include <algorithm>

namespace kelvane {

namespace fs = std::filesystem;

CodeTablePage::CodeTablePage(ConfigManager& config, TableLocations where) : config_(config), where_(std::move(where)) {}

void CodeTablePage::install() { BuiltinFiles::install(BuiltinFiles::Page::CodeTable, where_.resourceFolder, where_.userFolder); }

void CodeTablePage::willAppear() { tables_ = scanTables(where_.userFolder); }

std::vector<std::string> CodeTablePage::scanTables(const fs::path& userFolder) {
    std::vector<std::string> titles;
    std::error_code ec;
    for (fs::directory_iterator it(userFolder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        std::string name = it->path().filename().string();
        if (name.size() <= 4) continue;
        const std::string ext = name.substr(name.size() - 4);
        if (ext != ".txt" && ext != ".TXT") continue;
        std::string title = name.substr(0, name.size() - 4);
        if (ext == ".TXT") {
            // Only the extension changes; an existing "title.txt" is never overwritten.
            const fs::path target = userFolder / (title + ".txt");
            std::error_code renameError;
            if (!fs::exists(target, renameError)) fs::rename(it->path(), target, renameError);
        }
        if (!BuiltinFiles::isSafeTitle(title) || title == kNoMainCodeTable) continue;
        titles.push_back(std::move(title));
    }
    std::sort(titles.begin(), titles.end());
    titles.erase(std::unique(titles.begin(), titles.end()), titles.end());
    return titles;
}

std::array<std::string, 5> CodeTablePage::commitRuleTitles(int codeLength) {
    return {"空格上屏", chineseNumeral(codeLength) + "码唯一上屏", "统一第" + chineseNumeral(codeLength + 1) + "码顶",
            "空码顶字上屏", "空码直接上屏"};
}

int CodeTablePage::selectedTable() const {
    auto it = std::find(tables_.begin(), tables_.end(), config_.codeTableName);
    return it == tables_.end() ? -1 : int(it - tables_.begin());
}

std::array<std::string, 5> CodeTablePage::commitRules() const { return commitRuleTitles(int(config_.codeLength)); }

int CodeTablePage::selectedCommitRule() const {
    return config_.fourCode >= 0 && config_.fourCode < 5 ? int(config_.fourCode) : -1;
}

int CodeTablePage::codeLengthIndex() const {
    return config_.codeLength >= 3 && config_.codeLength <= 10 ? int(config_.codeLength - 3) : -1;
}

int CodeTablePage::emptyCleanIndex() const { return config_.spaceClean ? 2 : config_.emptyClean ? 1 : 0; }
bool CodeTablePage::revealCode() const { return config_.revealCode; }
bool CodeTablePage::emptySlide() const { return config_.emptySlide; }
bool CodeTablePage::codetableInUserDict() const { return config_.codetableInUserDict; }

void CodeTablePage::selectMainCodeTable(const std::string& title, std::shared_ptr<ProgressSink> sink,
                                        std::function<void(bool)> done) {
    CodeTableChooser::selectMainCodeTable(config_, where_, title, std::move(sink), std::move(done));
}

void CodeTablePage::setEmptyCleanIndex(int index) {
    config_.emptyClean = index == 1;
    config_.save();
    config_.spaceClean = index == 2;
    config_.save();
}

bool CodeTablePage::setCodeLengthIndex(int index) {
    if (index < 0 || index > 7) return false;
    config_.codeLength = index + 3;
    config_.save();
    return true;
}

bool CodeTablePage::setCommitRule(int index) {
    if (index < 0 || index > 4) return false;
    config_.fourCode = index;
    config_.save();
    return true;
}

void CodeTablePage::setRevealCode(bool on) {
    config_.revealCode = on;
    config_.save();
}

void CodeTablePage::setEmptySlide(bool on) {
    config_.emptySlide = on;
    config_.save();
}

void CodeTablePage::setCodetableInUserDict(bool on) {
    config_.codetableInUserDict = on;
    config_.save();
}

} // namespace kelvane
