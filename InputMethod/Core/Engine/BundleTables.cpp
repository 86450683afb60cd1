#include "InputMethod/Core/Engine/BundleTables.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>

#include "Platform/Dispatch/WorkerPool.h"
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

namespace {

std::shared_future<std::shared_ptr<const BundleTables::Emoji::Map>> readyTable(BundleTables::Emoji::Map map) {
    std::promise<std::shared_ptr<const BundleTables::Emoji::Map>> p;
    p.set_value(std::make_shared<const BundleTables::Emoji::Map>(std::move(map)));
    return p.get_future().share();
}

BundleTables::Emoji::Map readEmoji(const std::filesystem::path& file) {
    BundleTables::Emoji::Map table;
    if (auto root = readDictionary(file)) {
        for (const auto& [key, value] : *root->asDictionary()) {
            const auto* items = value.asArray();
            if (!items) continue;
            std::vector<std::string> list;
            for (const auto& item : *items)
                if (const std::string* s = item.stringPtr()) list.push_back(*s);
            table.emplace(key, std::move(list));
        }
    }
    return table;
}

} // namespace

BundleTables::Emoji::Emoji() : table_(readyTable({})) {}

BundleTables::Emoji::Emoji(Map map) : table_(readyTable(std::move(map))) {}

BundleTables::Emoji::Emoji(std::shared_future<std::shared_ptr<const Map>> reading) : table_(std::move(reading)) {}

const BundleTables::Emoji::Map& BundleTables::Emoji::map() const { return *table_.get(); }

bool BundleTables::Emoji::isLoaded() const {
    return table_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

std::shared_ptr<const BundleTables::Emoji> BundleTables::emoji(const std::filesystem::path& resourceDir) {
    return cached<Emoji>(resourceDir / "emoji.plist", [](const std::filesystem::path& file) {
        auto done = std::make_shared<std::promise<std::shared_ptr<const Emoji::Map>>>();
        auto table = std::make_shared<const Emoji>(done->get_future().share());
        auto empty = std::make_shared<const Emoji::Map>();
        plat::WorkerPool::shared().submit([done, empty, file] {
            // The promise is always kept: a failed read gives an empty table.
            std::shared_ptr<const Emoji::Map> map;
            try {
                map = std::make_shared<const Emoji::Map>(readEmoji(file));
            } catch (const std::exception& e) {
                std::fprintf(stderr, "BundleTables: could not read %s: %s\n", file.c_str(), e.what());
            }
            done->set_value(map ? std::move(map) : empty);
        });
        return table;
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
