#pragma once
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Platform/Foundation/NotificationCenter.h"

namespace taviro {

struct Settings;

// The active double-pinyin scheme and the conversions of key buffers into
// syllables. The scheme is read from "spScheme.plist" in the per-user folder
// at creation and again on every "NeedReloadPlan". Its three tables are
// published together as one immutable value, so a conversion running during a
// reload sees either the old scheme or the new one, never a mix.
class Double2Pinyin {
public:
    // Key (sequence) to the codes it may stand for, in scheme order.
    using Table = std::unordered_map<std::string, std::vector<int>>;
    struct Scheme {
        Table special; // key pair (or lone key) -> whole-syllable codes
        Table sheng;   // first key -> initial codes
        Table yun;     // second key -> final indices
        // The keys of the three tables that are no letter, each once.
        std::string codeKeys;
    };

    // Reads the per-user "spScheme.plist".
    Double2Pinyin();
    // Reads the scheme from `schemeFile` instead.
    explicit Double2Pinyin(std::filesystem::path schemeFile);
    Double2Pinyin(const Double2Pinyin&) = delete;
    Double2Pinyin& operator=(const Double2Pinyin&) = delete;

    // Rereads the scheme file. No file, no dictionary or a "Version" other
    // than the string "2.0": nothing changes. A section ("Special", "Sheng",
    // "Yun") that is missing or not all strings keeps its previous table.
    void loadScheme();
    // The "NeedReloadPlan" handler.
    void loadPYScheme() { loadScheme(); }

    // One section of a scheme file: "van", "ve", "vn" read as "uan", "ue",
    // "un"; pieces split at "|"; unknown pieces dropped; nothing known -> [0].
    static Table codesFromSchemeDictionary(const std::map<std::string, std::string>& section);

    // The current scheme; it never changes once published.
    std::shared_ptr<const Scheme> scheme() const;

    // One list of codes per syllable (two keys, or a lone last key). Empty
    // with full pinyin on. After a syllable without codes, all later are empty.
    std::vector<std::vector<int>> convertDoublePinyin(std::string_view keys) const;
    std::vector<std::vector<int>> convertDoublePinyin(std::string_view keys,
                                                      const Settings& settings) const;

    // Codes of one key pair: every initial of the first key with every final
    // of the second, fuzzy alternatives included, kept where they form a
    // syllable. A key the scheme does not list stands for itself only when it
    // spells a bare initial (first key) or a zero-initial syllable (second key).
    std::vector<int> codesForKeyPair(std::string_view first, std::string_view second) const;
    std::vector<int> codesForKeyPair(std::string_view first, std::string_view second,
                                     const Settings& settings) const;

    // One list per key, each key read alone through the initial table.
    std::vector<std::vector<int>> convertDoublePinyinSyllables(std::string_view keys) const;

    // The first spelling of every syllable, "" for a syllable without codes.
    std::vector<std::string> doublePinyinSpellings(std::string_view keys) const;
    std::vector<std::string> doublePinyinSpellings(std::string_view keys,
                                                   const Settings& settings) const;

    // The spellings joined by "'"; the keys themselves when two neighbouring
    // spellings are both empty.
    std::string joinedPinyinRange(std::string_view keys) const;
    std::string joinedPinyinRange(std::string_view keys, const Settings& settings) const;

private:
    std::filesystem::path schemeFile_;
    std::shared_ptr<const Scheme> scheme_; // guarded by schemeMutex_
    mutable std::mutex schemeMutex_;       // held only to fetch or swap scheme_
    std::mutex loadMutex_;                 // one load at a time
    plat::ObserverToken reloadObserver_; // last: removed before the rest goes
};

} // namespace taviro
