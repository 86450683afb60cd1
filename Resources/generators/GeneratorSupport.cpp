#include "Resources/generators/GeneratorSupport.h"

#include "InputMethod/Core/PyString.h"

#include <sqlite3.h>

#include <charconv>
#include <cstdlib>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace taviro::resgen {

namespace fs = std::filesystem;

namespace {

fs::path temporaryPathFor(const fs::path& path)
{
    return path.parent_path() / ("." + path.filename().string() + ".tmp" + std::to_string(::getpid()));
}

void createFolderOf(const fs::path& path)
{
    std::error_code ec;
    if (!path.parent_path().empty()) fs::create_directories(path.parent_path(), ec);
}

} // namespace

bool writeFileAtomically(const fs::path& path, std::string_view bytes)
{
    createFolderOf(path);
    return plat::writeFileAtomically(path, bytes);
}

std::vector<std::string> utf8Characters(std::string_view text)
{
    std::vector<std::string> out;
    auto cps = decodeUtf8(text);
    if (!cps) return out;
    for (char32_t cp : *cps) out.push_back(encodeUtf8(cp));
    return out;
}

bool isHanCodePoint(char32_t cp)
{
    return cp == 0x3007 || (cp >= 0x3400 && cp <= 0x4DBF) || (cp >= 0x4E00 && cp <= 0x9FFF) ||
           (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0x20000 && cp <= 0x3134F);
}

std::string normalizeSyllable(std::string_view raw)
{
    auto cps = decodeUtf8(raw);
    if (!cps) return {};
    std::string out;
    for (char32_t cp : *cps) {
        switch (cp) {
        case U'ā': case U'á': case U'ǎ': case U'à': out += 'a'; break;
        case U'ē': case U'é': case U'ě': case U'è': case U'ê': out += 'e'; break;
        case U'ī': case U'í': case U'ǐ': case U'ì': out += 'i'; break;
        case U'ō': case U'ó': case U'ǒ': case U'ò': out += 'o'; break;
        case U'ū': case U'ú': case U'ǔ': case U'ù': out += 'u'; break;
        case U'ü': case U'ǖ': case U'ǘ': case U'ǚ': case U'ǜ': out += 'v'; break;
        default:
            if (cp >= '1' && cp <= '5') break; // tone number
            if (cp >= 'A' && cp <= 'Z') out += static_cast<char>(cp - 'A' + 'a');
            else if (cp >= 'a' && cp <= 'z') out += static_cast<char>(cp);
            else return {};
        }
    }
    // The tables spell nüe and lüe with "ue".
    if (out == "nve") out = "nue";
    else if (out == "lve") out = "lue";
    if (!PyString::syllableCodeForText(out) || PyString::isBareInitialCode(*PyString::syllableCodeForText(out)))
        return {};
    return out;
}

bool UnihanReadings::isStandardText(std::string_view text) const
{
    auto cps = decodeUtf8(text);
    if (!cps) return false;
    for (char32_t cp : *cps)
        if (!isStandard(cp)) return false;
    return true;
}

bool UnihanReadings::allowsReading(char32_t cp, const std::string& syllable) const
{
    auto it = all.find(cp);
    return it == all.end() || it->second.empty() || it->second.count(syllable) != 0;
}

UnihanReadings readUnihanReadings(std::string_view text)
{
    UnihanReadings out;
    forEachLine(text, [&](std::string_view line) {
        if (line.size() < 3 || line.substr(0, 2) != "U+") return;
        auto f = splitFields(line, '\t');
        if (f.size() != 3) return;
        const bool standard = f[1] == "kTGHZ2013";
        if (!standard && f[1] != "kMandarin" && f[1] != "kHanyuPinyin" && f[1] != "kHanyuPinlu" &&
            f[1] != "kXHC1983")
            return;
        const char32_t cp = static_cast<char32_t>(std::strtoul(std::string(f[0].substr(2)).c_str(), nullptr, 16));
        auto& all = out.all[cp];
        std::set<std::string>* mine = standard ? &out.standard[cp] : nullptr;
        // Tokens: "reading", "location:reading,reading" or "reading(count)".
        for (auto token : splitFields(f[2], ' ')) {
            if (auto paren = token.find('('); paren != std::string_view::npos) token = token.substr(0, paren);
            if (auto colon = token.rfind(':'); colon != std::string_view::npos) token = token.substr(colon + 1);
            for (auto piece : splitFields(token, ',')) {
                std::string s = normalizeSyllable(piece);
                if (s.empty()) continue;
                all.insert(s);
                if (mine) mine->insert(s);
            }
        }
    });
    return out;
}

std::optional<std::vector<std::string>> parsePinyin(std::string_view text)
{
    std::vector<std::string> syllables;
    std::string piece;
    auto flush = [&]() -> bool {
        if (piece.empty()) return true;
        std::string s = normalizeSyllable(piece);
        piece.clear();
        if (s.empty()) return false;
        syllables.push_back(std::move(s));
        return true;
    };
    for (char c : text) {
        if (c == ' ' || c == '\'') {
            if (!flush()) return std::nullopt;
        } else {
            piece += c;
        }
    }
    if (!flush() || syllables.empty()) return std::nullopt;
    return syllables;
}

plat::PlistValue plistArrayDictionary(const std::map<std::string, std::vector<std::string>>& dict)
{
    plat::PlistValue out = plat::PlistValue::dictionary();
    for (const auto& [key, values] : dict) {
        plat::PlistValue& list = out[key] = plat::PlistValue::array();
        for (const auto& v : values) list.append(v);
    }
    return out;
}

plat::PlistValue plistRealDictionary(const std::map<std::string, double>& dict)
{
    plat::PlistValue out = plat::PlistValue::dictionary();
    for (const auto& [key, value] : dict) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.9g", value);
        out[key] = std::strtod(buf, nullptr);
    }
    return out;
}

bool writePlist(const fs::path& path, const plat::PlistValue& value)
{
    createFolderOf(path);
    return plat::writePlistFile(path, value);
}

SqliteBuilder::SqliteBuilder(fs::path finalPath)
    : finalPath_(std::move(finalPath)), tempPath_(temporaryPathFor(finalPath_))
{
    createFolderOf(finalPath_);
    std::error_code ec;
    fs::remove(tempPath_, ec);
    if (sqlite3_open_v2(tempPath_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        std::cerr << "cannot create " << tempPath_ << ": " << sqlite3_errmsg(db_) << "\n";
        sqlite3_close(db_);
        db_ = nullptr;
        return;
    }
    // Built in one go by one writer: no journal needed until the rename.
    exec("PRAGMA page_size = 4096; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;");
}

SqliteBuilder::~SqliteBuilder()
{
    if (db_) sqlite3_close(db_);
    std::error_code ec;
    fs::remove(tempPath_, ec);
}

bool SqliteBuilder::exec(std::string_view sql)
{
    if (!db_) return false;
    char* err = nullptr;
    std::string text(sql);
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::cerr << "SQL failed: " << (err ? err : "?") << " in: " << text.substr(0, 200) << "\n";
        sqlite3_free(err);
        return false;
    }
    return true;
}

bool SqliteBuilder::commit()
{
    if (!db_) return false;
    if (sqlite3_close(db_) != SQLITE_OK) return false;
    db_ = nullptr;
    // Flush the finished file before it takes the final name.
    int fd = ::open(tempPath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced) return false;
    std::error_code ec;
    fs::rename(tempPath_, finalPath_, ec);
    return !ec;
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db)
{
    if (!db_ || sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
        std::cerr << "cannot prepare: " << (db_ ? sqlite3_errmsg(db_) : "no database") << " in: " << sql << "\n";
        stmt_ = nullptr;
    }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

void Statement::bind(int index, std::string_view text)
{
    if (stmt_) sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Statement::bind(int index, std::int64_t value)
{
    if (stmt_) sqlite3_bind_int64(stmt_, index, value);
}

bool Statement::step()
{
    if (!stmt_) return false;
    const int rc = sqlite3_step(stmt_);
    sqlite3_clear_bindings(stmt_);
    sqlite3_reset(stmt_);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::cerr << "SQL step failed: " << sqlite3_errmsg(db_) << "\n";
        return false;
    }
    return true;
}

bool writeLexicon(const fs::path& path, const std::vector<LexiconEntry>& entries)
{
    std::string out;
    out.reserve(entries.size() * 32);
    for (const auto& e : entries) {
        out += e.word;
        out += '\t';
        for (std::size_t i = 0; i < e.syllables.size(); ++i) {
            if (i) out += ' ';
            out += e.syllables[i];
        }
        out += '\t';
        out += std::to_string(e.weight);
        out += '\n';
    }
    return writeFileAtomically(path, out);
}

std::optional<std::vector<LexiconEntry>> readLexicon(const fs::path& path)
{
    auto text = readWholeFile(path);
    if (!text) return std::nullopt;
    std::vector<LexiconEntry> entries;
    bool bad = false;
    forEachLine(*text, [&](std::string_view line) {
        if (line.empty() || bad) return;
        auto f = splitFields(line, '\t');
        if (f.size() != 3) {
            bad = true;
            return;
        }
        LexiconEntry e;
        e.word = std::string(f[0]);
        for (auto s : splitFields(f[1], ' ')) e.syllables.emplace_back(s);
        auto [p, ec] = std::from_chars(f[2].data(), f[2].data() + f[2].size(), e.weight);
        if (ec != std::errc{} || p != f[2].data() + f[2].size()) {
            bad = true;
            return;
        }
        entries.push_back(std::move(e));
    });
    if (bad) return std::nullopt;
    return entries;
}

int fail(std::string_view program, std::string_view message)
{
    std::cerr << program << ": " << message << "\n";
    return 1;
}

} // namespace taviro::resgen
