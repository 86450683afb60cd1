#include "InputMethod/Core/Engine/LastCommittedText.h"

#include <mutex>

namespace taviro {

namespace {
std::mutex& textMutex() {
    static std::mutex m;
    return m;
}
std::string& storedText() {
    static std::string text;
    return text;
}
} // namespace

std::string lastCommittedText() {
    std::lock_guard lk(textMutex());
    return storedText();
}

void setLastCommittedText(std::string text) {
    std::lock_guard lk(textMutex());
    storedText() = std::move(text);
}

} // namespace taviro
