#pragma once
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Replaces the file at `path` in one step: the bytes go to a temporary file in
// the same folder, are flushed to disk, and the temporary is renamed over the
// target, which keeps its mode (a link in its place is replaced, and its
// target's mode is not taken). On failure the target is untouched, the temporary is removed, and
// `error` (when given) says why. The folder must exist.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* error = nullptr);
// The same, but the file gets the mode of a new file (0666 & ~umask), never
// the mode of the file it replaces: for files that only the programs write.
bool writeNewFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                            std::string* error = nullptr);

// A free name beside `path` for a damaged file moved aside:
// "<path>.<tag>-YYYYmmdd-HHMMSS" (local time of `when`), then "-2", "-3"... while
// that name is taken.
std::filesystem::path asideName(const std::filesystem::path& path, std::string_view tag,
                                std::chrono::system_clock::time_point when);

// The whole content of a regular file; std::nullopt when it cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

// Opens the folder `root` (which may itself be reached through links, as the
// programs' own folders may) and then each part of `relative` beneath it
// without following a link: a part that is a link or not a folder gives -1
// with errno set (ELOOP or ENOTDIR). `relative` must not hold "..". The
// descriptor is O_DIRECTORY | O_CLOEXEC; the caller closes it.
int openFolderBeneath(const std::filesystem::path& root, const std::filesystem::path& relative = {});

// Makes the file at `path` its owner's alone: a regular file of this user
// loses the group's and others' permissions, and with `create` a missing one
// is made empty with mode 0600. A link or anything but a regular file is left
// as it is. False when the file is not such a file or cannot be changed.
bool makePrivateFile(const std::filesystem::path& path, bool create = true);

// Flushes the file at `path` to disk; false (errno set) when it cannot be opened
// or flushed.
bool fsyncFile(const std::filesystem::path& path);

} // namespace plat
