#include "Platform/SunPinyin/ModelHistory.h"

#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace fs = std::filesystem;

namespace {

constexpr const char* kMarker = "model";
constexpr const char* kHistory = "history";

std::string hex(std::uint64_t v)
{
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

// A name beside `wanted` that does not exist yet: `wanted`, else `wanted`.1, .2 ...
fs::path freeName(const fs::path& wanted)
{
    std::error_code ec;
    if (!fs::exists(wanted, ec))
        return wanted;
    for (int i = 1;; ++i) {
        fs::path p = wanted.string() + "." + std::to_string(i);
        if (!fs::exists(p, ec))
            return p;
    }
}

std::string trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

} // namespace

std::string sunpinyinModelIdentity(const fs::path& dataDir)
{
    std::error_code ec;
    const auto slmSize = fs::file_size(dataDir / "lm_sc.t3g", ec);
    if (ec)
        return {};
    std::ifstream dict(dataDir / "pydict_sc.bin", std::ios::binary);
    if (!dict)
        return {};
    // FNV-1a over the dictionary.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    std::uint64_t dictSize = 0;
    char buf[1 << 16];
    while (dict) {
        dict.read(buf, sizeof buf);
        const std::streamsize n = dict.gcount();
        for (std::streamsize i = 0; i < n; ++i) {
            hash ^= static_cast<unsigned char>(buf[i]);
            hash *= 0x100000001b3ull;
        }
        dictSize += static_cast<std::uint64_t>(n);
    }
    return std::to_string(slmSize) + "-" + std::to_string(dictSize) + "-" + hex(hash);
}

namespace {

// What identifies the files as they are on disk now: "" when one is missing.
std::string fileStamp(const fs::path& dataDir)
{
    std::string stamp = fs::absolute(dataDir).lexically_normal().string();
    for (const char* name : {"lm_sc.t3g", "pydict_sc.bin"}) {
        struct stat st {};
        if (::stat((dataDir / name).c_str(), &st) != 0)
            return {};
        // The change time, which no copy or archive tool can set back.
        stamp += "\n" + std::to_string(st.st_size) + " " + std::to_string(st.st_ctim.tv_sec) + "." +
                 std::to_string(st.st_ctim.tv_nsec) + " " + std::to_string(st.st_ino) + " " +
                 std::to_string(st.st_dev);
    }
    return stamp;
}

// A stamp is a path and two short lines; anything longer is not one and is not read.
constexpr off_t kMaxStampBytes = 64 * 1024;

std::optional<std::string> readStamp(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxStampBytes) {
        std::string bytes(static_cast<std::size_t>(st.st_size) + 1, '\0');
        const ssize_t n = ::read(fd, bytes.data(), bytes.size());
        // Grown past the size seen: not a stamp either.
        if (n >= 0 && n <= st.st_size) {
            bytes.resize(static_cast<std::size_t>(n));
            text = std::move(bytes);
        }
    }
    ::close(fd);
    return text;
}

} // namespace

std::string cachedSunpinyinModelIdentity(const fs::path& dataDir, const fs::path& userDir)
{
    const fs::path file = userDir / "model-stamp";
    const std::string stamp = fileStamp(dataDir);
    if (stamp.empty())
        return sunpinyinModelIdentity(dataDir);
    if (auto text = readStamp(file)) {
        // The stamp, then the identity on the last line.
        const auto cut = text->rfind('\n', text->size() >= 2 ? text->size() - 2 : 0);
        if (cut != std::string::npos && text->substr(0, cut) == stamp) {
            const std::string identity = trimmed(text->substr(cut + 1));
            if (!identity.empty())
                return identity;
        }
    }
    const std::string identity = sunpinyinModelIdentity(dataDir);
    // Only a stamp taken before and after the hash that agree is kept.
    if (!identity.empty() && fileStamp(dataDir) == stamp)
        writeFileAtomically(file, stamp + "\n" + identity + "\n");
    return identity;
}

bool adoptSunpinyinHistory(const fs::path& userDir, const std::string& identity)
{
    const fs::path marker = userDir / kMarker;
    const fs::path history = userDir / kHistory;
    const std::string previous = trimmed(readWholeFile(marker).value_or(""));
    if (previous == identity)
        return true;
    std::error_code ec;
    if (fs::exists(history, ec)) {
        // A history without a note predates the notes: its model is unknown.
        const fs::path aside = freeName(userDir / (std::string(kHistory) + "-" + (previous.empty() ? "unknown" : previous)));
        fs::rename(history, aside, ec);
        if (ec) {
            log("SunPinyin history of another model could not be set aside: " + ec.message());
            return false;
        }
        log("SunPinyin history of another model set aside as " + aside.filename().string());
    }
    const fs::path own = userDir / (std::string(kHistory) + "-" + identity);
    if (fs::exists(own, ec)) {
        fs::rename(own, history, ec);
        if (ec)
            log("SunPinyin history of this model could not be restored: " + ec.message());
    }
    std::string error;
    if (!writeFileAtomically(marker, identity + "\n", &error))
        log("SunPinyin history note not written: " + error);
    return true;
}

} // namespace plat
