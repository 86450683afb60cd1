#pragma once
#include <filesystem>
#include <optional>
#include <string>

namespace taviro {

// Compares the running version with the installed bundle's "CFBundleVersion"
// (the Info.plist under the install prefix). Nothing is cached between checks.
class VersionCheck {
public:
    VersionCheck(std::string runningVersion, std::filesystem::path installedInfoPlist);

    // True when the installed version can be read and differs (exact string
    // comparison, no order). An unreadable file, a missing or non-string
    // version answers false: the next tick tries again.
    bool installedVersionDiffers() const;
    std::optional<std::string> installedVersion() const;
    const std::string& runningVersion() const { return running_; }
    const std::filesystem::path& installedInfoPlist() const { return installed_; }

private:
    std::string running_;
    std::filesystem::path installed_;
};

} // namespace taviro
