#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace taviro {

// Compares the running version with the installed bundle's "CFBundleVersion"
// (the Info.plist under the install prefix). A check looks at the file's
// identity (device, inode, size, change times) and reads it again only when
// that changed, so the idle timer costs one stat, not a parse.
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

    // How many times the file was read (for tests).
    int reads() const { return reads_; }

private:
    struct Identity {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        long long mtimeNs = 0, ctimeNs = 0;
        bool operator==(const Identity&) const = default;
    };

    std::string running_;
    std::filesystem::path installed_;
    mutable std::optional<Identity> seen_;
    mutable std::optional<std::string> version_;
    mutable int reads_ = 0;
};

} // namespace taviro
