#pragma once
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// The temporaries that writers in both programs leave beside their targets while they
// work, each possibly followed by "-journal", "-wal" or "-shm". A temporary's name is
// ".<target>" + a mark + 6 to 16 letters or digits; the mark tells the kind:
//   AtomicWrite: "~taviro-tmp~" (atomic writes, copies, staged replacements);
//   Rebuild:     "~taviro-new~" (databases rebuilt beside their target).
enum class TemporaryKind { AtomicWrite, Rebuild };

struct TemporaryName {
    TemporaryKind kind;
    std::string target;     // the file it will replace
    std::string temporary;  // the temporary itself, without a companion suffix
};

// The name of a temporary of `target` (a file name) with `suffix`, which must be 6 to 16
// letters or digits ("XXXXXX" makes a mkstemp() template).
std::string temporaryFileName(std::string_view target, TemporaryKind kind, std::string_view suffix);

// A new random suffix for a temporary's name (16 letters or digits).
std::string temporarySuffix();
// Whether `suffix` has the form of a temporary's suffix: 6 to 16 letters or digits.
bool isTemporarySuffix(std::string_view suffix);

// A name beside `target` for a new temporary that nothing uses yet; empty when none was
// found.
std::filesystem::path temporaryPathFor(const std::filesystem::path& target, TemporaryKind kind);

// What `fileName` is a temporary of; std::nullopt for any other name.
std::optional<TemporaryName> parseTemporaryName(std::string_view fileName);

// The files the programs write in one folder. A temporary found there is taken as theirs
// only when its target is one of these.
struct WrittenFiles {
    std::vector<std::string> names;    // these names exactly
    std::vector<std::string> endings;  // any name with one of these endings (files named after tables)
    bool includes(std::string_view fileName) const;
};

struct ProgramFolder {
    std::filesystem::path path;
    WrittenFiles files;
};

// The folders that both programs write and clean at start, each with the files written
// there: the per-user folder, the user folder and its "AssistCodes", "BootButtons" and
// "KeyMaps".
std::vector<ProgramFolder> programFolders(const std::filesystem::path& perUserFolder,
                                          const std::filesystem::path& userFolder);

// Which temporaries removeStaleTemporaries may take.
struct StaleTemporaryFilter {
    // Only those at least this old (last change); a writer at work is younger.
    std::chrono::seconds minAge{0};
    // Only temporaries of these targets.
    WrittenFiles targets;
    // Only this kind; none: both.
    std::optional<TemporaryKind> kind;
};

// Removes from `folder` (not its subfolders) the temporaries that pass `filter` and that no
// process holds: a writer holds an flock on its temporary while it works, and a killed
// writer's lock is gone. Only regular files of this user that can be opened go; links,
// folders and files that cannot be opened stay. Returns what was removed.
std::vector<std::filesystem::path> removeStaleTemporaries(const std::filesystem::path& folder,
                                                          const StaleTemporaryFilter& filter);

// Age past which a temporary left by a write is taken as abandoned at start-up.
inline constexpr std::chrono::minutes kAbandonedTemporaryAge{5};

} // namespace plat
