#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Whose bundle resources to look in.
enum class Bundle { TaviroMac2, Kelvane };

// Every folder both programs use, built from the environment on each call.
class Paths {
public:
    // The home folder: $HOME, else the password database.
    static std::filesystem::path homeFolder();

    // Per-user folder: $XDG_DATA_HOME/TaviroMac, default ~/.local/share/TaviroMac.
    static std::filesystem::path perUserFolder();
    // `name` (also for userFile) is a fixed name, or one taken from data that
    // has passed isSafeRelativeName.
    static std::filesystem::path perUserFile(std::string_view name);
    // Creates the per-user folder (and its parents) when missing.
    static bool ensurePerUserFolder();

    // Documents: XDG_DOCUMENTS_DIR from $XDG_CONFIG_HOME/user-dirs.dirs
    // (default ~/.config), default ~/Documents.
    static std::filesystem::path documentsFolder();
    // User folder: <Documents>/塔维输入法.
    static std::filesystem::path userFolder();
    static std::filesystem::path userFile(std::string_view name);
    static bool ensureUserFolder();
    // Creates `folder` and its missing parents; true when it is a folder afterwards.
    static bool ensureFolder(const std::filesystem::path& folder);

    // Library folder: $XDG_DATA_HOME, default ~/.local/share.
    static std::filesystem::path libraryFolder();

    // Bundle resources: $TAVIRO_RESOURCES (or $KELVANE_RESOURCES), else
    // <dir of the executable>/../share/TaviroMac2 (or .../share/Kelvane).
    static std::filesystem::path resourceFolder(Bundle bundle);
    // The resource's path, std::nullopt when there is no such file.
    static std::optional<std::filesystem::path> resourcePath(Bundle bundle, std::string_view name);
    // By name and type: resourcePath(bundle, "py2hz", "plist").
    static std::optional<std::filesystem::path> resourcePath(Bundle bundle, std::string_view name,
                                                             std::string_view type);

    // True for a relative name whose components are neither empty, "." nor
    // "..": safe to join to one of the folders above when it comes from data.
    static bool isSafeRelativeName(std::string_view name);
};

} // namespace plat
