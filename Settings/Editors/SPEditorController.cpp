#include "Settings/Editors/SPEditorController.h"

#include "Settings/BuiltinFiles.h"
#include "Settings/ConfigManager.h"
#include "Settings/Tables/ShuangPinPage.h"

#include <algorithm>
#include <system_error>

namespace kelvane {

namespace fs = std::filesystem;

const std::string SPEditorController::kPlanHelp =
    "双击声母或韵母位置以编辑，同按键多个配置用竖线（|）分割，不使用请留空。";
const std::string SPEditorController::kSpHelp =
    "添加你需要的特殊处理组合，比如 ea=a 这类，同编码对应多个拼音的，则用竖线（|）分割。";
const AlertModel SPEditorController::kDuplicateCodeAlert{"同编码映射请写在同一条中用竖线“|”分隔。", "错误！", {"好"}};

namespace {

constexpr const char* kVersion = "2.0";

AlertModel errorAlert(std::string message, std::string informative = "错误！") {
    return AlertModel{std::move(message), std::move(informative), {"好"}};
}

const AlertModel kUnsafeNameAlert = errorAlert("方案名称不能是绝对路径，也不能包含“..”。");
const AlertModel kGuideKeyAlert = errorAlert("引导键只能是一个英文字母（a-z 或 A-Z），或者留空。");

// The string values of a dictionary; other values are left out.
SPEditorController::StringTable stringsOf(const plat::PlistValue* value) {
    SPEditorController::StringTable table;
    if (const auto* dict = value ? value->asDictionary() : nullptr)
        for (const auto& [key, v] : *dict)
            if (const std::string* s = v.stringPtr()) table.emplace(key, *s);
    return table;
}

bool isGuideKey(const std::string& text) {
    return text.size() == 1 && ((text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z'));
}

} // namespace

SPEditorController::SPEditorController(ConfigManager& config, fs::path userFolder)
    : config_(config), userFolder_(std::move(userFolder)) {}

const std::vector<std::string>& SPEditorController::alphaKeys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> out;
        for (const char* k = kKeyRow; *k; ++k) out.emplace_back(1, *k);
        return out;
    }();
    return keys;
}

fs::path SPEditorController::schemePath(const std::string& name) const {
    return schemeFolder() / fs::path(name + ".plist");
}

void SPEditorController::viewDidLoad() {
    spList_ = ShuangPinPage::scanSchemes(userFolder_);
    fileListText_ = config_.inputPlanName;
    loadScheme(config_.inputPlanName);
    showGuideKey();
}

void SPEditorController::loadScheme(const std::string& name) {
    sheng_.clear();
    yun_.clear();
    special_.clear();
    others_.clear();
    others_["Version"] = kVersion;
    // A name that could leave the folder opens as an empty document.
    const auto root = BuiltinFiles::isSafeTitle(name)
                          ? plat::readPlistFile(schemePath(name), plat::PlistValue::Type::Dictionary)
                          : std::nullopt;
    if (root) {
        const plat::PlistValue* version = root->find("Version");
        if (version && version->isString() && *version->stringPtr() == kVersion) {
            for (const auto& [key, value] : *root->asDictionary())
                if (key != "Sheng" && key != "Yun" && key != "Special") others_[key] = value;
            sheng_ = stringsOf(root->find("Sheng"));
            yun_ = stringsOf(root->find("Yun"));
            special_ = stringsOf(root->find("Special"));
        } else {
            // The older flat form: code to pinyin, the special table alone.
            special_ = stringsOf(&*root);
        }
    }
    mapName_ = name;
    openedName_ = name;
}

void SPEditorController::showGuideKey() {
    // A scheme without a guide key clears the one shown before.
    bootButton_.clear();
    for (const auto& [key, value] : sheng_)
        if (value.empty()) {
            bootButton_ = key;
            break;
        }
    bootButtonFieldText_ = bootButton_;
}

std::optional<AlertModel> SPEditorController::reload() {
    if (!BuiltinFiles::isSafeTitle(fileListText_) && !fileListText_.empty()) return kUnsafeNameAlert;
    loadScheme(fileListText_);
    showGuideKey();
    return std::nullopt;
}

void SPEditorController::clearAll() {
    sheng_.clear();
    yun_.clear();
    special_.clear();
    others_.clear();
    others_["Version"] = kVersion;
    mapName_ = "new";
    openedName_.clear();
    bootButton_.clear();
    bootButtonFieldText_.clear();
    fileListText_ = "new";
}

void SPEditorController::didSelectFile(const std::string& text) {
    fileListText_ = text;
    mapName_ = text;
}

bool SPEditorController::checkGuideKey() {
    if (isGuideKey(bootButtonFieldText_) || bootButtonFieldText_.empty()) {
        bootButton_ = bootButtonFieldText_;
        return true;
    }
    bootButtonFieldText_ = bootButton_;
    return false;
}

void SPEditorController::bootButtonChanged() { checkGuideKey(); }

SPEditorController::SaveResult SPEditorController::save(bool overwriteConfirmed) {
    if (!checkGuideKey()) return {SaveOutcome::Refused, kGuideKeyAlert};
    mapName_ = fileListText_;
    if (mapName_.empty()) return {SaveOutcome::Ignored, {}};
    if (!BuiltinFiles::isSafeTitle(mapName_)) return {SaveOutcome::Refused, kUnsafeNameAlert};

    const fs::path path = schemePath(mapName_);
    std::error_code ec;
    if (!overwriteConfirmed && mapName_ != openedName_ && fs::exists(fs::symlink_status(path, ec)))
        return {SaveOutcome::NeedsConfirmation,
                AlertModel{"方案“" + mapName_ + "”已经存在，要用正在编辑的方案替换它吗？",
                           "替换后，原来的方案内容无法恢复。", {"替换", "取消"}}};

    StringTable sheng = sheng_, yun = yun_, special = special_;
    if (auto it = special.find(kPlaceholderCode); it != special.end() && it->second == kPlaceholderPinyin)
        special.erase(it);
    // Empty values go; every space of the others becomes a separator.
    for (StringTable* t : {&sheng, &yun, &special}) {
        std::erase_if(*t, [](const auto& entry) { return entry.second.empty(); });
        for (auto& entry : *t) std::replace(entry.second.begin(), entry.second.end(), ' ', '|');
    }
    if (!bootButton_.empty()) sheng[bootButton_] = "";

    plat::PlistValue document(others_);
    document["Sheng"] = plat::stringMapToPlist(sheng);
    document["Yun"] = plat::stringMapToPlist(yun);
    document["Special"] = plat::stringMapToPlist(special);

    std::string error;
    fs::create_directories(path.parent_path(), ec);
    if (ec) error = ec.message();
    if (ec || !plat::writePlistFile(path, document, &error))
        return {SaveOutcome::Refused,
                errorAlert("方案没有保存：无法写入“KeyMaps/" + mapName_ + ".plist”。", error)};

    sheng_ = std::move(sheng);
    yun_ = std::move(yun);
    special_ = std::move(special);
    openedName_ = mapName_;
    return {SaveOutcome::Saved, {}};
}

plat::PlistValue SPEditorController::mapDict() const {
    plat::PlistValue document(others_);
    document["Sheng"] = plat::stringMapToPlist(sheng_);
    document["Yun"] = plat::stringMapToPlist(yun_);
    document["Special"] = plat::stringMapToPlist(special_);
    return document;
}

int SPEditorController::numberOfRows(Table t) const {
    return t == Table::Plan ? int(alphaKeys().size()) : int(special_.size());
}

std::vector<std::string> SPEditorController::specialCodes() const {
    // Map order is byte order, which for UTF-8 is code-point order.
    std::vector<std::string> codes;
    codes.reserve(special_.size());
    for (const auto& entry : special_) codes.push_back(entry.first);
    return codes;
}

std::optional<std::string> SPEditorController::objectValue(Table t, std::string_view column, int row) const {
    auto valueOf = [](const StringTable& table, const std::string& key) -> std::optional<std::string> {
        auto it = table.find(key);
        if (it == table.end()) return std::nullopt;
        return it->second;
    };
    if (t == Table::Plan) {
        if (row < 0 || row >= int(alphaKeys().size())) return std::nullopt;
        const std::string& key = alphaKeys()[row];
        if (column == "key") return key;
        if (column == "s") return valueOf(sheng_, key);
        if (column == "y") return valueOf(yun_, key);
        return std::nullopt;
    }
    const auto codes = specialCodes();
    if (row < 0 || row >= int(codes.size())) return std::nullopt;
    if (column == "code") return codes[row];
    if (column == "py") return valueOf(special_, codes[row]);
    return std::nullopt;
}

std::optional<AlertModel> SPEditorController::controlTextDidEndEditing(Table t, int row, int column,
                                                                       const std::string& text) {
    // An edit with no row (nothing selected, or a row that is gone) changes nothing.
    if (row < 0 || row >= numberOfRows(t)) return std::nullopt;
    if (t == Table::Plan) {
        const std::string& key = alphaKeys()[row];
        if (column == 1) sheng_[key] = text;
        else if (column == 2) yun_[key] = text;
        return std::nullopt;
    }
    const std::string code = specialCodes()[row];
    if (column == 1) {
        if (!text.empty()) special_[code] = text;
    } else if (column == 0) {
        if (special_.count(text)) return kDuplicateCodeAlert;
        if (!text.empty()) {
            auto node = special_.extract(code);
            node.key() = text;
            special_.insert(std::move(node));
        }
    }
    return std::nullopt;
}

void SPEditorController::spAdd() { special_[kPlaceholderCode] = kPlaceholderPinyin; }

void SPEditorController::spDel(const std::set<int>& rows) {
    const auto codes = specialCodes();
    for (int row : rows)
        if (row >= 0 && row < int(codes.size())) special_.erase(codes[row]);
}

} // namespace kelvane
