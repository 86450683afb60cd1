#include "InputMethod/TavCandidates/CandidateController.h"

#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/NotificationNames.h"
#include "InputMethod/TavCandidates/TouchBarCandidateController.h"
#include "Platform/Foundation/Log.h"
#include "Platform/InputMethodKit/TextInputClient.h"

#include <algorithm>
#include <any>
#include <cmath>
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

CandidateController::CaretLine CandidateController::caretLine(plat::TextInputClient& client,
                                                             const Rect& screen) const {
    const Rect caret = caretRect(client);
    CaretLine line{caret, caret};
    const plat::TextRange marked = client.markedRange();
    if (caret.size == Size{} || marked.location == plat::kNotFound) return line;
    const auto first = client.firstRectForCharacterRange(marked, nullptr);
    if (first && (first->x != 0 || first->y != 0)) {
        const Rect start{{first->x, first->y}, {std::max(first->width, 0.0), std::max(first->height, 0.0)}};
        const bool oneLine = start.minY() < caret.maxY() && caret.minY() < start.maxY();
        // A start further than a few lines away, or right of the caret on
        // its line, is stale (the client scrolled or its window moved).
        const bool stale =
            std::abs(start.minY() - caret.minY()) > 3 * std::max(start.size.height, caret.size.height) ||
            (oneLine && start.minX() > caret.maxX());
        if (!stale) {
            const double bottom = std::min(start.minY(), caret.minY());
            const double top = std::max(start.maxY(), caret.maxY());
            const double left = oneLine ? std::min(start.minX(), caret.minX()) : screen.minX();
            const double right = oneLine ? std::max(start.maxX(), caret.maxX()) : screen.maxX();
            line.composition = Rect{{left, bottom}, {right - left, top - bottom}};
            return line;
        }
    }
    // Where it begins is not known: the marked text, measured in a font as
    // large as the line is high, ends at the caret.
    const auto text = client.stringFromRange(marked, nullptr);
    if (!text || text->empty()) return line;
    const double width = env_.measurer->sizeToFit(*text, Font{"", caret.size.height, false}).width;
    const double left = std::max(screen.minX(), caret.minX() - width);
    line.composition = Rect{{left, caret.minY()}, {caret.maxX() - left, caret.size.height}};
    return line;
}

void CandidateController::placeAndShow(plat::TextInputClient& client, const FirstY& y) {
    const Rect caret = caretRect(client);
    const auto screen = screenFor(caret.origin);
    if (visiableCandidateCells_.empty() || !screen) return;
    const CaretLine line = caretLine(client, *screen);
    const auto spotFor = [&](Size size) {
        return clearSpot(size, {caret.minX() - 15.0, y(caret.minY(), size.height, *screen)}, line, *screen);
    };
    auto spot = spotFor(frame().size);
    if (!spot) {
        // No room for the whole window: fewer candidates on the side of the
        // line with more room, when the layout can do with fewer.
        const double above = screen->maxY() - std::max(line.caret.maxY(), line.composition.maxY()) - kCaretGap;
        const double below = std::min(line.caret.minY(), line.composition.minY()) - kCaretGap - screen->minY();
        if (shortenTo(std::floor(std::max(above, below)))) spot = spotFor(frame().size);
    }
    const Size size = frame().size;
    setFrame(Rect{spot ? *spot : fallbackSpot(size, line, *screen), size});
    show();
}

namespace {

bool overlaps(const Rect& a, const Rect& b) {
    return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

double pulledIn(double at, double length, double low, double high) {
    return std::max(std::min(at, high - length), low);
}

} // namespace

std::optional<Point> CandidateController::clearSpot(Size size, Point first, const CaretLine& line,
                                                    const Rect& screen) {
    const Rect& caret = line.caret;
    const double bandTop = std::max(caret.maxY(), line.composition.maxY());
    const double bandBottom = std::min(caret.minY(), line.composition.minY());
    const auto clear = [&](Point at) {
        const Rect r{at, size};
        return r.minX() >= screen.minX() && r.maxX() <= screen.maxX() && r.minY() >= screen.minY() &&
               r.maxY() <= screen.maxY() && !overlaps(r, caret) && !overlaps(r, line.composition);
    };
    const double x = pulledIn(first.x, size.width, screen.minX(), screen.maxX());
    // Above the line: its lower edge at least the gap over the line, as
    // high as the layout chose, lowered to the screen's top while it clears
    // the line. Below: the same downward.
    const auto above = [&](double y) {
        return Point{x, std::min(std::max(y, bandTop + kCaretGap), screen.maxY() - size.height)};
    };
    const auto below = [&](double y) {
        return Point{x, std::max(std::min(y, bandBottom - kCaretGap - size.height), screen.minY())};
    };
    const bool firstAbove = first.y >= caret.minY();
    const Point sides[] = {firstAbove ? above(first.y) : below(first.y),
                           firstAbove ? below(bandBottom) : above(bandTop)};
    for (const Point& at : sides)
        if (clear(at)) return at;

    // Beside, its top level with the top of the line as far as the screen allows.
    const double y = pulledIn(caret.maxY() - size.height, size.height, screen.minY(), screen.maxY());
    for (const double besideX : {caret.maxX() + kCaretGap, line.composition.minX() - kCaretGap - size.width})
        if (clear({besideX, y})) return Point{besideX, y};
    return std::nullopt;
}

Point CandidateController::fallbackSpot(Size size, const CaretLine& line, const Rect& screen) {
    const Rect& caret = line.caret;
    const double y = pulledIn(caret.maxY() - size.height, size.height, screen.minY(), screen.maxY());
    double x = caret.minX() - kCaretGap - size.width;
    if (x < screen.minX())
        x = screen.maxX() - caret.maxX() >= caret.minX() - screen.minX() ? caret.maxX() + kCaretGap : x;
    return {pulledIn(x, size.width, screen.minX(), screen.maxX()), y};
}

} // namespace taviro
