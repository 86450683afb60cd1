#include "InputMethod/App/VersionCheck.h"

#include "Platform/Foundation/Plist.h"

namespace taviro {

VersionCheck::VersionCheck(std::string runningVersion, std::filesystem::path installedInfoPlist)
    : running_(std::move(runningVersion)), installed_(std::move(installedInfoPlist)) {}

std::optional<std::string> VersionCheck::installedVersion() const {
    const auto info = plat::readPlistFile(installed_, plat::PlistValue::Type::Dictionary);
    if (!info) return std::nullopt;
    const auto* v = info->find("CFBundleVersion");
    if (!v) return std::nullopt;
    return v->getString();
}

bool VersionCheck::installedVersionDiffers() const {
    const auto installed = installedVersion();
    return installed && *installed != running_;
}

} // namespace taviro
