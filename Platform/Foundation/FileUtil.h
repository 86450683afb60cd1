#pragma once
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Replaces the file at `path` in one step: the bytes go to a temporary file in
// the same folder, are flushed to disk, and the temporary is renamed over the
// target. On failure the target is untouched, the temporary is removed, and
// `error` (when given) says why. The folder must exist.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
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

// Flushes the file at `path` to disk; false (errno set) when it cannot be opened
// or flushed.
bool fsyncFile(const std::filesystem::path& path);

} // namespace plat
