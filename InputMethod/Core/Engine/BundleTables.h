#pragma once
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace taviro {

// The read-only tables of the bundle, each read once per file and shared.
// A missing file, or one that is not a dictionary of the expected types,
// gives an empty table (entries of the wrong type are left out).
class BundleTables {
public:
    using Py2hz = std::unordered_map<std::string, std::string>;           // syllable -> characters
    using Frequencies = std::unordered_map<std::string, double>;           // syllable -> frequency

    // Pinyin key -> emoji. The file is large, so it is read on a worker from
    // the first request on; a lookup waits for that read only while it is
    // still running.
    class Emoji {
    public:
        using Map = std::unordered_map<std::string, std::vector<std::string>>;

        Emoji();  // empty
        explicit Emoji(Map map);
        explicit Emoji(std::shared_future<std::shared_ptr<const Map>> reading);

        Map::const_iterator find(const std::string& key) const { return map().find(key); }
        Map::const_iterator begin() const { return map().begin(); }
        Map::const_iterator end() const { return map().end(); }
        std::size_t size() const { return map().size(); }
        bool empty() const { return map().empty(); }
        // The whole table; waits for the read.
        const Map& map() const;
        // True once the read has finished (at once for a table built in memory).
        bool isLoaded() const;

    private:
        std::shared_future<std::shared_ptr<const Map>> table_;
    };

    static std::shared_ptr<const Py2hz> py2hz(const std::filesystem::path& resourceDir);
    static std::shared_ptr<const Emoji> emoji(const std::filesystem::path& resourceDir);
    // Null when "pyfreq.plist" is missing or unreadable.
    static std::shared_ptr<const Frequencies> pinyinFrequencies(const std::filesystem::path& resourceDir);
};

} // namespace taviro
