#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

namespace taviro {

// Counts handled key events and committed characters in memory and adds them
// to the day's rows of the key-statistics database on flush. Main thread.
class KeyLogger {
public:
    using Clock = std::chrono::system_clock;
    // Adds count to the day of `date` in "Char" (isChar) or "Key"; false
    // when nothing could be written (the databases are closed).
    using Writer = std::function<bool(Clock::time_point date, std::int64_t count, bool isChar)>;

    static KeyLogger& shared();

    // Writes through `writer`, reading "KeyLogger" through `enabled`.
    KeyLogger(Writer writer, std::function<bool()> enabled,
              std::function<Clock::time_point()> now = [] { return Clock::now(); });

    // Each counts only while statistics are on.
    void countKey();
    void countCharacters(std::string_view committedText);

    // Writes "Char" then "Key" for the day the period began. A count is
    // reset only once its own write went through, and a new period (date =
    // now) starts only when both did, so nothing is lost while the
    // preferences application holds the databases closed.
    void flush();

    Clock::time_point currentDate() const { return currentDate_; }
    std::int64_t charCount() const { return charCount_; }
    std::int64_t keyCount() const { return keyCount_; }

private:
    Writer writer_;
    std::function<bool()> enabled_;
    std::function<Clock::time_point()> now_;
    Clock::time_point currentDate_;
    std::int64_t charCount_ = 0;
    std::int64_t keyCount_ = 0;
};

} // namespace taviro
