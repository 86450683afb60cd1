#include "InputMethod/Core/Engine/BundleTables.h"

#include <map>
#include <mutex>

#include "Platform/Foundation/Plist.h"

namespace taviro {

namespace {

std::optional<plat::PlistValue> readDictionary(const std::filesystem::path& file) {
    return plat::readPlistFile(file, plat::PlistValue::Type::Dictionary);
}

// One loaded table per file, kept for the process.
template <class T, class Load>
std::shared_ptr<const T> cached(const std::filesystem::path& file, Load load) {
    static std::mutex m;
    static std::map<std::filesystem::path, std::shared_ptr<const T>> tables;
    std::lock_guard lk(m);
    auto it = tables.find(file);
    if (it != tables.end()) return it->second;
    auto table = load(file);
    tables.emplace(file, table);
    return table;
}

} // namespace

std::shared_ptr<const BundleTables::Py2hz> BundleTables::py2hz(const std::filesystem::path& resourceDir) {
    return cached<Py2hz>(resourceDir / "py2hz.plist", [](const std::filesystem::path& file) {
        auto table = std::make_shared<Py2hz>();
        if (auto root = readDictionary(file))
            for (const auto& [key, value] : *root->asDictionary())
                if (const std::string* s = value.stringPtr()) table->emplace(key, *s);
        return std::shared_ptr<const Py2hz>(std::move(table));
    });
}

std::shared_ptr<const BundleTables::Emoji> BundleTables::emoji(const std::filesystem::path& resourceDir) {
    return cached<Emoji>(resourceDir / "emoji.plist", [](const std::filesystem::path& file) {
        auto table = std::make_shared<Emoji>();
        if (auto root = readDictionary(file)) {
            for (const auto& [key, value] : *root->asDictionary()) {
                const auto* items = value.asArray();
                if (!items) continue;
                std::vector<std::string> list;
                for (const auto& item : *items)
                    if (const std::string* s = item.stringPtr()) list.push_back(*s);
                table->emplace(key, std::move(list));
            }
        }
        return std::shared_ptr<const Emoji>(std::move(table));
    });
}

std::shared_ptr<const BundleTables::Frequencies> BundleTables::pinyinFrequencies(
    const std::filesystem::path& resourceDir) {
    return cached<Frequencies>(resourceDir / "pyfreq.plist", [](const std::filesystem::path& file) {
        auto root = readDictionary(file);
        if (!root) return std::shared_ptr<const Frequencies>();
        auto table = std::make_shared<Frequencies>();
        for (const auto& [key, value] : *root->asDictionary())
            if (auto f = value.getNumber()) table->emplace(key, *f);
        return std::shared_ptr<const Frequencies>(std::move(table));
    });
}

} // namespace taviro
