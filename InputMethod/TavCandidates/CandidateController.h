#pragma once
#include "InputMethod/CandidateWindow.h"
#include "InputMethod/TavCandidates/CandidateCell.h"
#include "InputMethod/TavCandidates/CandidateEnvironment.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace taviro {

struct Settings;

// The candidate window without its orientation: the cell pool, fonts, pages,
// highlight, selection, clicks, showing and closing, and what screen readers
// hear. The vertical and horizontal windows lay the cells out, size the
// window and place it at the caret. Geometry is in points, y up; a view
// (CandidateView) draws the model and is told after every change.
// Main thread only.
class CandidateController : public CandidateWindow {
public:
    // The rounded rectangle behind the highlighted candidate.
    struct HighlightView {
        bool hidden = true;
        Rect frame;
        Color background;
    };

    explicit CandidateController(CandidateEnvironment environment);
    ~CandidateController() override;
    CandidateController(const CandidateController&) = delete;
    CandidateController& operator=(const CandidateController&) = delete;

    // --- CandidateWindow ---------------------------------------------------
    bool isVisible() const override { return visible_; }
    int currentPage() const override { return currentPage_; }
    void setCurrentPage(int page) override { currentPage_ = page; }
    int selectedIndex() const override { return selectedIndex_; }
    void setSelectedIndex(int index) override { selectedIndex_ = index; }
    int visibleCandidateCount() const override { return static_cast<int>(visiableCandidateCells_.size()); }
    std::vector<std::string> visibleCandidates() const override;
    bool nextPage() override;
    bool previousPage() override;
    void highlightCandidate(int index) override;
    void close() override;
    CandidateWindowDelegate* delegate() const override { return imkDelegate_; }
    void setDelegate(CandidateWindowDelegate* delegate) override { imkDelegate_ = delegate; }
    FontSize fontSize() const override { return fontSize_; }
    // Applies the window size of the font size and empties the font cache.
    void setFontSize(FontSize size) override;

    // --- the window --------------------------------------------------------
    // Shows the window; a screen reader hears the first cell.
    void show();
    // Commits the highlighted candidate through the delegate and closes.
    void selectCandidate();
    // Lays out one page of `strings` (prepares the cells in the base).
    virtual void layoutCandidates(const std::vector<std::string>& strings);
    // Sets size() for a font size.
    virtual void applyFontSize(FontSize size) = 0;

    // --- state, for views and tests ---------------------------------------
    Size size() const { return size_; }
    int candidateSpace() const { return candidateSpace_; }
    int candidateUpDownSpace() const { return candidateUpDownSpace_; }
    const std::vector<std::pair<int, int>>& pageRange() const { return pageRange_; }
    const std::vector<std::string>& candidates() const { return candidates_; }
    const std::vector<CandidateCell*>& visiableCandidateCells() const { return visiableCandidateCells_; }
    const std::vector<std::unique_ptr<CandidateCell>>& resuseCandidateCells() const { return resuseCandidateCells_; }
    const std::optional<Font>& fontCache() const { return fontCache_; }
    const HighlightView& highlightView() const { return highlightView_; }
    // The window's frame on screen and its background.
    Rect frame() const { return frame_; }
    Color background() const { return background_; }
    static constexpr double kCornerRadius = 4.0;
    // Space kept between the window and the caret's line.
    static constexpr double kCaretGap = 5.0;
    const CandidateEnvironment& environment() const { return env_; }

    // The view that draws this window (owned; destroyed before the model).
    void setView(std::unique_ptr<CandidateView> view);
    CandidateView* view() const { return view_.get(); }

    // Posts "DidClickCandidate" for cell `number` of the page, as a click on it.
    void click(int number);

protected:
    // The base layout: builds the font when needed and takes the previous
    // page's cells off the window.
    void prepareCells();
    void addToPage(CandidateCell& cell);
    // Window closed: selection and page back to 0, screen readers told, the
    // Touch Bar strip shows hints.
    void closeWindow();
    // Empty or missing list: the window closes with nothing in it.
    void reloadFoundNothing();
    // The delegate's list (empty without a delegate).
    std::vector<std::string> fetchCandidates();
    void setFrame(const Rect& frame) { frame_ = frame; }
    void setBackground(const Color& color) { background_ = color; }
    void setHighlightBackground(const Color& color) { highlightView_.background = color; }
    void setSize(Size size) { size_ = size; }
    void storeCandidates(std::vector<std::string> list) { candidates_ = std::move(list); }
    void setFirstPage();
    // The screen for a point: the main screen, or the first that holds it.
    std::optional<Rect> screenFor(Point p) const;
    // The client's caret line, or the mouse (no size) when the client gives (0, 0).
    Rect caretRect(plat::TextInputClient& client) const;
    // What the window keeps clear of: the caret's line rectangle, and the
    // composition from its first character to the caret (when the client
    // does not say where it begins, or says a place it cannot be, the
    // composition's own width left of the caret; whole rows when it runs
    // over more than one line).
    struct CaretLine {
        Rect caret;
        Rect composition;
    };
    // Where a window of `size` stands on `screen` so that it covers neither
    // the caret nor the composition: at `first` (15 left of the caret, its
    // lower edge where the layout puts it), moved clear of the line on the
    // side it chose and pulled in from the screen's edges; else on the
    // other side of the line; else beside, level with the top of the line:
    // right of the caret, else left of where the composition begins. None
    // when no such place exists.
    static std::optional<Point> clearSpot(Size size, Point first, const CaretLine& line, const Rect& screen);
    // Where a window stands when no place is clear: left of the caret (over
    // the composition), else on the wider side of the caret, level with the
    // top of the line, on the screen.
    static Point fallbackSpot(Size size, const CaretLine& line, const Rect& screen);
    // The caret and the composition of the client, on `screen`.
    CaretLine caretLine(plat::TextInputClient& client, const Rect& screen) const;
    // Places the window at the caret and shows it; nothing without a page or
    // screen. `y` gives the first choice of the window's lower edge for the
    // caret's y, the window's height and the screen.
    using FirstY = std::function<double(double caretY, double height, const Rect& screen)>;
    void placeAndShow(plat::TextInputClient& client, const FirstY& y);
    // A window with no room above, below or beside the composition may take
    // fewer candidates to fit `height`; true when it did (its frame changed).
    virtual bool shortenTo(double /*height*/) { return false; }

protected:
    std::shared_ptr<const Settings> settings() const;
    void post(const AccessibilityEvent& event);
    void changed();
    static void trace(const std::string& line);

    int candidateSpace_ = 8;
    int candidateUpDownSpace_ = 4;
    std::vector<std::unique_ptr<CandidateCell>> resuseCandidateCells_;
    std::vector<CandidateCell*> visiableCandidateCells_;
    std::optional<Font> fontCache_;

private:
    void didClickCell(const plat::Notification& notification);
    void turnedPage();

    CandidateEnvironment env_;
    HighlightView highlightView_;
    Size size_;
    FontSize fontSize_ = FontSize::s16;
    std::vector<std::pair<int, int>> pageRange_;
    int selectedIndex_ = 0;
    int currentPage_ = 0;
    std::vector<std::string> candidates_;
    CandidateWindowDelegate* imkDelegate_ = nullptr;
    bool visible_ = false;
    Rect frame_;
    Color background_ = Color::white();
    std::unique_ptr<CandidateView> view_;
    plat::ObserverToken clickObserver_;
};

} // namespace taviro
