#include "Platform/TouchBar/TouchBarHost.h"

#include "Platform/Foundation/Log.h"

#include <algorithm>
#include <atomic>

namespace plat {
namespace {

std::atomic<TouchBarHost*> installedHost{nullptr};

} // namespace

TouchBarHost& TouchBarHost::shared() {
    static NullTouchBarHost nullHost;
    TouchBarHost* host = installedHost.load();
    return host ? *host : nullHost;
}

void TouchBarHost::setShared(TouchBarHost* host) { installedHost.store(host); }

// --- NullTouchBarHost --------------------------------------------------------

void NullTouchBarHost::noteOnce() {
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) log(kMessage);
}

void NullTouchBarHost::setControlStripPresence(const std::string&, bool) { noteOnce(); }
void NullTouchBarHost::presentSystemModal(const TouchBar&, const std::string&) { noteOnce(); }
void NullTouchBarHost::minimizeSystemModal(const TouchBar&) { noteOnce(); }
void NullTouchBarHost::setWindowTouchBar(const std::string&, const TouchBar&) { noteOnce(); }
void NullTouchBarHost::setButtonTitle(const std::string&, const std::string&) { noteOnce(); }
void NullTouchBarHost::reloadScrubber(const std::string&, const std::vector<ScrubberItem>&) { noteOnce(); }
void NullTouchBarHost::setScrubberItemBackground(const std::string&, int, const TouchBarColor&) { noteOnce(); }

// --- RecordingTouchBarHost ---------------------------------------------------

void RecordingTouchBarHost::setControlStripPresence(const std::string& identifier, bool present) {
    calls_.push_back("controlStrip:" + identifier + ":" + (present ? "1" : "0"));
}

void RecordingTouchBarHost::presentSystemModal(const TouchBar& bar, const std::string& trayItemIdentifier) {
    calls_.push_back("present:" + bar.identifier + ":" + trayItemIdentifier);
    presented_ = bar;
    isPresented_ = true;
}

void RecordingTouchBarHost::minimizeSystemModal(const TouchBar& bar) {
    calls_.push_back("minimize:" + bar.identifier);
    isPresented_ = false;
}

void RecordingTouchBarHost::setWindowTouchBar(const std::string& windowIdentifier, const TouchBar& bar) {
    calls_.push_back("window:" + windowIdentifier + ":" + bar.identifier);
    auto it = std::find_if(windowBars_.begin(), windowBars_.end(),
                           [&](const auto& entry) { return entry.first == windowIdentifier; });
    if (it == windowBars_.end()) windowBars_.emplace_back(windowIdentifier, bar);
    else it->second = bar;
}

void RecordingTouchBarHost::setButtonTitle(const std::string& itemIdentifier, const std::string& title) {
    calls_.push_back("title:" + itemIdentifier + ":" + title);
    auto retitle = [&](TouchBar& bar) {
        for (auto& item : bar.items)
            if (item.identifier == itemIdentifier) item.title = title;
    };
    retitle(presented_);
    for (auto& entry : windowBars_) retitle(entry.second);
}

void RecordingTouchBarHost::reloadScrubber(const std::string& itemIdentifier, const std::vector<ScrubberItem>& items) {
    calls_.push_back("reload:" + itemIdentifier + ":" + std::to_string(items.size()));
    scrubberFor(itemIdentifier).items = items;
}

void RecordingTouchBarHost::setScrubberItemBackground(const std::string& itemIdentifier, int index,
                                                      const TouchBarColor& color) {
    calls_.push_back("background:" + itemIdentifier + ":" + std::to_string(index));
    auto& items = scrubberFor(itemIdentifier).items;
    if (index >= 0 && static_cast<std::size_t>(index) < items.size()) items[static_cast<std::size_t>(index)].background = color;
}

std::vector<ScrubberItem> RecordingTouchBarHost::scrubber(const std::string& itemIdentifier) const {
    for (const auto& s : scrubbers_)
        if (s.identifier == itemIdentifier) return s.items;
    return {};
}

TouchBar RecordingTouchBarHost::windowBar(const std::string& windowIdentifier) const {
    for (const auto& entry : windowBars_)
        if (entry.first == windowIdentifier) return entry.second;
    return {};
}

RecordingTouchBarHost::Scrubber& RecordingTouchBarHost::scrubberFor(const std::string& identifier) {
    for (auto& s : scrubbers_)
        if (s.identifier == identifier) return s;
    scrubbers_.push_back({identifier, {}});
    return scrubbers_.back();
}

} // namespace plat
