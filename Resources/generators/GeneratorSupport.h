#pragma once
// Helpers shared by the programs that build the bundle resources: atomic file
// output, property lists, an SQLite file built under a temporary name, UTF-8
// walking and pinyin syllable parsing.

#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Foundation/Utf8.h"
#include "Platform/Text/TextFileReader.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace taviro::resgen {

// Writes bytes to a temporary file beside `path`, flushes it and renames it
// over `path`, creating the folder first. False (and no file left behind) on
// any failure.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Reads a whole file; std::nullopt when it cannot be read.
using plat::readWholeFile;

// Splits at every occurrence of a separator; empty pieces stay.
using plat::splitFields;

// Calls `fn` for every line of the text (terminator dropped, CR trimmed).
template <typename Fn> void forEachLine(std::string_view text, Fn&& fn)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        fn(line);
        pos = end + 1;
    }
}

// UTF-8: decodes the code points of `text` (std::nullopt for invalid input)
// and encodes one code point.
using plat::decodeUtf8;
using plat::encodeUtf8;
// Splits into the UTF-8 text of each code point (empty vector on bad input).
std::vector<std::string> utf8Characters(std::string_view text);
// True for a CJK unified or compatibility ideograph (and U+3007).
bool isHanCodePoint(char32_t cp);

// Pinyin: lower-cases, strips tone marks and digits, writes u-umlaut as "v"
// and spells nue/lue as the syllable tables do. "" for anything that does not
// become a syllable of the pinyin model.
std::string normalizeSyllable(std::string_view raw);
// Splits a space- or apostrophe-separated pinyin text into syllables of the
// model; std::nullopt when one piece is not a syllable.
std::optional<std::vector<std::string>> parsePinyin(std::string_view text);

// The Mandarin readings of Unihan_Readings.txt: for every character the
// syllables that kMandarin, kHanyuPinyin, kHanyuPinlu, kXHC1983 and kTGHZ2013
// give it, and the standard simplified set (the 8105 characters of kTGHZ2013)
// with the readings that field gives.
struct UnihanReadings {
    std::map<char32_t, std::set<std::string>> all;
    std::map<char32_t, std::set<std::string>> standard;

    bool isStandard(char32_t cp) const { return standard.count(cp) != 0; }
    // True when every character of the UTF-8 text is standard.
    bool isStandardText(std::string_view text) const;
    // True when Unihan gives the character this reading, or no reading of the
    // pinyin model at all (嗯 is only "ng" there).
    bool allowsReading(char32_t cp, const std::string& syllable) const;
};
UnihanReadings readUnihanReadings(std::string_view text);
// The size of the standard simplified set; a smaller one means a broken source.
constexpr std::size_t kStandardSetSize = 8105;

// Property-list dictionaries (strings: plat::stringMapToPlist). Keys come out
// sorted, so the XML written from them is byte-for-byte reproducible; reals
// keep nine significant digits.
plat::PlistValue plistArrayDictionary(const std::map<std::string, std::vector<std::string>>& dict);
plat::PlistValue plistRealDictionary(const std::map<std::string, double>& dict);
// Writes the XML form atomically, creating the folder first.
bool writePlist(const std::filesystem::path& path, const plat::PlistValue& value);

// An SQLite file built at a temporary path and renamed into place by
// commit(); dropped without commit() it removes the temporary file.
class SqliteBuilder {
public:
    explicit SqliteBuilder(std::filesystem::path finalPath);
    ~SqliteBuilder();
    SqliteBuilder(const SqliteBuilder&) = delete;
    SqliteBuilder& operator=(const SqliteBuilder&) = delete;

    bool ok() const { return db_ != nullptr; }
    sqlite3* handle() const { return db_; }
    // Runs one or more statements; logs and returns false on failure.
    bool exec(std::string_view sql);
    // Closes the file and renames it over the final path.
    bool commit();

private:
    std::filesystem::path finalPath_;
    std::filesystem::path tempPath_;
    sqlite3* db_ = nullptr;
};

// A prepared statement with bind helpers; step() resets it for reuse.
class Statement {
public:
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    void bind(int index, std::string_view text);
    void bind(int index, std::int64_t value);
    // Runs the statement once, then clears and resets it. False on an error.
    bool step();

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// One entry of the intermediate word list: a word, its syllables and its
// larger-is-better weight.
struct LexiconEntry {
    std::string word;
    std::vector<std::string> syllables;
    std::int64_t weight = 0;
};

// The word list file: "word<TAB>syllables joined by blanks<TAB>weight".
bool writeLexicon(const std::filesystem::path& path, const std::vector<LexiconEntry>& entries);
std::optional<std::vector<LexiconEntry>> readLexicon(const std::filesystem::path& path);

// Prints "<program>: <message>" on stderr and returns 1, for main().
int fail(std::string_view program, std::string_view message);

} // namespace taviro::resgen
