#include "Platform/Foundation/Log.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace plat {

namespace {

std::mutex& logMutex() {
    static std::mutex* m = new std::mutex();
    return *m;
}

std::vector<LogCapture*>& captures() {
    static auto* v = new std::vector<LogCapture*>();
    return *v;
}

} // namespace

void log(std::string_view line) {
    std::lock_guard lock(logMutex());
    bool toStderr = captures().empty();
    for (LogCapture* c : captures()) {
        c->lines_.emplace_back(line);
        toStderr = toStderr || c->alsoToStderr_;
    }
    if (toStderr) {
        std::string out(line);
        out += '\n';
        std::fwrite(out.data(), 1, out.size(), stderr);
        std::fflush(stderr);
    }
}

LogCapture::LogCapture(bool alsoToStderr) : alsoToStderr_(alsoToStderr) {
    std::lock_guard lock(logMutex());
    captures().push_back(this);
}

LogCapture::~LogCapture() {
    std::lock_guard lock(logMutex());
    auto& v = captures();
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(logMutex());
    return lines_;
}

bool LogCapture::contains(std::string_view text) const {
    std::lock_guard lock(logMutex());
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

void LogCapture::clear() {
    std::lock_guard lock(logMutex());
    lines_.clear();
}

} // namespace plat
