#pragma once
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// The temporaries that writers in both programs leave beside their targets while they
// work, each possibly followed by "-journal", "-wal" or "-shm":
//   AtomicWrite: ".<name>.tmp.<6 to 16 letters or digits>" (atomic writes, copies,
//                staged replacements);
//   Rebuild:     "<name>.new-<digits>-<digits>" (databases rebuilt beside their target).
enum class TemporaryKind { AtomicWrite, Rebuild };

struct TemporaryName {
    TemporaryKind kind;
    std::string target;     // the file it will replace
    std::string temporary;  // the temporary itself, without a companion suffix
};

// What `fileName` is a temporary of; std::nullopt for any other name.
std::optional<TemporaryName> parseTemporaryName(std::string_view fileName);

// Which temporaries removeStaleTemporaries may take.
struct StaleTemporaryFilter {
    // Only those at least this old (last change); a writer at work is younger.
    std::chrono::seconds minAge{0};
    // Only temporaries of this target file name; empty: of any.
    std::string target;
    // Only this kind; none: both.
    std::optional<TemporaryKind> kind;
};

// Removes from `folder` (not its subfolders) the temporaries that pass `filter` and that no
// process holds: a writer holds an flock on its temporary while it works, and a killed
// writer's lock is gone. Returns what was removed.
std::vector<std::filesystem::path> removeStaleTemporaries(const std::filesystem::path& folder,
                                                          const StaleTemporaryFilter& filter);

// Age past which a temporary left by a write is taken as abandoned at start-up.
inline constexpr std::chrono::minutes kAbandonedTemporaryAge{5};

} // namespace plat
