#include "InputMethod/CandidateWindowHolder.h"

#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/TavCandidates/CandidatesHController.h"
#include "InputMethod/TavCandidates/CandidatesVController.h"
#include "InputMethod/TavCandidates/TouchBarCandidateController.h"
#include "InputMethod/TavCandidates/TouchBarPresentation.h"

namespace taviro {

CandidateWindowHolder& CandidateWindowHolder::shared() {
    static CandidateWindowHolder* holder = [] {
        auto* h = new CandidateWindowHolder();
        const auto settings = ConfigManager::shared().settings();
        h->setInitialLayout(settings->verticalCandidates);
        h->window().setFontSize(nearestFontSize(settings->fontSize));
        return h;
    }();
    return *holder;
}

CandidateWindowHolder::CandidateWindowHolder(Factory factory) : factory_(std::move(factory)) {}

CandidateWindowHolder::~CandidateWindowHolder() { window_.reset(); }

CandidateWindow& CandidateWindowHolder::window() {
    if (!window_) replace(initialVertical_);
    return *window_;
}

CandidateWindow& CandidateWindowHolder::replace(bool vertical) {
    std::unique_ptr<CandidateWindow> next;
    if (factory_) next = factory_(vertical);
    if (!next) {
        CandidateEnvironment env;
        env.strip = &strip();
        if (vertical) next = std::make_unique<CandidatesVController>(env);
        else next = std::make_unique<CandidatesHController>(env);
    }
    window_ = std::move(next);
    return *window_;
}

void CandidateWindowHolder::show(CandidateWindowDelegate& delegate) {
    CandidateWindow& w = window();
    if (w.delegate() != &delegate) w.setDelegate(&delegate);
    w.reloadCandidates();
    w.showAtCaret(delegate.currentClient());
    if (w.isVisible()) touchBar().showTouchBar();
}

TouchBarCandidateController& CandidateWindowHolder::strip() {
    if (!strip_) {
        TouchBarCandidateController::Environment env;
        env.window = [this]() -> CandidateWindow* { return window_.get(); };
        strip_ = std::make_unique<TouchBarCandidateController>(std::move(env));
    }
    return *strip_;
}

TouchBarPresentation& CandidateWindowHolder::touchBar() {
    if (!touchBar_) {
        TouchBarPresentation::Environment env;
        env.strip = &strip();
        env.window = [this]() -> CandidateWindow* { return window_.get(); };
        touchBar_ = std::make_unique<TouchBarPresentation>(std::move(env));
    }
    return *touchBar_;
}

} // namespace taviro
