#include "Settings/Pages/TabThreeController.h"

#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/Cloud/CloudStore.h"
#include "Settings/ConfigManager.h"
#include "Settings/InputMethodCommands.h"
#include "Settings/Pages/UserDictionaryTransfer.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>

namespace kelvane {

namespace fs = std::filesystem;
using Box = TabThreeController::Box;

const std::string TabThreeController::kUploadCrashLogHelp =
    "塔维输入法会在崩溃后自动将崩溃日志上传到 HockeyApp 供开发者分析出错原因。\n"
    "总之如果你对隐私有额外的顾虑，就取消勾选它，这样塔维输入法就不会上传任何崩溃信息了。";
const std::string TabThreeController::kKeyLoggerHelp =
    "开启后塔维输入法会记录你的按键数量和上屏文字数量，这些数据都会存储在本地硬盘当中。\n"
    "值得一提的是这个记录并不会保证 100% 精确记录，我们也【不会】记录具体的键入内容。";

const TabThreeController::Alert TabThreeController::kCleanUserDictAlert = {
    "注意", "清空你的用户词数据，这包括你的自造词和词频记录，此操作无法撤销！是否继续？", "继续", "取消", false};
const TabThreeController::Alert TabThreeController::kUninstallAlert = {
    "注意", "彻底卸载塔维输入法，请确定你备份了你的词库等必要配置，这些都会被删除且无法撤销。", "卸载", "取消", true};

const std::array<TabThreeController::BoxInfo, 5>& TabThreeController::boxes() {
    static const std::array<BoxInfo, 5> kBoxes = {{
        {Box::silence, "silenceBox", "静默应用列表", &ConfigManager::silence},
        {Box::extended, "extendedBox", "扩展词库", &ConfigManager::extendedDict},
        {Box::keyCount, "keyCount", "按键统计", &ConfigManager::keyLogger},
        {Box::userDict, "userDict", "用户词库（自动调频和造词）", &ConfigManager::userDict},
        {Box::uploadCrashLog, "uploadCrashLog", "上传崩溃日志", &ConfigManager::uploadCrashLog},
    }};
    return kBoxes;
}

const std::array<TabThreeController::PageKeyInfo, 4>& TabThreeController::pageKeys() {
    static const std::array<PageKeyInfo, 4> kKeys = {{
        {1, "dj", ". , 翻页", &ConfigManager::djPage},
        {2, "jd", "= - 翻页", &ConfigManager::jdPage},
        {3, "kh", "[ ] 翻页", &ConfigManager::khPage},
        {4, "tab", "Tab 翻页", &ConfigManager::tabPage},
    }};
    return kKeys;
}

const std::array<TabThreeController::FuzzyInfo, 9>& TabThreeController::fuzzyPairs() {
    static const std::array<FuzzyInfo, 9> kPairs = {{
        {"an2ang", "an = ang", &ConfigManager::an2ang},
        {"en2eng", "en = eng", &ConfigManager::en2eng},
        {"in2ing", "in = ing", &ConfigManager::in2ing},
        {"z2zh", "z = zh", &ConfigManager::z2zh},
        {"c2ch", "c = ch", &ConfigManager::c2ch},
        {"s2sh", "s = sh", &ConfigManager::s2sh},
        {"r2l", "r = l", &ConfigManager::r2l},
        {"f2h", "f = h", &ConfigManager::f2h},
        {"l2n", "l = n", &ConfigManager::l2n},
    }};
    return kPairs;
}

const std::array<TabThreeController::EditorButton, 6>& TabThreeController::editorButtons() {
    static const std::array<EditorButton, 6> kButtons = {{
        {"silenceButton", "编辑…", "silence", Box::silence},
        {"extendedButton", "管理…", "extended", Box::extended},
        {"keyCountButton", "查看…", "keyLogger", Box::keyCount},
        {"customButton", "自定义短语…", "customCodetable", std::nullopt},
        {"bootButtonButton", "引导符号…", "bootButton", std::nullopt},
        {"puncMapButton", "标点映射…", "puncMap", std::nullopt},
    }};
    return kButtons;
}

TabThreeController::TabThreeController(ConfigManager& config)
    : perUserFolder(plat::Paths::perUserFolder()), config_(config) {}

bool TabThreeController::checked(Box box) const {
    for (const auto& info : boxes())
        if (info.box == box) return config_.*(info.field);
    return false;
}

bool TabThreeController::pageKeyChecked(int tag) const {
    for (const auto& key : pageKeys())
        if (key.tag == tag) return config_.*(key.field);
    return false;
}

bool TabThreeController::fuzzyChecked(std::string_view title) const {
    for (const auto& pair : fuzzyPairs())
        if (pair.title == title) return config_.*(pair.field);
    return false;
}

bool TabThreeController::editorEnabled(std::string_view route) const {
    for (const auto& button : editorButtons())
        if (button.route == route) return !button.followsBox || checked(*button.followsBox);
    return false;
}

void TabThreeController::toggle(Box box, bool on) {
    for (const auto& info : boxes())
        if (info.box == box) {
            config_.*(info.field) = on;
            config_.save();
        }
}

void TabThreeController::switchPage(int tag, bool on) {
    for (const auto& key : pageKeys())
        if (key.tag == tag) {
            config_.*(key.field) = on;
            config_.save();
        }
}

void TabThreeController::switchFuzzy(std::string_view title, bool on) {
    for (const auto& pair : fuzzyPairs())
        if (pair.title == title) {
            config_.*(pair.field) = on;
            config_.save();
            return;
        }
}

TabThreeController::Result TabThreeController::exportUserDictionary(const std::optional<fs::path>& target) {
    if (!target) return Result{false, {}, true};
    const auto result = UserDictionaryTransfer::exportTo(*target, perUserFolder);
    return Result{result.ok, result.error, false};
}

TabThreeController::~TabThreeController() = default;

TabThreeController::Result
TabThreeController::importUserDictionary(const std::function<std::optional<fs::path>()>& choose) {
    return finishImportUserDictionary(choose ? choose() : std::nullopt);
}

TabThreeController::Result TabThreeController::finishImportUserDictionary(const std::optional<fs::path>& chosen) {
    if (!chosen) return Result{false, {}, true};
    const auto transfer = UserDictionaryTransfer::importFrom(*chosen, perUserFolder);
    return Result{transfer.ok, transfer.error, false};
}

void TabThreeController::cleanUserDictionary(bool confirmed) {
    if (confirmed) InputMethodCommands::resetUserDict();
}

namespace {

// The store of the backups, as configured: the script keeps it wherever it is. A refused
// setting goes as it is set, for the script to refuse too: backups an earlier version
// saved there may be in a folder it removes.
fs::path configuredStore() {
    const auto settings = plat::readPlistFile(plat::Paths::perUserFolder() / "config.plist",
                                              plat::PlistValue::Type::Dictionary);
    const auto store = CloudStoreSettings::from(settings ? *settings->asDictionary() : plat::PlistValue::Dictionary{});
    return store.refusedFolder ? fs::path(*store.refusedFolder) : store.folder;
}

// What the script says about the backups: the places it names ("backups stay in <place>",
// "backups kept in <place>"); its other lines are its complaints.
struct ScriptWords {
    std::vector<std::string> places;
    std::string complaint; // the last other line
};

ScriptWords readScriptWords(const std::string& output) {
    static constexpr std::string_view kSayings[] = {"backups stay in ", "backups kept in "};
    ScriptWords words;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        const std::string_view line(output.data() + start, end - start);
        start = end + 1;
        if (line.empty() || line.starts_with("no backups in ")) continue;
        bool named = false;
        for (const auto saying : kSayings)
            if (line.starts_with(saying)) {
                words.places.emplace_back(line.substr(saying.size()));
                named = true;
            }
        if (!named) words.complaint = line;
    }
    return words;
}

// pkexec's words when the administrator's authorisation was not given (it then exits 126
// for a dismissed request, 127 for a refusal) and the script did not run: what the user
// is told instead. Empty for anything else.
std::string refusedAuthorisation(int status, const std::string& output) {
    if ((status != 126 && status != 127) || output.find("Error executing command as another user") == std::string::npos)
        return {};
    if (output.find("Not authorized") != std::string::npos) return "管理员授权被拒绝，什么也没有删除。";
    if (output.find("Request dismissed") != std::string::npos) return "管理员授权已取消，什么也没有删除。";
    return "没有得到管理员授权，什么也没有删除。";
}

std::string placesText(const std::vector<std::string>& places, const char* lead) {
    if (places.empty()) return "没有找到需要保留的备份。";
    std::string text = lead;
    for (const auto& place : places) text += "\n" + place;
    return text;
}

} // namespace

struct TabThreeController::UninstallState {
    std::string confirmation; // kUninstallAlert's text and where the backups stay
    std::string resultMessage, resultText;
    bool succeeded = false;
};

std::optional<std::vector<std::string>> TabThreeController::uninstallCommand() {
    const auto script = plat::Paths::resourcePath(plat::Bundle::Kelvane, "uninstall", "sh");
    if (!script) return std::nullopt;
    // Resources live in <prefix>/share/Kelvane.
    const fs::path prefix = fs::weakly_canonical(plat::Paths::resourceFolder(plat::Bundle::Kelvane) / ".." / "..");
    std::string user;
    if (const passwd* pw = ::getpwuid(::getuid())) user = pw->pw_name;
    return std::vector<std::string>{"pkexec",
                                    "/bin/sh",
                                    fs::weakly_canonical(*script).string(),
                                    prefix.string(),
                                    user,
                                    plat::Paths::perUserFolder().string(),
                                    plat::Paths::userFolder().string(),
                                    configuredStore().string()};
}

std::optional<std::vector<std::string>> TabThreeController::uninstallPreviewCommand() {
    auto command = uninstallCommand();
    if (!command) return std::nullopt;
    command->erase(command->begin());
    command->insert(command->begin() + 2, "--dry-run");
    return command;
}

void TabThreeController::prepareUninstall(const Runner& run, std::function<void()> ready) {
    uninstall_ = std::make_shared<UninstallState>();
    uninstall_->confirmation = std::string(kUninstallAlert.informativeText);
    const auto command = uninstallPreviewCommand();
    if (!command || !run) {
        if (ready) ready();
        return;
    }
    const std::vector<std::string> arguments(command->begin() + 1, command->end());
    std::weak_ptr<UninstallState> state = uninstall_;
    run(command->front(), arguments, [state, ready = std::move(ready)](int status, const std::string& output) {
        const auto s = state.lock();
        if (!s) return;
        const ScriptWords words = readScriptWords(output);
        s->confirmation += "\n\n";
        if (status == 0)
            s->confirmation += placesText(words.places, "你的备份不会被删除，卸载后保留在：");
        else
            s->confirmation += "无法确定卸载后备份的位置" +
                               (words.complaint.empty() ? std::string() : "（" + words.complaint + "）") + "。";
        if (ready) ready();
    });
}

TabThreeController::Alert TabThreeController::uninstallAlert() const {
    Alert alert = kUninstallAlert;
    if (uninstall_) alert.informativeText = uninstall_->confirmation;
    return alert;
}

void TabThreeController::uninstall(bool confirmed, const Runner& run, std::function<void()> finished) {
    if (!confirmed) return;
    if (!uninstall_) uninstall_ = std::make_shared<UninstallState>();
    const auto command = uninstallCommand();
    if (!command || !run) {
        std::puts("failure!");
        std::fflush(stdout);
        uninstall_->succeeded = false;
        uninstall_->resultMessage = "卸载没有完成";
        uninstall_->resultText = "找不到卸载脚本，什么也没有删除。";
        if (finished) finished();
        return;
    }
    const std::vector<std::string> arguments(command->begin() + 1, command->end());
    std::weak_ptr<UninstallState> state = uninstall_;
    const std::string store = command->back();
    run(command->front(), arguments,
        [state, store, finished = std::move(finished)](int status, const std::string& output) {
            std::fputs(output.c_str(), stdout);
            std::puts(status == 0 ? "success!" : "failure!");
            std::fflush(stdout);
            const auto s = state.lock();
            if (!s) return;
            ScriptWords words = readScriptWords(output);
            s->succeeded = status == 0;
            if (s->succeeded) {
                s->resultMessage = "塔维输入法已卸载";
                s->resultText = placesText(words.places, "你的备份保留在：");
            } else {
                // Nothing was moved unless the script says so: the backups are where they were.
                if (words.places.empty()) words.places.push_back(store);
                std::string complaint = refusedAuthorisation(status, output);
                if (complaint.empty()) complaint = words.complaint;
                s->resultMessage = "卸载没有完成";
                s->resultText = (complaint.empty() ? std::string() : complaint + "\n\n") +
                                placesText(words.places, "你的备份在：");
            }
            if (finished) finished();
        });
}

bool TabThreeController::uninstallSucceeded() const { return uninstall_ && uninstall_->succeeded; }

TabThreeController::Alert TabThreeController::uninstallResultAlert() const {
    if (!uninstall_) return Alert{"", "", "好", "", false};
    return Alert{uninstall_->resultMessage, uninstall_->resultText, "好", "", !uninstall_->succeeded};
}

} // namespace kelvane
