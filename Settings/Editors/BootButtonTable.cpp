#include "Settings/Editors/BootButtonTable.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/BuiltinFiles.h"

#include <system_error>

namespace kelvane {

BootButtonTable defaultBootButtons() {
    const auto path = plat::Paths::resourcePath(plat::Bundle::Kelvane, kDefaultBootButtonsName);
    std::optional<BootButtonTable> table;
    if (path) table = plat::readStringMapFile(*path);
    if (!table) {
        plat::log("Kelvane: the built-in guide-button table \"" + std::string(kDefaultBootButtonsName) +
                  "\" is missing from " + plat::Paths::resourceFolder(plat::Bundle::Kelvane).string());
        return {};
    }
    return *table;
}

const std::vector<std::string>& bootButtonRowKeys() {
    static const std::vector<std::string> kKeys = [] {
        std::vector<std::string> keys;
        for (char c = 'a'; c <= 'z'; ++c) {
            keys.emplace_back(1, c);
            keys.push_back(std::string(1, c) + "⇣");
        }
        return keys;
    }();
    return kKeys;
}

std::filesystem::path bootButtonsFolder(const std::filesystem::path& userFolder) { return userFolder / "BootButtons"; }

bool isSafeBootButtonName(std::string_view name) { return BuiltinFiles::isSafeTitle(name); }

std::optional<BootButtonTable> readBootButtonTable(const std::filesystem::path& path) {
    const auto root = plat::readPlistFile(path, plat::PlistValue::Type::Dictionary);
    if (!root) return std::nullopt;
    BootButtonTable table;
    for (const auto& [key, value] : *root->asDictionary())
        if (const std::string* text = value.stringPtr()) table.emplace(key, *text);
    return table;
}

bool writeBootButtonTable(const std::filesystem::path& path, const BootButtonTable& table, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    return plat::writePlistFile(path, plat::stringMapToPlist(table), error);
}

} // namespace kelvane
