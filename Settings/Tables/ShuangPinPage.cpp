#include "Settings/Tables/ShuangPinPage.h"

#include "Settings/BuiltinFiles.h"
#include "Settings/ConfigManager.h"
#include "Settings/InputMethodCommands.h"
#include "Settings/NotificationSender.h"
#include "Platform/Foundation/Plist.h"
#include "SharedLib/contract/SchemeKeys.h"

#include <algorithm>

namespace kelvane {

namespace fs = std::filesystem;

const std::string ShuangPinPage::kQuickExtraHelp =
    "如果你使用“微软双拼标准版”等需要用到分号的双拼方案，可以快速勾选此选项以支持分号；\n"
    "更多额外编码设置请到“系统”→“额外编码”功能中设定。";

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Titles of the files under `folder` (at any depth) whose relative path ends with `ext`;
// `none` is the setting's word for no file and is never a title.
std::vector<std::string> scan(const fs::path& folder, const std::string& ext, bool skipRev, std::string_view none) {
    std::vector<std::string> titles;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        const std::string relative = it->path().lexically_relative(folder).generic_string();
        if (!endsWith(relative, ext) || relative.size() == ext.size()) continue;
        if (skipRev && relative.find("_rev") != std::string::npos) continue;
        std::string title = relative.substr(0, relative.size() - ext.size());
        if (BuiltinFiles::isSafeTitle(title) && title != none) titles.push_back(std::move(title));
    }
    std::sort(titles.begin(), titles.end());
    return titles;
}

int indexOf(const std::vector<std::string>& list, const std::string& title) {
    auto it = std::find(list.begin(), list.end(), title);
    return it == list.end() ? -1 : int(it - list.begin());
}

} // namespace

ShuangPinPage::ShuangPinPage(ConfigManager& config, TableLocations where) : config_(config), where_(std::move(where)) {}

void ShuangPinPage::install() { BuiltinFiles::install(BuiltinFiles::Page::ShuangPin, where_.resourceFolder, where_.userFolder); }

std::vector<std::string> ShuangPinPage::scanSchemes(const fs::path& userFolder) {
    return scan(userFolder / "KeyMaps", ".plist", true, {});
}

std::vector<std::string> ShuangPinPage::scanAssistTables(const fs::path& userFolder) {
    return scan(userFolder / "AssistCodes", ".txt", false, kNoAssist);
}

void ShuangPinPage::willAppear() {
    schemes_ = scanSchemes(where_.userFolder);
    assistTables_ = scanAssistTables(where_.userFolder);
    showAssistSetting();
    readSchemeCodeKeys();
}

void ShuangPinPage::readSchemeCodeKeys() {
    schemeCodeKeys_.clear();
    // As the input method reads the file: a dictionary of version "2.0".
    const auto root = plat::readPlistFile(where_.perUserFolder / "spScheme.plist", plat::PlistValue::Type::Dictionary);
    const plat::PlistValue* version = root ? root->find("Version") : nullptr;
    if (!version || !version->stringPtr() || *version->stringPtr() != "2.0") return;
    for (const char* name : {"Special", "Sheng", "Yun"})
        if (const plat::PlistValue* table = root->find(name); table && table->isDictionary())
            for (const auto& entry : *table->asDictionary()) contract::addSchemeCodeKeys(schemeCodeKeys_, entry.first);
}

void ShuangPinPage::showAssistSetting() {
    assistOn_ = config_.assistPlanName != kNoAssist;
    assistSelection_ = assistOn_ ? indexOf(assistTables_, config_.assistPlanName) : -1;
}

int ShuangPinPage::selectedScheme() const { return indexOf(schemes_, config_.inputPlanName); }
bool ShuangPinPage::revealAssist() const { return config_.revealAssist; }
bool ShuangPinPage::moveBack() const { return config_.moveBack; }
bool ShuangPinPage::wordFirst() const { return config_.wordFirst; }
bool ShuangPinPage::quickExtra() const {
    return quickExtraByScheme() || config_.extraCode.find(';') != std::string::npos;
}

bool ShuangPinPage::selectScheme(const std::string& title) {
    const bool ok = InputMethodCommands::selectDoublePinyinScheme(config_, title, where_.perUserFolder, where_.userFolder);
    readSchemeCodeKeys();
    return ok;
}

void ShuangPinPage::setAssistOn(bool on) {
    assistOn_ = on;
    assistSelection_ = -1;
    if (on) return;
    config_.assistPlanName = kNoAssist;
    config_.save();
    config_.assistCodePlan = -1;
    config_.save();
    config_.revealAssist = false;
    config_.save();
    NotificationSender::post(plat::command::kNeedsReloadDBLink);
}

void ShuangPinPage::selectAssistTable(const std::string& title, std::shared_ptr<ProgressSink> sink,
                                      std::function<void(bool)> done) {
    assistSelection_ = indexOf(assistTables_, title);
    CodeTableChooser::selectAssistTable(config_, where_, title, std::move(sink), [this, alive = std::weak_ptr<int>(alive_), done](bool ok) {
        // A failed rebuild kept the table in use before it: the page shows that one again.
        if (!ok && alive.lock()) showAssistSetting();
        if (done) done(ok);
    });
}

void ShuangPinPage::setRevealAssist(bool on) {
    config_.revealAssist = on;
    config_.save();
}

void ShuangPinPage::setMoveBack(bool on) {
    config_.moveBack = on;
    config_.save();
}

void ShuangPinPage::setWordFirst(bool on) {
    config_.wordFirst = on;
    config_.save();
}

void ShuangPinPage::setQuickExtra(bool on) {
    if (on) config_.extraCode += ';';
    else std::erase(config_.extraCode, ';');
    config_.save();
}

} // namespace kelvane
