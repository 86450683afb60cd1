#include "InputMethod/Core/Double2Pinyin.h"

#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/FuzzyPinyin.h"
#include "InputMethod/Core/NotificationNames.h"
#include "InputMethod/Core/PyString.h"
#include "InputMethod/Core/Settings.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "SharedLib/contract/SchemeKeys.h"

namespace taviro {
namespace {

// The buffer's keys: one UTF-8 character each.
std::vector<std::string_view> splitKeys(std::string_view keys) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < keys.size()) {
        const auto lead = static_cast<unsigned char>(keys[i]);
        std::size_t len = 1;
        if (lead >= 0xF0) len = 4;
        else if (lead >= 0xE0) len = 3;
        else if (lead >= 0xC0) len = 2;
        std::size_t end = i + 1;
        while (end < keys.size() && end < i + len &&
               (static_cast<unsigned char>(keys[end]) & 0xC0) == 0x80)
            ++end;
        out.push_back(keys.substr(i, end - i));
        i = end;
    }
    return out;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

const std::vector<int>* lookup(const Double2Pinyin::Table& table, std::string_view key) {
    auto it = table.find(std::string(key));
    return it == table.end() ? nullptr : &it->second;
}

std::vector<int> pairCodes(const Double2Pinyin::Scheme& scheme, std::string_view first,
                           std::string_view second, const Settings& settings) {
    std::vector<int> initials, finals;
    if (auto* list = lookup(scheme.sheng, first)) initials = *list;
    if (auto* list = lookup(scheme.yun, second)) finals = *list;

    // Keys the scheme does not list: a bare initial stands for itself first,
    // a zero-initial syllable (its code is its final index) second.
    if (initials.empty())
        if (auto code = PyString::syllableCodeForText(first); code && PyString::isBareInitialCode(*code))
            initials.push_back(*code);
    if (finals.empty())
        if (auto code = PyString::syllableCodeForText(second); code && initialOf(*code) == 0)
            finals.push_back(*code);

    const std::size_t initialCount = initials.size();
    for (std::size_t i = 0; i < initialCount; ++i)
        for (int alt : fuzzyInitialAlternatives(initials[i], settings)) initials.push_back(alt);
    const std::size_t finalCount = finals.size();
    for (std::size_t i = 0; i < finalCount; ++i)
        for (int alt : fuzzyFinalAlternatives(finals[i], settings)) finals.push_back(alt);

    std::vector<int> codes;
    for (int initial : initials)
        for (int final_ : finals)
            if (PyString::isSyllableCode(initial | final_)) codes.push_back(initial | final_);
    return codes;
}

std::vector<int> loneKeyCodes(const Double2Pinyin::Table* first, const Double2Pinyin::Table& second,
                              std::string_view key) {
    std::vector<int> codes;
    const std::vector<int>* list = first ? lookup(*first, key) : nullptr;
    if (!list) list = lookup(second, key);
    if (list) codes = *list;
    if (codes.empty())
        if (auto code = PyString::syllableCodeForText(key)) codes.push_back(*code);
    return codes;
}

// Appends one position's codes. Once a position has none, every later
// position stays empty too.
void appendPosition(std::vector<std::vector<int>>& result, std::vector<int> codes, bool& emptyBefore) {
    if (emptyBefore) codes.clear();
    if (codes.empty()) emptyBefore = true;
    result.push_back(std::move(codes));
}

} // namespace

Double2Pinyin::Double2Pinyin() : Double2Pinyin(plat::Paths::perUserFile("spScheme.plist")) {}

Double2Pinyin::Double2Pinyin(std::filesystem::path schemeFile)
    : schemeFile_(std::move(schemeFile)), scheme_(std::make_shared<const Scheme>()) {
    loadScheme();
    reloadObserver_ = plat::NotificationCenter::defaultCenter().addObserver(
        std::string(NeedReloadPlan), [this](const plat::Notification&) { loadPYScheme(); });
}

std::shared_ptr<const Double2Pinyin::Scheme> Double2Pinyin::scheme() const {
    std::lock_guard lock(schemeMutex_);
    return scheme_;
}

Double2Pinyin::Table Double2Pinyin::codesFromSchemeDictionary(
    const std::map<std::string, std::string>& section) {
    Table table;
    for (const auto& [key, original] : section) {
        std::string value = original;
        if (value.find('v') != std::string::npos) {
            replaceAll(value, "van", "uan");
            replaceAll(value, "ve", "ue");
            replaceAll(value, "vn", "un");
        }
        std::vector<int> codes;
        std::size_t start = 0;
        while (true) {
            const std::size_t bar = value.find('|', start);
            const std::string_view piece =
                std::string_view(value).substr(start, bar == std::string::npos ? std::string::npos
                                                                                : bar - start);
            if (auto code = PyString::syllableCodeForText(piece)) codes.push_back(*code);
            else if (auto index = PyString::finalIndexForText(piece)) codes.push_back(*index);
            if (bar == std::string::npos) break;
            start = bar + 1;
        }
        if (codes.empty()) codes.push_back(0);
        table[key] = std::move(codes);
    }
    return table;
}

void Double2Pinyin::loadScheme() {
    std::lock_guard lock(loadMutex_);
    auto root = plat::readPlistFile(schemeFile_, plat::PlistValue::Type::Dictionary);
    if (!root) return;
    const plat::PlistValue* version = root->find("Version");
    if (!version || !version->stringPtr() || *version->stringPtr() != "2.0") return;

    auto next = std::make_shared<Scheme>(*scheme());
    const std::pair<const char*, Table Scheme::*> sections[] = {
        {"Special", &Scheme::special}, {"Yun", &Scheme::yun}, {"Sheng", &Scheme::sheng}};
    for (const auto& [name, table] : sections) {
        const plat::PlistValue* value = root->find(name);
        if (!value || !value->isDictionary()) continue;
        std::map<std::string, std::string> section;
        bool allStrings = true;
        for (const auto& [key, entry] : *value->asDictionary()) {
            if (!entry.stringPtr()) {
                allStrings = false;
                break;
            }
            section.emplace(key, *entry.stringPtr());
        }
        if (allStrings) (*next).*table = codesFromSchemeDictionary(section);
    }
    next->codeKeys.clear();
    for (const Table* table : {&next->special, &next->sheng, &next->yun})
        for (const auto& entry : *table) contract::addSchemeCodeKeys(next->codeKeys, entry.first);
    std::shared_ptr<const Scheme> published = std::move(next);
    std::lock_guard swapLock(schemeMutex_);
    scheme_.swap(published);
}

std::vector<std::vector<int>> Double2Pinyin::convertDoublePinyin(std::string_view keys) const {
    return convertDoublePinyin(keys, *ConfigManager::shared().settings());
}

std::vector<std::vector<int>> Double2Pinyin::convertDoublePinyin(std::string_view keys,
                                                                 const Settings& settings) const {
    std::vector<std::vector<int>> result;
    if (keys.empty() || settings.quanPin) return result;
    const auto current = scheme();
    const auto split = splitKeys(keys);
    bool emptyBefore = false;
    for (std::size_t i = 0; i < split.size();) {
        std::vector<int> codes;
        if (split.size() - i == 1) {
            codes = loneKeyCodes(&current->special, current->sheng, split[i]);
            i += 1;
        } else {
            const std::string pair = std::string(split[i]) + std::string(split[i + 1]);
            if (auto* list = lookup(current->special, pair)) codes = *list;
            else codes = pairCodes(*current, split[i], split[i + 1], settings);
            i += 2;
        }
        appendPosition(result, std::move(codes), emptyBefore);
    }
    return result;
}

std::vector<int> Double2Pinyin::codesForKeyPair(std::string_view first,
                                                std::string_view second) const {
    return codesForKeyPair(first, second, *ConfigManager::shared().settings());
}

std::vector<int> Double2Pinyin::codesForKeyPair(std::string_view first, std::string_view second,
                                                const Settings& settings) const {
    return pairCodes(*scheme(), first, second, settings);
}

std::vector<std::vector<int>> Double2Pinyin::convertDoublePinyinSyllables(
    std::string_view keys) const {
    std::vector<std::vector<int>> result;
    if (keys.empty()) return result;
    const auto current = scheme();
    bool emptyBefore = false;
    for (std::string_view key : splitKeys(keys)) {
        appendPosition(result, loneKeyCodes(nullptr, current->sheng, key), emptyBefore);
    }
    return result;
}

std::vector<std::string> Double2Pinyin::doublePinyinSpellings(std::string_view keys) const {
    return doublePinyinSpellings(keys, *ConfigManager::shared().settings());
}

std::vector<std::string> Double2Pinyin::doublePinyinSpellings(std::string_view keys,
                                                              const Settings& settings) const {
    std::vector<std::string> spellings;
    if (keys.empty()) return spellings;
    for (const auto& texts : PyString::syllableTextsForCodes(convertDoublePinyin(keys, settings)))
        spellings.push_back(texts.empty() ? std::string() : texts.front());
    return spellings;
}

std::string Double2Pinyin::joinedPinyinRange(std::string_view keys) const {
    return joinedPinyinRange(keys, *ConfigManager::shared().settings());
}

std::string Double2Pinyin::joinedPinyinRange(std::string_view keys,
                                             const Settings& settings) const {
    if (keys.empty()) return {};
    std::string joined;
    bool first = true;
    for (const auto& spelling : doublePinyinSpellings(keys, settings)) {
        if (!first) joined += '\'';
        joined += spelling;
        first = false;
    }
    if (joined.find("''") != std::string::npos) return std::string(keys);
    return joined;
}

} // namespace taviro
