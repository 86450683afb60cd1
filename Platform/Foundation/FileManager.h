#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// File operations on local paths. Every call reports failure through its
// result and never throws.
class FileManager {
public:
    // True when something exists at `path` (symbolic links are followed).
    static bool fileExists(const std::filesystem::path& path);
    static bool isDirectory(const std::filesystem::path& path);
    static bool isRegularFile(const std::filesystem::path& path);

    // Removes a file, or a folder with everything in it. False when nothing
    // was there or it could not be removed.
    static bool removeItem(const std::filesystem::path& path);

    // Copies a file or a folder. The copy is made beside the target under a
    // temporary name and renamed into place, so the target never holds half
    // a copy. An existing target is replaced only with `overwrite`.
    static bool copyItem(const std::filesystem::path& from, const std::filesystem::path& to,
                         bool overwrite = false);

    // Renames, or copies and removes across file systems. An existing target
    // is replaced only with `overwrite`.
    static bool moveItem(const std::filesystem::path& from, const std::filesystem::path& to,
                         bool overwrite = false);

    // With `intermediates`, creates missing parents too and succeeds when the
    // folder already exists; without, the parent must exist and the folder
    // must not.
    static bool createDirectory(const std::filesystem::path& path, bool intermediates);

    // Names of the entries in a folder, sorted; std::nullopt when it is not
    // a readable folder.
    static std::optional<std::vector<std::string>> contentsOfDirectory(
        const std::filesystem::path& path);

    // Size in bytes of a regular file.
    static std::optional<std::uintmax_t> fileSize(const std::filesystem::path& path);
};

} // namespace plat
