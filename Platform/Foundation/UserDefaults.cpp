#include "Platform/Foundation/UserDefaults.h"

#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"

#include <system_error>

namespace plat {

UserDefaults& UserDefaults::shared() {
    static UserDefaults* defaults = new UserDefaults();
    return *defaults;
}

UserDefaults::UserDefaults(std::optional<std::filesystem::path> file) : file_(std::move(file)) {}

std::filesystem::path UserDefaults::filePath() const {
    return file_ ? *file_ : Paths::perUserFile("UserDefaults.plist");
}

bool UserDefaults::boolForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto root = readPlistFile(filePath(), PlistValue::Type::Dictionary);
    if (!root) return false;
    const PlistValue* v = root->find(key);
    return v && v->asBool(false);
}

bool UserDefaults::setBool(std::string_view key, bool value) {
    std::lock_guard lock(mutex_);
    const auto path = filePath();
    // Keep the other keys; an unreadable file starts over.
    PlistValue root = readPlistFile(path, PlistValue::Type::Dictionary).value_or(PlistValue::dictionary());
    root[std::string(key)] = value;
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    return writePlistFile(path, root);
}

} // namespace plat
