#include "InputMethod/KeyCodeTranslation.h"

#include "InputMethod/TextUnits.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"

#include <cctype>
#include <mutex>

namespace taviro {
namespace {

std::mutex tableMutex;
std::shared_ptr<const VkToUSTable> loadedTable;

std::optional<VkToUSTable> loadTable() {
    const auto path = plat::Paths::resourcePath(plat::Bundle::TaviroMac2, "vk_to_us.plist");
    if (!path) return std::nullopt;
    const auto root = plat::readPlistFile(*path, plat::PlistValue::Type::Dictionary);
    if (!root) return std::nullopt;
    VkToUSTable table;
    for (const auto& [key, value] : *root->asDictionary()) {
        const std::string* s = value.stringPtr();
        if (!s) return std::nullopt;  // every value must be a string
        table.emplace(key, *s);
    }
    return table;
}

std::string asciiCase(std::string s, bool upper) {
    if (s.size() == 1) s[0] = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(s[0]))
                                                       : std::tolower(static_cast<unsigned char>(s[0])));
    return s;
}

} // namespace

std::shared_ptr<const VkToUSTable> vkToUSTable() {
    std::lock_guard lock(tableMutex);
    if (loadedTable) return loadedTable;
    if (auto table = loadTable()) {
        loadedTable = std::make_shared<const VkToUSTable>(std::move(*table));
        return loadedTable;
    }
    static const auto empty = std::make_shared<const VkToUSTable>();
    return empty;
}

std::optional<std::string> keyEventToUSCharacter(const plat::KeyEvent& event) {
    return keyEventToUSCharacter(event, *vkToUSTable());
}

std::optional<std::string> keyEventToUSCharacter(const plat::KeyEvent& event, const VkToUSTable& table) {
    const auto it = table.find(std::to_string(event.keyCode));
    if (it == table.end() || it->second.empty()) return event.characters;
    const auto chars = userCharacters(it->second);
    const std::string& first = chars.front();
    const std::string& last = chars.back();
    const bool shift = event.modifierFlags & plat::ModifierFlag::shift;
    const bool caps = event.modifierFlags & plat::ModifierFlag::capsLock;
    if (shift && caps) return asciiCase(last, false);
    if (caps) return asciiCase(first, true);
    if (shift) return last;
    return first;
}

} // namespace taviro
