#include "InputMethod/App/VersionCheck.h"

#include "Platform/Foundation/Plist.h"

#include <sys/stat.h>

namespace taviro {

VersionCheck::VersionCheck(std::string runningVersion, std::filesystem::path installedInfoPlist)
    : running_(std::move(runningVersion)), installed_(std::move(installedInfoPlist)) {}

std::optional<std::string> VersionCheck::installedVersion() const {
    struct stat st{};
    if (::stat(installed_.c_str(), &st) != 0) {
        seen_.reset();
        version_.reset();
        return std::nullopt;
    }
    const Identity now{st.st_dev, st.st_ino, st.st_size,
                       st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
                       st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
    if (seen_ && *seen_ == now) return version_;
    ++reads_;
    version_.reset();
    seen_ = now;
    if (const auto info = plat::readPlistFile(installed_, plat::PlistValue::Type::Dictionary))
        if (const auto* v = info->find("CFBundleVersion")) version_ = v->getString();
    return version_;
}

bool VersionCheck::installedVersionDiffers() const {
    const auto installed = installedVersion();
    return installed && *installed != running_;
}

} // namespace taviro
