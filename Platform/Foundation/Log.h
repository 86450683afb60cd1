#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// Writes one line to stderr (a newline is added); lines from different
// threads never interleave. Active LogCaptures see the line as well.
void log(std::string_view line);

// While alive, collects every logged line. With `alsoToStderr` false the
// lines are kept from stderr. Captures may nest; each sees every line.
class LogCapture {
public:
    explicit LogCapture(bool alsoToStderr = false);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    // True when some captured line contains `text`.
    bool contains(std::string_view text) const;
    void clear();

private:
    friend void log(std::string_view line);
    bool alsoToStderr_;
    std::vector<std::string> lines_; // guarded by the log mutex
};

} // namespace plat
