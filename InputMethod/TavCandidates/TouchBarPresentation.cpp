#include "InputMethod/TavCandidates/TouchBarPresentation.h"

#include "InputMethod/CandidateWindow.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/TavCandidates/TouchBarCandidateController.h"

namespace taviro {
namespace {

const char* s2tTitle(bool traditional) { return traditional ? "繁" : "简"; }

} // namespace

TouchBarPresentation::TouchBarPresentation(Environment environment) : env_(std::move(environment)) {
    if (!env_.host) env_.host = &plat::TouchBarHost::shared();
    if (!env_.config) env_.config = &ConfigManager::shared();
}

void TouchBarPresentation::start() { env_.host->setControlStripPresence(kVoridIdentifier, true); }

const plat::TouchBar& TouchBarPresentation::groupTouchBar() {
    if (!groupTouchBar_) {
        plat::TouchBar bar{kGroupIdentifier, {}};
        for (const char* id : {kS2tIdentifier, kFixedSpaceLarge, kFixedSpaceLarge, kCandidateIdentifier}) {
            if (std::string(id) == kFixedSpaceLarge) bar.items.push_back({id, plat::TouchBarItem::Kind::fixedSpaceLarge, ""});
            else if (auto item = makeItemForIdentifier(id)) bar.items.push_back(*item);
        }
        groupTouchBar_ = std::move(bar);
    }
    return *groupTouchBar_;
}

std::optional<plat::TouchBarItem> TouchBarPresentation::makeItemForIdentifier(const std::string& identifier) const {
    if (identifier == kS2tIdentifier)
        return plat::TouchBarItem{identifier, plat::TouchBarItem::Kind::button, s2tTitle(env_.config->settings()->s2t)};
    if (identifier == kCandidateIdentifier) return plat::TouchBarItem{identifier, plat::TouchBarItem::Kind::scrubber, ""};
    if (identifier == kVoridIdentifier) return plat::TouchBarItem{identifier, plat::TouchBarItem::Kind::button, "塔"};
    return std::nullopt;
}

void TouchBarPresentation::showTouchBar() {
    if (env_.strip) env_.strip->loadVisibleCandidates();
    env_.host->presentSystemModal(groupTouchBar(), kVoridIdentifier);
}

void TouchBarPresentation::dismissTouchBar() { env_.host->minimizeSystemModal(groupTouchBar()); }

void TouchBarPresentation::s2t(const std::string& senderIdentifier) {
    bool now = false;
    env_.config->update([&](Settings& s) {
        s.s2t = !s.s2t;
        now = s.s2t;
    });
    env_.config->saveConfig();
    env_.host->setButtonTitle(senderIdentifier, s2tTitle(now));
}

void TouchBarPresentation::buttonTapped(const std::string& identifier) {
    if (identifier == kS2tIdentifier) s2t(identifier);
    else if (identifier == kVoridIdentifier) showTouchBar();
}

void TouchBarPresentation::esc() {
    if (env_.abandonComposition) env_.abandonComposition();
    if (CandidateWindow* window = env_.window ? env_.window() : nullptr) {
        window->reloadCandidates();
        window->setSelectedIndex(0);
        window->setCurrentPage(0);
        window->close();
    } else if (env_.strip) {
        env_.strip->updateCandidates();
    }
    dismissTouchBar();
}

} // namespace taviro
