#include "InputMethod/KeyLogger.h"

#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/TextUnits.h"

namespace taviro {

KeyLogger& KeyLogger::shared() {
    static KeyLogger* logger = new KeyLogger(
        [](Clock::time_point date, std::int64_t count, bool isChar) {
            return Database::shared().keyLog(date, count, isChar);
        },
        [] { return ConfigManager::shared().settings()->keyLogger; });
    return *logger;
}

KeyLogger::KeyLogger(Writer writer, std::function<bool()> enabled, std::function<Clock::time_point()> now)
    : writer_(std::move(writer)), enabled_(std::move(enabled)), now_(std::move(now)), currentDate_(now_()) {}

void KeyLogger::countKey() {
    if (enabled_()) ++keyCount_;
}

void KeyLogger::countCharacters(std::string_view committedText) {
    if (enabled_()) charCount_ += static_cast<std::int64_t>(userCharacterCount(committedText));
}

void KeyLogger::flush() {
    if (!enabled_()) return;
    const bool charsWritten = writer_(currentDate_, charCount_, true);
    if (charsWritten) charCount_ = 0;
    const bool keysWritten = writer_(currentDate_, keyCount_, false);
    if (keysWritten) keyCount_ = 0;
    if (charsWritten && keysWritten) currentDate_ = now_();
}

} // namespace taviro
