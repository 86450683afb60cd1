#include "Resources/generators/GeneratorSupport.h"

#include "InputMethod/Core/PyString.h"

#include <sqlite3.h>

#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace taviro::resgen {

namespace fs = std::filesystem;

namespace {

fs::path temporaryPathFor(const fs::path& path)
{
    return path.parent_path() / ("." + path.filename().string() + ".tmp" + std::to_string(::getpid()));
}

} // namespace

bool writeFileAtomically(const fs::path& path, std::string_view bytes)
{
    std::error_code ec;
    if (!path.parent_path().empty()) fs::create_directories(path.parent_path(), ec);
    const fs::path temp = temporaryPathFor(path);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool good = true;
    std::size_t done = 0;
    while (good && done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) good = false;
        else done += static_cast<std::size_t>(n);
    }
    if (good && ::fsync(fd) != 0) good = false;
    if (::close(fd) != 0) good = false;
    if (good) {
        fs::rename(temp, path, ec);
        good = !ec;
    }
    if (!good) fs::remove(temp, ec);
    return good;
}

std::optional<std::string> readWholeFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(out).str();
}

std::vector<std::string_view> split(std::string_view text, char sep)
{
    std::vector<std::string_view> pieces;
    std::size_t pos = 0;
    while (true) {
        std::size_t end = text.find(sep, pos);
        if (end == std::string_view::npos) {
            pieces.push_back(text.substr(pos));
            return pieces;
        }
        pieces.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
}

std::optional<std::vector<char32_t>> decodeUtf8(std::string_view text)
{
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        int len = b0 < 0x80 ? 1 : (b0 >> 5) == 0x6 ? 2 : (b0 >> 4) == 0xE ? 3 : (b0 >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > text.size()) return std::nullopt;
        char32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
        for (int k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b >> 6) != 0x2) return std::nullopt;
            cp = (cp << 6) | (b & 0x3F);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return std::nullopt;
        out.push_back(cp);
        i += static_cast<std::size_t>(len);
    }
    return out;
}

std::string encodeUtf8(char32_t cp)
{
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
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

std::string xmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string plistDocument(std::string_view rootElement)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                      "<plist version=\"1.0\">\n";
    out += rootElement;
    out += "</plist>\n";
    return out;
}

std::string plistString(std::string_view text)
{
    return "<string>" + xmlEscape(text) + "</string>";
}

std::string plistReal(double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.9g", value);
    return std::string("<real>") + buf + "</real>";
}

std::string plistStringDictionary(const std::map<std::string, std::string>& dict)
{
    std::string out = "<dict>\n";
    for (const auto& [key, value] : dict)
        out += "\t<key>" + xmlEscape(key) + "</key>\n\t" + plistString(value) + "\n";
    out += "</dict>\n";
    return out;
}

std::string plistArrayDictionary(const std::map<std::string, std::vector<std::string>>& dict)
{
    std::string out = "<dict>\n";
    for (const auto& [key, values] : dict) {
        out += "\t<key>" + xmlEscape(key) + "</key>\n\t<array>\n";
        for (const auto& v : values) out += "\t\t" + plistString(v) + "\n";
        out += "\t</array>\n";
    }
    out += "</dict>\n";
    return out;
}

std::string plistRealDictionary(const std::map<std::string, double>& dict)
{
    std::string out = "<dict>\n";
    for (const auto& [key, value] : dict)
        out += "\t<key>" + xmlEscape(key) + "</key>\n\t" + plistReal(value) + "\n";
    out += "</dict>\n";
    return out;
}

SqliteBuilder::SqliteBuilder(fs::path finalPath)
    : finalPath_(std::move(finalPath)), tempPath_(temporaryPathFor(finalPath_))
{
    std::error_code ec;
    if (!finalPath_.parent_path().empty()) fs::create_directories(finalPath_.parent_path(), ec);
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
        auto f = split(line, '\t');
        if (f.size() != 3) {
            bad = true;
            return;
        }
        LexiconEntry e;
        e.word = std::string(f[0]);
        for (auto s : split(f[1], ' ')) e.syllables.emplace_back(s);
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
