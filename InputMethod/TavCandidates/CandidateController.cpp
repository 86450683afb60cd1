#include "InputMethod/TavCandidates/CandidateController.h"

#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/NotificationNames.h"
#include "InputMethod/TavCandidates/TouchBarCandidateController.h"
#include "Platform/Foundation/Log.h"
#include "Platform/InputMethodKit/TextInputClient.h"

#include <algorithm>
#include <any>
#include <cstdlib>

namespace taviro {

CandidateController::CandidateController(CandidateEnvironment environment) : env_(environment.completed()) {
    highlightView_.background = CandidateColors::selectedContentBackground();
    for (int i = 0; i < 9; ++i) resuseCandidateCells_.push_back(std::make_unique<CandidateCell>(*this, i));
    clickObserver_ = env_.notifications->addObserver(std::string(DidClickCandidate),
                                                     [this](const plat::Notification& n) { didClickCell(n); });
}

CandidateController::~CandidateController() {
    clickObserver_.reset();
    view_.reset();
}

void CandidateController::setView(std::unique_ptr<CandidateView> view) {
    view_ = std::move(view);
    changed();
}

void CandidateController::changed() {
    if (view_) view_->modelChanged();
}

void CandidateController::post(const AccessibilityEvent& event) {
    if (view_) view_->post(event);
}

void CandidateController::trace(const std::string& line) {
    static const bool on = std::getenv("TAVIRO_TRACE_CANDIDATES") != nullptr;
    if (on) plat::log(line);
}

std::shared_ptr<const Settings> CandidateController::settings() const { return env_.config->settings(); }

std::vector<std::string> CandidateController::visibleCandidates() const {
    std::vector<std::string> out;
    out.reserve(visiableCandidateCells_.size());
    for (const auto* cell : visiableCandidateCells_) out.push_back(cell->candidateContent);
    return out;
}

void CandidateController::prepareCells() {
    if (!fontCache_) {
        const std::string& name = settings()->candidateFontName;
        const double points = static_cast<double>(static_cast<int>(fontSize_));
        fontCache_ = Font{!name.empty() && env_.measurer->hasFont(name) ? name : std::string(), points, false};
    }
    for (auto* cell : visiableCandidateCells_) cell->setInWindow(false);
    visiableCandidateCells_.clear();
}

void CandidateController::layoutCandidates(const std::vector<std::string>& /*strings*/) { prepareCells(); }

void CandidateController::addToPage(CandidateCell& cell) {
    cell.setInWindow(true);
    visiableCandidateCells_.push_back(&cell);
}

void CandidateController::setFirstPage() {
    currentPage_ = 0;
    pageRange_.assign(1, {0, visibleCandidateCount()});
}

void CandidateController::highlightCandidate(int index) {
    if (visiableCandidateCells_.empty() || index < 0 || index >= visibleCandidateCount()) {
        selectedIndex_ = 0;
        highlightView_.hidden = true;
        changed();
        return;
    }
    selectedIndex_ = index;
    CandidateCell& chosen = *visiableCandidateCells_[static_cast<std::size_t>(index)];
    const std::string text = chosen.candidateContent;
    for (auto* cell : visiableCandidateCells_) {
        cell->isSelected = false;
        cell->applyColors();
    }
    chosen.isSelected = true;
    chosen.applyColors();
    post({AccessibilityEvent::Kind::focusedUIElementChanged, chosen.number});
    highlightView_.hidden = settings()->selectNoBG;
    if (isVertical()) {
        highlightView_.frame = chosen.frame;
    } else {
        highlightView_.frame = Rect{{chosen.frame.origin.x, 2.0}, {chosen.frame.size.width, size_.height - 4.0}};
    }
    changed();
    if (imkDelegate_) imkDelegate_->candidateSelectionChanged(text);
}

void CandidateController::didClickCell(const plat::Notification& notification) {
    auto* const* sender = std::any_cast<CandidateCell*>(&notification.object);
    if (!sender) return;
    // Only this window's own cells count; another object is never touched.
    int number = -1;
    for (const auto& cell : resuseCandidateCells_)
        if (cell.get() == *sender) number = cell->number;
    if (number < 0) return;
    trace("click: " + std::to_string(number));
    if (number != selectedIndex_) highlightCandidate(number);
    else selectCandidate();
}

void CandidateController::click(int number) {
    if (number < 0 || number >= static_cast<int>(resuseCandidateCells_.size())) return;
    resuseCandidateCells_[static_cast<std::size_t>(number)]->didClickCell();
}

void CandidateController::selectCandidate() {
    if (selectedIndex_ < visibleCandidateCount() && imkDelegate_)
        imkDelegate_->commitComposition(imkDelegate_->currentClient());
    closeWindow();
}

void CandidateController::closeWindow() {
    selectedIndex_ = 0;
    currentPage_ = 0;
    visible_ = false;
    post({AccessibilityEvent::Kind::applicationHidden});
    changed();
    if (env_.strip) env_.strip->updateCandidates();
}

void CandidateController::close() { closeWindow(); }

void CandidateController::reloadFoundNothing() {
    candidates_.clear();
    closeWindow();
}

std::vector<std::string> CandidateController::fetchCandidates() {
    return imkDelegate_ ? imkDelegate_->candidates() : std::vector<std::string>{};
}

bool CandidateController::nextPage() {
    trace("nextPage");
    const int p = currentPage_ + 1;
    if (p < static_cast<int>(pageRange_.size())) {
        const auto [location, length] = pageRange_[static_cast<std::size_t>(p)];
        layoutCandidates({candidates_.begin() + location, candidates_.begin() + location + length});
    } else {
        int s = 0;
        for (const auto& range : pageRange_) s += range.second;
        if (s >= static_cast<int>(candidates_.size())) return false;
        layoutCandidates({candidates_.begin() + s, candidates_.end()});
        pageRange_.emplace_back(s, visibleCandidateCount());
    }
    currentPage_ = p;
    turnedPage();
    return true;
}

bool CandidateController::previousPage() {
    trace("previousPage");
    if (currentPage_ <= 0) return false;
    const auto [location, length] = pageRange_[static_cast<std::size_t>(currentPage_ - 1)];
    layoutCandidates({candidates_.begin() + location, candidates_.begin() + location + length});
    --currentPage_;
    turnedPage();
    return true;
}

// The highlight keeps its place on the new page; on a shorter page it goes
// to the first cell and is reported, so a commit takes what is shown.
void CandidateController::turnedPage() {
    highlightCandidate(selectedIndex_ < visibleCandidateCount() ? selectedIndex_ : 0);
    if (env_.strip) env_.strip->loadVisibleCandidates();
}

void CandidateController::show() {
    visible_ = true;
    changed();
    if (!visiableCandidateCells_.empty())
        post({AccessibilityEvent::Kind::focusedUIElementChanged, visiableCandidateCells_.front()->number});
}

void CandidateController::setFontSize(FontSize size) {
    fontSize_ = size;
    applyFontSize(size);
    fontCache_.reset();
    changed();
}

std::optional<Rect> CandidateController::screenFor(Point p) const {
    const auto screens = env_.screens->screens();
    if (screens.empty()) return std::nullopt;
    for (const auto& screen : screens)
        if (screen.contains(p)) return screen;
    return screens.front();
}

Rect CandidateController::caretRect(plat::TextInputClient& client) const {
    plat::TextRect line;
    (void)client.attributesForCharacterIndex(0, &line);
    if (line.x == 0 && line.y == 0) return {env_.screens->mouseLocation(), {}};
    return {{line.x, line.y}, {std::max(line.width, 0.0), std::max(line.height, 0.0)}};
}

void CandidateController::placeAndShow(plat::TextInputClient& client,
                                       const std::function<double(double, const Rect&)>& y) {
    const Rect caret = caretRect(client);
    const Point p = caret.origin;
    const auto screen = screenFor(p);
    if (visiableCandidateCells_.empty() || !screen) return;
    const Size size = frame().size;
    setFrame(Rect{keptOnScreen({p.x - 15.0, y(p.y, *screen)}, size, caret, *screen), size});
    show();
}

Point CandidateController::keptOnScreen(Point origin, Size size, const Rect& caret, const Rect& screen) {
    // Above the caret but past the screen's top: below it, when it fits there.
    if (origin.y + size.height > screen.maxY()) {
        const double below = caret.minY() - (size.height + 5.0);
        if (below >= screen.minY()) origin.y = below;
    }
    // Then pulled in from every edge.
    origin.x = std::max(std::min(origin.x, screen.maxX() - size.width), screen.minX());
    origin.y = std::min(std::max(origin.y, screen.minY()), screen.maxY() - size.height);
    const bool coversLine = origin.y < caret.maxY() && origin.y + size.height > caret.minY();
    if (!coversLine) return origin;

    // Room neither above nor below: beside the caret, right of it where the
    // window fits, else left of it, else on the wider side; its top level
    // with the top of the line as far as the screen allows.
    constexpr double gap = 5.0;
    const double right = caret.maxX() + gap;
    const double left = caret.minX() - gap - size.width;
    if (right + size.width <= screen.maxX()) origin.x = right;
    else if (left >= screen.minX()) origin.x = left;
    else origin.x = screen.maxX() - caret.maxX() >= caret.minX() - screen.minX() ? screen.maxX() - size.width
                                                                                 : screen.minX();
    origin.x = std::max(std::min(origin.x, screen.maxX() - size.width), screen.minX());
    origin.y = std::min(std::max(caret.maxY() - size.height, screen.minY()), screen.maxY() - size.height);
    return origin;
}

} // namespace taviro
