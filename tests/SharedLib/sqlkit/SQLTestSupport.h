#pragma once
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "SharedLib/sqlkit/SQLKitLog.h"
#include "support/TestHome.h"

namespace sqlkit::test {

// Collects the layer's log lines while it lives.
class LogCapture {
public:
    LogCapture() {
        previous_ = setLogSink([this](std::string_view line) {
            std::lock_guard lock(m_);
            lines_.emplace_back(line);
        });
    }
    ~LogCapture() { setLogSink(std::move(previous_)); }

    std::vector<std::string> lines() const {
        std::lock_guard lock(m_);
        return lines_;
    }
    // How many lines contain the text.
    int count(const std::string& text) const {
        std::lock_guard lock(m_);
        return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& l) {
            return l.find(text) != std::string::npos;
        }));
    }
    bool contains(const std::string& text) const { return count(text) > 0; }
    void clear() {
        std::lock_guard lock(m_);
        lines_.clear();
    }

private:
    mutable std::mutex m_;
    std::vector<std::string> lines_;
    SQLLogSink previous_;
};

// A path for a database file in a fresh folder of the test home.
inline std::string freshDatabasePath(const std::string& hint = "db") {
    return (taviro::test::freshDir(hint) / (hint + ".db")).string();
}

} // namespace sqlkit::test
