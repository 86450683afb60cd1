#include "InputMethod/TavCandidates/CandidateCell.h"

#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/NotificationNames.h"
#include "InputMethod/TavCandidates/CandidateController.h"
#include "InputMethod/TextUnits.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"

#include <cmath>
#include <map>
#include <mutex>
#include <optional>

namespace taviro {
namespace {

// Halves go away from zero.
double rounded(double v) { return std::round(v); }

struct VoiceOverCache {
    std::mutex mutex;
    std::optional<std::map<std::string, std::string>> library;
    long long version = 0;
};

VoiceOverCache& voiceOverCache() {
    static VoiceOverCache cache;
    return cache;
}

std::optional<std::map<std::string, std::string>> loadLibrary(long long version) {
    const char* name = version == 0 ? "VoiceOverLib 2" : version == 1 ? "VoiceOverLib" : nullptr;
    if (!name) return std::nullopt;
    const auto path = plat::Paths::resourcePath(plat::Bundle::TaviroMac2, name, "plist");
    if (!path) return std::nullopt;
    const auto value = plat::readPlistFile(*path);
    if (!value || value->type() != plat::PlistValue::Type::Dictionary) return std::nullopt;
    std::map<std::string, std::string> library;
    for (const auto& [key, entry] : *value->asDictionary())
        if (const auto* text = entry.stringPtr()) library.emplace(key, *text);
    return library;
}

} // namespace

CandidateCell::CandidateCell(CandidateController& window, int number) : number(number), window_(window) {}

std::string CandidateCell::displayText(const std::string& text) {
    const std::string_view sep = kHintSeparator;
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at = text.find(sep); at != std::string::npos; at = text.find(sep, from)) {
        out.append(text, from, at - from);
        out += ' ';
        from = at + sep.size();
    }
    out.append(text, from);
    return out;
}

double CandidateCell::setContent(const std::string& text, const Font& font) {
    const auto& env = window_.environment();
    const auto settings = env.config->settings();
    candidateContent = text;
    numberField.text = std::to_string(number + 1);
    Font numberFont{"", font.pointSize / 1.5, true};
    if (!settings->candidateFontName.empty() && !font.family.empty() && env.measurer->hasFont(font.family))
        numberFont = Font{font.family, font.pointSize / 1.5, false};
    numberField.font = numberFont;
    contentField.font = font;
    contentField.text = displayText(text);
    contentField.frame.size = env.measurer->sizeToFit(contentField.text, contentField.font);
    numberField.frame.size = env.measurer->sizeToFit(numberField.text, numberField.font);
    return contentField.frame.size.width + numberField.frame.size.width + 10.0;
}

void CandidateCell::setFrameSize(int width) {
    const Size old = contentField.frame.size;
    contentField.frame.size = {static_cast<double>(width), std::trunc(old.height)};
    frame.size = {old.width + 15.0, old.height + 2.0};
}

void CandidateCell::layout() {
    const double h = frame.size.height;
    numberField.frame.origin = {2.0, rounded((h - numberField.frame.size.height) * 0.5)};
    contentField.frame.origin = {rounded(numberField.frame.maxX()) + 1.0,
                                 rounded((h - contentField.frame.size.height) * 0.5)};
}

void CandidateCell::applyColors() {
    const auto& env = window_.environment();
    const auto settings = env.config->settings();
    const bool dark = env.appearance->isDark();
    if (settings->selectNoBG && isSelected) {
        contentField.color = CandidateColors::noBackgroundSelection();
        numberField.color = Color::white();
    } else if (isSelected) {
        contentField.color = Color::white();
        numberField.color = Color::white();
    } else {
        contentField.color = CandidateColors::fromRgbValue(dark ? settings->candidateFontColorDark
                                                                : settings->candidateFontColorLight);
        numberField.color = dark ? CandidateColors::lightGray() : CandidateColors::gray();
    }
}

void CandidateCell::didClickCell() {
    window_.environment().notifications->post(DidClickCandidate, this);
}

bool CandidateCell::accessibilityPerformPress() {
    didClickCell();
    return true;
}

Rect CandidateCell::accessibilityFrame() const {
    if (!inWindow_) return frame;
    const Rect w = window_.frame();
    return Rect{{w.origin.x + frame.origin.x, w.origin.y + frame.origin.y}, frame.size};
}

std::string CandidateCell::voiceOverDescription() const {
    const auto settings = window_.environment().config->settings();
    auto& cache = voiceOverCache();
    std::lock_guard lock(cache.mutex);
    if (!cache.library || cache.version != settings->voiceOverLibVersion) {
        cache.version = settings->voiceOverLibVersion;
        cache.library = loadLibrary(cache.version);
    }

    // The first piece between spaces.
    const std::string shown = displayText(candidateContent);
    const auto start = shown.find_first_not_of(' ');
    const std::string word =
        start == std::string::npos ? std::string() : shown.substr(start, shown.find(' ', start) - start);
    // Nothing but spaces: there is no word to explain.
    if (word.empty()) return candidateContent;

    const auto characters = userCharacters(word);
    const std::string prefix = characters.size() >= 3 ? word + "，" : std::string();
    std::string explanations;
    if (cache.library) {
        for (const auto& c : characters) {
            const auto it = cache.library->find(c);
            if (it != cache.library->end()) explanations += it->second + "，";
        }
    }
    std::string result = settings->voiceOverWordOnly ? explanations : prefix + explanations;
    return result.empty() ? word : result;
}

void CandidateCell::resetVoiceOverCache() {
    auto& cache = voiceOverCache();
    std::lock_guard lock(cache.mutex);
    cache.library.reset();
    cache.version = 0;
}

} // namespace taviro
