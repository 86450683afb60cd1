#include "InputMethod/CandidateWindowHolder.h"

#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/PagedCandidateWindow.h"

namespace taviro {

CandidateWindowHolder& CandidateWindowHolder::shared() {
    static CandidateWindowHolder* holder = [] {
        auto* h = new CandidateWindowHolder();
        const auto settings = ConfigManager::shared().settings();
        h->setInitialLayout(settings->verticalCandidates);
        if (auto size = fontSizeFromRaw(settings->fontSize)) h->window().setFontSize(*size);
        return h;
    }();
    return *holder;
}

CandidateWindowHolder::CandidateWindowHolder(Factory factory) : factory_(std::move(factory)) {}

CandidateWindow& CandidateWindowHolder::window() {
    if (!window_) replace(initialVertical_);
    return *window_;
}

CandidateWindow& CandidateWindowHolder::replace(bool vertical) {
    std::unique_ptr<CandidateWindow> next;
    if (factory_) next = factory_(vertical);
    if (!next) next = std::make_unique<PagedCandidateWindow>(vertical);
    window_ = std::move(next);
    return *window_;
}

} // namespace taviro
