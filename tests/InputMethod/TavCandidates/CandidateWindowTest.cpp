#include "CandidateFixture.h"

#include <limits>

#include "Platform/Foundation/Log.h"

namespace taviro::test {
namespace {

// Two-letter candidates "aa", "ab", ... all of one width.
std::vector<std::string> pairs(int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back({static_cast<char>('a' + i / 26), static_cast<char>('a' + i % 26)});
    return out;
}

std::vector<std::pair<int, int>> pageAll(CandidateController& w) {
    while (w.nextPage()) {
    }
    return w.pageRange();
}

using Ranges = std::vector<std::pair<int, int>>;

// --- pages ---------------------------------------------------------------

struct PageCase {
    const char* name;
    bool vertical;
    int count;
    long long candidateNumber;
    double lineFactor;
    Ranges pages;
};

class Pages : public CandidateFixture, public ::testing::WithParamInterface<PageCase> {};

TEST_P(Pages, AreDiscoveredForwardAndReproducedBackward) {
    const auto& c = GetParam();
    set([&](Settings& s) { s.candidateNumber = c.candidateNumber; });
    std::unique_ptr<CandidateController> w;
    if (c.vertical) w = make<CandidatesVController>(c.lineFactor);
    else w = make<CandidatesHController>(c.lineFactor);
    delegate.list = pairs(c.count);
    w->showAtCaret(&client);
    EXPECT_EQ(pageAll(*w), c.pages) << c.name;
    EXPECT_FALSE(w->nextPage()) << c.name;
    EXPECT_EQ(w->currentPage(), static_cast<int>(c.pages.size()) - 1);
    // Paging back lays out exactly the recorded ranges.
    for (int p = static_cast<int>(c.pages.size()) - 2; p >= 0; --p) {
        ASSERT_TRUE(w->previousPage());
        const auto [location, length] = c.pages[static_cast<std::size_t>(p)];
        const std::vector<std::string> expected(delegate.list.begin() + location,
                                                delegate.list.begin() + location + length);
        EXPECT_EQ(w->visibleCandidates(), expected) << c.name << " page " << p;
    }
    EXPECT_FALSE(w->previousPage());
    EXPECT_EQ(w->currentPage(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Pages,
    ::testing::Values(
        // Cells 40 wide, 48 apart from x 2: seven start before 394 - 15.
        PageCase{"row of 20", false, 20, 0, 1.0, {{0, 7}, {7, 7}, {14, 6}}},
        PageCase{"row, 5 a page", false, 12, 5, 1.0, {{0, 5}, {5, 5}, {10, 2}}},
        PageCase{"row, 12 a page is the pool", false, 20, 12, 1.0, {{0, 9}, {9, 9}, {18, 2}}},
        // Rows 22 high and 8 apart: the pool of nine runs out first.
        PageCase{"column of 20", true, 20, 0, 1.0, {{0, 9}, {9, 9}, {18, 2}}},
        // Rows 38 high: seven start above the bottom of 280.
        PageCase{"column of tall rows", true, 30, 0, 2.0, {{0, 7}, {7, 7}, {14, 7}, {21, 7}, {28, 2}}},
        PageCase{"column, 5 a page", true, 12, 5, 1.0, {{0, 5}, {5, 5}, {10, 2}}},
        PageCase{"column, 12 a page", true, 20, 12, 1.0, {{0, 9}, {9, 9}, {18, 2}}}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

// --- frames --------------------------------------------------------------

TEST_F(CandidateFixture, RowFramesAndButtons) {
    struct Case {
        const char* name;
        int count;
        long long candidateNumber;
        FontSize size;
        double width;
        bool buttonsHidden;
    };
    const Case cases[] = {
        {"three fit, automatic", 3, 0, FontSize::s16, 3 * 48 - 4, true},
        {"three, 5 a page", 3, 5, FontSize::s16, 3 * 48 - 4 + 20, false},
        {"long list keeps the nominal width", 30, 0, FontSize::s16, 394, false},
        {"long list at 24", 30, 0, FontSize::s24, 582, false},
        {"one at 32", 1, 0, FontSize::s32, 48 - 4, true},
    };
    for (const auto& c : cases) {
        set([&](Settings& s) { s.candidateNumber = c.candidateNumber; });
        auto w = make<CandidatesHController>();
        w->setFontSize(c.size);
        const double height = w->size().height;
        delegate.list = pairs(c.count);
        w->showAtCaret(&client);
        EXPECT_EQ(w->frame().size, (Size{c.width, height})) << c.name;
        EXPECT_EQ(w->upButton().hidden, c.buttonsHidden) << c.name;
        EXPECT_EQ(w->upButton().frame, (Rect{{c.width - 18.0, height - 14.0}, {8, 8}})) << c.name;
        EXPECT_EQ(w->downButton().frame, (Rect{{c.width - 18.0, 6.0}, {8, 8}})) << c.name;
        // Cells: 2 from the left, 48 apart, 2 above the bottom, 4 lower than the window.
        for (int i = 0; i < w->visibleCandidateCount(); ++i) {
            const auto& cell = *w->visiableCandidateCells()[static_cast<std::size_t>(i)];
            EXPECT_EQ(cell.frame, (Rect{{2.0 + 48.0 * i, 2.0}, {40, height - 4}})) << c.name << " cell " << i;
            EXPECT_EQ(cell.number, i);
        }
        // The highlight spans the row's height.
        EXPECT_EQ(w->highlightView().frame, (Rect{{2, 2}, {40, height - 4}})) << c.name;
    }
}

TEST_F(CandidateFixture, CellLabelsAreCentredAndNumberedFromOne) {
    auto w = make<CandidatesHController>();
    delegate.list = {"你好dj%dA8.Cnh", "b"};
    w->showAtCaret(&client);
    const auto& cell = *w->visiableCandidateCells()[0];
    // The hint shows after a space; the cell needs both labels + 10.
    EXPECT_EQ(cell.contentField.text, "你好 nh");
    EXPECT_EQ(cell.candidateContent, "你好dj%dA8.Cnh");
    EXPECT_EQ(cell.frame.size.width, 50 + 10 + 10);
    EXPECT_EQ(cell.numberField.text, "1");
    EXPECT_EQ(w->visiableCandidateCells()[1]->numberField.text, "2");
    // Number at x 2, content one point after it; both centred in 26 (halves away from zero).
    EXPECT_EQ(cell.numberField.frame.origin, (Point{2, 6}));  // (26 - 14.67) / 2 = 5.67
    EXPECT_EQ(cell.contentField.frame.origin, (Point{13, 3})); // (26 - 20) / 2
    // The number font is two thirds of the candidate font, medium, system.
    EXPECT_EQ(cell.numberField.font, (Font{"", 16.0 / 1.5, true}));
    EXPECT_EQ(cell.contentField.font, (Font{"", 16.0, false}));
}

TEST_F(CandidateFixture, ConfiguredFontIsUsedWhenInstalledElseTheSystemFont) {
    for (const auto& [name, family] : std::vector<std::pair<std::string, std::string>>{
             {"Installed Sans", "Installed Sans"}, {"Missing Serif", ""}}) {
        set([&](Settings& s) { s.candidateFontName = name; });
        auto w = make<CandidatesHController>();
        w->setFontSize(FontSize::s24);
        delegate.list = {"a"};
        w->showAtCaret(&client);
        EXPECT_EQ(*w->fontCache(), (Font{family, 24.0, false})) << name;
        const auto& cell = *w->visiableCandidateCells()[0];
        EXPECT_EQ(cell.numberField.font, (Font{family, 16.0, family.empty()})) << name;
    }
}

TEST_F(CandidateFixture, FirstCandidateTooWideIsCutAndStandsAlone) {
    const std::string wide(40, 'w'); // 400 + 20 > 394 - 15
    for (const long long number : {0LL, 3LL}) {
        set([&](Settings& s) { s.candidateNumber = number; });
        auto w = make<CandidatesHController>();
        delegate.list = {wide, "ab", "ac", "ad"};
        w->showAtCaret(&client);
        const auto& cell = *w->visiableCandidateCells()[0];
        EXPECT_EQ(cell.frame.size, (Size{364, 26})) << number;
        EXPECT_EQ(cell.contentField.frame.size, (Size{364, 20})) << number;
        if (number == 0) {
            EXPECT_EQ(w->visibleCandidateCount(), 1);
            ASSERT_TRUE(w->nextPage());
            EXPECT_EQ(w->visibleCandidates(), (std::vector<std::string>{"ab", "ac", "ad"}));
        } else {
            // A fixed count goes on after the cut cell, at its natural width.
            EXPECT_EQ(w->visibleCandidateCount(), 3);
            EXPECT_EQ(w->visiableCandidateCells()[1]->frame.origin.x, 2 + 420 + 8);
        }
    }
}

// No row is wider than its screen: an automatic count takes the screen's
// width where it is narrower than the window, a count per page takes fewer
// candidates where the screen ends, a first candidate wider than the screen
// is cut to it. Every page stands on the screen, below the caret.
TEST_F(CandidateFixture, RowsAreNeverWiderThanTheScreen) {
    // At 32 points the window is 872 wide. Cells of eleven characters are
    // 130 wide and 138 apart, of twenty 220 and 228 apart.
    const std::string eleven(11, 'x'), twenty(20, 'y'), ninety(90, 'z');
    struct Case {
        const char* name;
        double screenWidth;
        long long candidateNumber;
        std::vector<std::string> list;
        Ranges pages;
        double width;
    };
    const Case cases[] = {
        {"automatic, 800 wide", 800, 0, repeated(eleven, 12), {{0, 5}, {5, 5}, {10, 2}}, 800},
        {"automatic, 1280 wide: the window's width", 1280, 0, repeated(eleven, 12), {{0, 6}, {6, 6}}, 872},
        {"9 a page, 1280 wide", 1280, 9, repeated(twenty, 12), {{0, 5}, {5, 5}, {10, 2}}, 5 * 228 - 4 + 20},
        {"9 a page, 1920 wide", 1920, 9, repeated(twenty, 12), {{0, 8}, {8, 4}}, 8 * 228 - 4 + 20},
        {"automatic, first wider than the screen", 800, 0, {ninety, eleven, eleven}, {{0, 1}, {1, 2}}, 800},
        {"3 a page, first wider than the screen", 800, 3, {ninety, eleven, eleven}, {{0, 1}, {1, 2}},
         770 + 8 - 4 + 20},
    };
    for (const auto& c : cases) {
        const Rect screen{{0, 0}, {c.screenWidth, 600}};
        screens = std::make_shared<FixedScreens>(std::vector<Rect>{screen}, Point{});
        set([&](Settings& s) { s.candidateNumber = c.candidateNumber; });
        auto w = make<CandidatesHController>();
        w->setFontSize(FontSize::s32);
        delegate.list = c.list;
        const plat::TextRect caret{c.screenWidth / 2, 300, 2, 20};
        client.setLineRect(caret);
        w->showAtCaret(&client);
        const Rect f = w->frame();
        EXPECT_EQ(f.size.width, c.width) << c.name;
        EXPECT_EQ(w->upButton().frame.origin.x, c.width - 18) << c.name;
        EXPECT_GE(f.minX(), screen.minX()) << c.name;
        EXPECT_LE(f.maxX(), screen.maxX()) << c.name;
        EXPECT_EQ(f.maxY(), caret.y - 5) << c.name << ": not below the caret";
        for (bool more = true; more; more = w->nextPage())
            for (const auto* cell : w->visiableCandidateCells())
                EXPECT_LE(cell->frame.maxX(), c.screenWidth) << c.name << " page " << w->currentPage();
        EXPECT_EQ(w->pageRange(), c.pages) << c.name;
        if (c.list.front() == ninety) {
            w->previousPage();
            EXPECT_EQ(w->visiableCandidateCells()[0]->frame.size.width, 770) << c.name;
        }
    }
}

TEST_F(CandidateFixture, ColumnFrames) {
    struct Case {
        const char* name;
        int count;
        long long candidateNumber;
        double lineFactor;
        double height;
    };
    const Case cases[] = {
        {"five fit: the window shrinks to them", 5, 0, 1.0, 5 * (22 + 8)},
        {"tall rows keep the nominal height", 30, 0, 2.0, 280},
        {"nine rows end above the bottom: no band below them", 30, 0, 1.0, 9 * (22 + 8)},
        {"5 a page: height of the first page", 30, 5, 1.0, 5 * (22 + 8)},
        {"12 a page: the pool", 30, 12, 1.0, 9 * (22 + 8)},
    };
    for (const auto& c : cases) {
        set([&](Settings& s) { s.candidateNumber = c.candidateNumber; });
        auto w = make<CandidatesVController>(c.lineFactor);
        delegate.list = pairs(c.count);
        w->showAtCaret(&client);
        EXPECT_EQ(w->frame().size, (Size{335, c.height})) << c.name;
        const double rowHeight = 16 * c.lineFactor + 4 + 2;
        // The first row starts 2 below the top, 8 between rows, 325 wide at
        // x 2; so on every page, in the frame the first page gave the window.
        for (bool more = true; more; more = w->nextPage()) {
            EXPECT_EQ(w->frame().size, (Size{335, c.height})) << c.name << " page " << w->currentPage();
            double top = c.height - 2;
            for (const auto* cell : w->visiableCandidateCells()) {
                EXPECT_EQ(cell->frame, (Rect{{2, top - rowHeight}, {325, rowHeight}}))
                    << c.name << " page " << w->currentPage() << " " << cell->number;
                top -= rowHeight + 8;
            }
        }
        w->showAtCaret(&client);
        EXPECT_EQ(w->highlightView().frame, w->visiableCandidateCells()[0]->frame) << c.name;
    }
}

TEST_F(CandidateFixture, FontSizeSetsTheNominalSizeAndEmptiesTheFontCache) {
    const std::vector<std::tuple<FontSize, Size, Size>> cases{
        {FontSize::s14, {335, 262}, {362, 28}}, {FontSize::s16, {335, 280}, {394, 30}},
        {FontSize::s18, {335, 310}, {446, 32}}, {FontSize::s24, {335, 414}, {582, 40}},
        {FontSize::s32, {335, 604}, {872, 50}}};
    auto v = make<CandidatesVController>();
    auto h = make<CandidatesHController>();
    delegate.list = {"a"};
    for (const auto& [size, vertical, horizontal] : cases) {
        h->showAtCaret(&client);
        ASSERT_TRUE(h->fontCache());
        v->setFontSize(size);
        h->setFontSize(size);
        EXPECT_EQ(v->size(), vertical);
        EXPECT_EQ(h->size(), horizontal);
        EXPECT_FALSE(h->fontCache());
        h->showAtCaret(&client);
        EXPECT_EQ(h->fontCache()->pointSize, static_cast<double>(static_cast<int>(size)));
    }
    EXPECT_FALSE(fontSizeFromRaw(20));
    EXPECT_FALSE(fontSizeFromRaw(15));
}

// A stored size that is not offered reads as the nearest offered one; a size
// halfway between two as the larger.
TEST(FontSizeTest, NearestOfferedSize) {
    const struct {
        std::int64_t stored;
        FontSize size;
    } cases[] = {
        {14, FontSize::s14}, {16, FontSize::s16}, {18, FontSize::s18}, {24, FontSize::s24}, {32, FontSize::s32},
        {15, FontSize::s16}, {17, FontSize::s18}, {21, FontSize::s24}, {28, FontSize::s32}, // halfway: the larger
        {20, FontSize::s18}, {22, FontSize::s24}, {27, FontSize::s24}, {29, FontSize::s32},
        {13, FontSize::s14}, {6, FontSize::s14},  {0, FontSize::s14},  {-16, FontSize::s14},
        {33, FontSize::s32}, {128, FontSize::s32},
        {std::numeric_limits<std::int64_t>::min(), FontSize::s14},
        {std::numeric_limits<std::int64_t>::max(), FontSize::s32},
    };
    for (const auto& c : cases) EXPECT_EQ(nearestFontSize(c.stored), c.size) << c.stored;
}

// --- highlight, selection, clicks ------------------------------------------

TEST_F(CandidateFixture, ClickHighlightsThenCommits) {
    auto w = make<CandidatesHController>();
    delegate.list = pairs(5);
    w->showAtCaret(&client);
    EXPECT_EQ(delegate.selections, (std::vector<std::string>{"aa"}));
    w->click(3);
    EXPECT_EQ(w->selectedIndex(), 3);
    EXPECT_EQ(delegate.selections.back(), "ad");
    EXPECT_TRUE(w->visiableCandidateCells()[3]->isSelected);
    EXPECT_FALSE(w->visiableCandidateCells()[0]->isSelected);
    EXPECT_EQ(delegate.commits, 0);
    w->click(3);
    EXPECT_EQ(delegate.commits, 1);
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(w->selectedIndex(), 0);
    // A screen reader's press is a click.
    w->showAtCaret(&client);
    EXPECT_TRUE(w->visiableCandidateCells()[0]->accessibilityPerformPress());
    EXPECT_EQ(delegate.commits, 2);
}

TEST_F(CandidateFixture, ClicksOnOtherWindowsAndGoneWindowsReachNoOne) {
    auto first = make<CandidatesHController>();
    auto second = make<CandidatesHController>();
    delegate.list = pairs(5);
    first->showAtCaret(&client);
    second->showAtCaret(&client);
    second->click(2);
    EXPECT_EQ(second->selectedIndex(), 2);
    EXPECT_EQ(first->selectedIndex(), 0);
    // A cell object of a destroyed window posted later is ignored by the survivor.
    CandidateCell* stale = second->resuseCandidateCells()[1].get();
    second.reset();
    notifications.post(DidClickCandidate, stale);
    notifications.post(DidClickCandidate, std::string("not a cell"));
    EXPECT_EQ(first->selectedIndex(), 0);
    EXPECT_TRUE(first->isVisible());
}

TEST_F(CandidateFixture, PageTurnOntoAShorterPageHighlightsAndReportsItsFirstCell) {
    for (const bool vertical : {false, true}) {
        set([&](Settings& s) { s.candidateNumber = 7; });
        std::unique_ptr<CandidateController> w;
        if (vertical) w = make<CandidatesVController>();
        else w = make<CandidatesHController>();
        delegate.list = pairs(11); // pages of 7 and 4
        delegate.selections.clear();
        w->showAtCaret(&client);
        w->highlightCandidate(6);
        ASSERT_TRUE(w->nextPage());
        EXPECT_EQ(w->selectedIndex(), 0);
        EXPECT_FALSE(w->highlightView().hidden);
        EXPECT_EQ(delegate.selections.back(), "ah");
        EXPECT_TRUE(w->visiableCandidateCells()[0]->isSelected);
        // Back to the long page: the place is kept.
        w->highlightCandidate(2);
        ASSERT_TRUE(w->previousPage());
        EXPECT_EQ(w->selectedIndex(), 2);
        EXPECT_EQ(delegate.selections.back(), "ac");
    }
}

TEST_F(CandidateFixture, OutOfRangeHighlightHidesAndTellsNothing) {
    auto w = make<CandidatesHController>();
    delegate.list = pairs(3);
    w->showAtCaret(&client);
    w->highlightCandidate(2);
    const auto told = delegate.selections.size();
    for (const int index : {-1, 3, 9}) {
        w->highlightCandidate(index);
        EXPECT_EQ(w->selectedIndex(), 0) << index;
        EXPECT_TRUE(w->highlightView().hidden) << index;
    }
    EXPECT_EQ(delegate.selections.size(), told);
}

TEST_F(CandidateFixture, SelectNoBackgroundHidesTheHighlightButStillSelects) {
    set([](Settings& s) { s.selectNoBG = true; });
    auto w = make<CandidatesHController>();
    delegate.list = pairs(3);
    w->showAtCaret(&client);
    w->highlightCandidate(1);
    EXPECT_TRUE(w->highlightView().hidden);
    EXPECT_TRUE(w->visiableCandidateCells()[1]->isSelected);
    EXPECT_EQ(delegate.selections.back(), "ab");
    EXPECT_EQ(w->visiableCandidateCells()[1]->contentField.color, CandidateColors::noBackgroundSelection());
    EXPECT_EQ(w->visiableCandidateCells()[1]->numberField.color, Color::white());
}

TEST_F(CandidateFixture, PageButtonsTurnPages) {
    auto w = make<CandidatesHController>();
    delegate.list = pairs(20);
    w->showAtCaret(&client);
    w->pressDownButton();
    EXPECT_EQ(w->currentPage(), 1);
    w->pressDownButton();
    w->pressDownButton(); // past the last page: nothing
    EXPECT_EQ(w->currentPage(), 2);
    w->pressUpButton();
    EXPECT_EQ(w->currentPage(), 1);
    EXPECT_EQ(w->upButton().accessibilityTitle, "上一页");
    EXPECT_EQ(w->downButton().accessibilityTitle, "下一页");
}

TEST_F(CandidateFixture, EmptyListOrNoDelegateClosesTheWindow) {
    auto w = make<CandidatesVController>();
    delegate.list = pairs(3);
    w->showAtCaret(&client);
    ASSERT_TRUE(w->isVisible());
    delegate.list.clear();
    w->showAtCaret(&client);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(w->candidates().empty());
    delegate.list = pairs(3);
    w->setDelegate(nullptr);
    w->reloadCandidates();
    EXPECT_TRUE(w->candidates().empty());
    // Select with nothing to commit still closes.
    w->selectCandidate();
    EXPECT_EQ(delegate.commits, 0);
    EXPECT_FALSE(w->isVisible());
}

// --- placement -------------------------------------------------------------

TEST_F(CandidateFixture, PlacementAtTheCaret) {
    struct Case {
        const char* name;
        bool vertical;
        plat::TextRect caret;
        std::vector<Rect> screens;
        Point mouse;
        std::optional<Point> origin; // none: not shown
        FontSize size = FontSize::s16;
        int count = 3;
        double lineFactor = 1.0;
    };
    const Rect main{{0, 0}, {1920, 1080}};
    const Rect side{{1920, 0}, {1280, 1024}};
    const Rect low{{0, 0}, {1280, 800}};
    // Three candidates: the row is 140 x 30, the column 335 x 90. Twelve at
    // 32 points in rows 70 high: the column is 335 x 604, too tall for the
    // 800-point screen both above and below a caret in the middle.
    const Case cases[] = {
        {"row below the caret", false, {500, 500, 2, 20}, {main}, {}, Point{485, 465}},
        {"row near the bottom goes up 70", false, {500, 60, 2, 20}, {main}, {}, Point{485, 95}},
        {"row at the right edge", false, {1900, 500, 2, 20}, {main}, {}, Point{1780, 465}},
        {"row at the left edge is held at the edge", false, {5, 500, 2, 20}, {main}, {}, Point{0, 465}},
        {"unknown caret: the mouse", false, {0, 0, 0, 0}, {main}, {300, 400}, Point{285, 365}},
        {"second screen", false, {3190, 500, 2, 20}, {main, side}, {}, Point{3060, 465}},
        {"outside every screen: on the main screen", false, {2500, 2000, 2, 20}, {main}, {}, Point{1780, 1050}},
        {"no screen: not shown", false, {500, 500, 2, 20}, {}, {}, std::nullopt},
        {"column below the caret", true, {500, 500, 2, 20}, {main}, {}, Point{485, 405}},
        {"column near the bottom goes above", true, {500, 150, 2, 20}, {main}, {}, Point{485, 185}},
        {"column at the right edge", true, {1900, 500, 2, 20}, {main}, {}, Point{1585, 405}},
        {"tall column, room below", true, {500, 620, 2, 20}, {low}, {}, Point{485, 11}, FontSize::s32, 12, 2.0},
        {"tall column, room above", true, {500, 150, 2, 20}, {low}, {}, Point{485, 185}, FontSize::s32, 12, 2.0},
        {"tall column, caret at 580: beside", true, {500, 580, 2, 20}, {low}, {}, Point{507, 0}, FontSize::s32, 12,
         2.0},
        {"tall column, caret at 400: beside", true, {500, 400, 2, 20}, {low}, {}, Point{507, 0}, FontSize::s32, 12,
         2.0},
        {"tall column, caret at 200: beside", true, {500, 200, 2, 20}, {low}, {}, Point{507, 0}, FontSize::s32, 12,
         2.0},
        {"tall column, no room right: left of the caret", true, {1100, 400, 2, 20}, {low}, {}, Point{760, 0},
         FontSize::s32, 12, 2.0},
        {"tall column on a short screen: top level with the line", true, {500, 400, 2, 20},
         {Rect{{0, -200}, {1280, 1000}}}, {}, Point{507, -184}, FontSize::s32, 12, 2.0},
    };
    for (const auto& c : cases) {
        screens = std::make_shared<FixedScreens>(c.screens, c.mouse);
        std::unique_ptr<CandidateController> w;
        if (c.vertical) w = make<CandidatesVController>(c.lineFactor);
        else w = make<CandidatesHController>(c.lineFactor);
        w->setFontSize(c.size);
        delegate.list = pairs(c.count);
        client.setLineRect(c.caret);
        w->showAtCaret(&client);
        EXPECT_EQ(w->isVisible(), c.origin.has_value()) << c.name;
        if (c.origin) {
            EXPECT_EQ(w->frame().origin, *c.origin) << c.name;
        }
    }
}

// Every layout and font size, the caret anywhere on a 1280 x 800 screen:
// the window stays whole on the screen and never lies over the caret.
TEST_F(CandidateFixture, PlacementKeepsTheWindowOnTheScreen) {
    const Rect screen{{0, 0}, {1280, 800}};
    screens = std::make_shared<FixedScreens>(std::vector<Rect>{screen}, Point{});
    const double caretHeight = 20;
    for (const bool vertical : {false, true})
        for (const FontSize size : {FontSize::s14, FontSize::s16, FontSize::s18, FontSize::s24, FontSize::s32})
            for (const double caretY : {780.0, 680.0, 500.0, 400.0, 150.0, 60.0, 0.0})
                for (const double caretX : {0.0, 640.0, 1275.0}) {
                    std::unique_ptr<CandidateController> w;
                    if (vertical) w = make<CandidatesVController>(2.0);
                    else w = make<CandidatesHController>(2.0);
                    w->setFontSize(size);
                    delegate.list = pairs(9);
                    client.setLineRect({caretX, caretY, 2, caretHeight});
                    w->showAtCaret(&client);
                    const Rect f = w->frame();
                    const std::string name = std::string(vertical ? "column" : "row") + " at " +
                                             std::to_string(static_cast<int>(size)) + ", caret (" +
                                             std::to_string(caretX) + ", " + std::to_string(caretY) + ")";
                    ASSERT_TRUE(w->isVisible()) << name;
                    EXPECT_GE(f.minX(), screen.minX()) << name;
                    EXPECT_LE(f.maxX(), screen.maxX()) << name;
                    EXPECT_GE(f.minY(), screen.minY()) << name;
                    EXPECT_LE(f.maxY(), screen.maxY()) << name;
                    const bool besideLine = f.maxY() <= caretY || f.minY() >= caretY + caretHeight;
                    const bool besideCaret = f.maxX() <= caretX || f.minX() >= caretX + 2;
                    // A caret at (0, 0) is no caret: the window goes to the mouse.
                    if (caretX != 0.0 || caretY != 0.0) {
                        EXPECT_TRUE(besideLine || besideCaret) << name << " covers the caret";
                    }
                }
}

// A tall column at the largest font with the caret near the top of the
// screen: below the caret, not off the top.
TEST_F(CandidateFixture, TallColumnNearTheTopGoesBelowTheCaret) {
    const Rect screen{{0, 0}, {1280, 800}};
    screens = std::make_shared<FixedScreens>(std::vector<Rect>{screen}, Point{});
    auto w = make<CandidatesVController>(2.0);
    w->setFontSize(FontSize::s32);
    delegate.list = pairs(9);
    client.setLineRect({300, 680, 2, 20});  // 100 pixels from the top
    w->showAtCaret(&client);
    ASSERT_TRUE(w->isVisible());
    ASSERT_GT(w->frame().size.height, 400);
    EXPECT_EQ(w->frame().maxY(), 680 - 5);
}

// Ten candidates as the engine gives them: long words, a hint, English.
const std::vector<std::string> kLongCandidates{
    "中华人民共和国", "中国人", "zhongguoren", "中国dj%dA8.Czhgu", "中华人民共和国成立",
    "Zhongguo",       "众国人", "种过",        "重过",               "中"};

// Windows as wide and tall as real ones: wide characters a point size wide,
// lines 1.25 point sizes high.
CandidateEnvironment realSizes(CandidateEnvironment env) {
    env.measurer = std::make_shared<FixedWidthMeasurer>();
    return env;
}

bool overlaps(const Rect& a, const Rect& b) {
    return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

// Every layout and size, lines of real heights anywhere on an 800-point
// screen, a composition of six line heights ending at the caret (its own
// width, when the client does not say where it begins): the window is on
// the screen, never over the caret, and over the composition only when it
// fits nowhere else; a column is cut short only then.
TEST_F(CandidateFixture, PlacementClearsTheCaretAndTheCompositionAcrossTheScreen) {
    const Rect screen{{0, 0}, {1280, 800}};
    screens = std::make_shared<FixedScreens>(std::vector<Rect>{screen}, Point{640, 400});
    int failures = 0;
    for (const bool vertical : {false, true})
        for (const FontSize size : {FontSize::s14, FontSize::s16, FontSize::s18, FontSize::s24, FontSize::s32}) {
            std::unique_ptr<CandidateController> w;
            if (vertical) w = std::make_unique<CandidatesVController>(realSizes(environment()));
            else w = std::make_unique<CandidatesHController>(realSizes(environment()));
            w->setDelegate(&delegate);
            w->setFontSize(size);
            delegate.list = kLongCandidates;
            // The column whole: its height where there is room below the caret.
            client.compose("zhongguoren", {100, 700, 0, 20}, {300, 700, 2, 20});
            w->showAtCaret(&client);
            const double wholeHeight = w->frame().size.height;
            for (const double lineHeight : {17.0, 24.0, 40.0})
                for (const double top : {0.0, 40.0, 100.0, 300.0, 390.0, 500.0, 600.0, 698.0, 740.0, 773.0,
                                         800.0 - lineHeight})
                    for (const double caretX : {1.0, 100.0, 400.0, 559.0, 640.0, 859.0, 1000.0, 1189.0, 1270.0,
                                                1278.0}) {
                        const double y = screen.maxY() - top - lineHeight;
                        const double startX = std::max(0.0, caretX - 6 * lineHeight);
                    for (const bool startKnown : {true, false}) {
                        client.compose("zhongguoren", {startX, y, 0, lineHeight}, {caretX, y, 2, lineHeight});
                        if (!startKnown) client.markedStart.reset();
                        w->showAtCaret(&client);
                        const Rect f = w->frame();
                        const Rect caret{{caretX, y}, {2, lineHeight}};
                        // Unknown to the window, the composition is "zhongguoren"
                        // as wide as the measurer makes it at the line's height.
                        const double ownX = std::max(0.0, caretX - (11 * lineHeight / 2 + 4));
                        const double from = startKnown ? startX : ownX;
                        const Rect composition{{from, y}, {caretX + 2 - from, lineHeight}};
                        // Where a window of this size could stand clear of both.
                        const auto roomFor = [&](Size s) {
                            const double gap = CandidateController::kCaretGap;
                            return composition.maxY() + s.height <= screen.maxY() ||
                                   composition.minY() - s.height >= screen.minY() ||
                                   (caret.maxX() + gap + s.width <= screen.maxX() && s.height <= screen.size.height) ||
                                   composition.minX() - gap - s.width >= screen.minX();
                        };
                        const Size whole{f.size.width, vertical ? wholeHeight : f.size.height};
                        std::string fault;
                        if (!w->isVisible()) fault = "not shown";
                        else if (f.minX() < screen.minX() || f.maxX() > screen.maxX() || f.minY() < screen.minY() ||
                                 f.maxY() > screen.maxY())
                            fault = "off the screen";
                        else if (overlaps(f, caret)) fault = "over the caret";
                        else if (roomFor(f.size) && overlaps(f, composition)) fault = "over the composition";
                        else if (roomFor(whole) && f.size != whole) fault = "cut short with room for all";
                        if (fault.empty()) continue;
                        if (++failures <= 20)
                            ADD_FAILURE() << (vertical ? "column" : "row") << " at " << static_cast<int>(size)
                                          << ", line " << lineHeight << " at y-down " << top << ", caret x "
                                          << caretX << ": " << fault << " (window " << f.minX() << "," << f.minY()
                                          << " " << f.size.width << "x" << f.size.height << ")"
                                          << (startKnown ? "" : ", start unknown");
                    }
                    }
        }
    EXPECT_EQ(failures, 0);
}

// The faults as they were seen, y down on an 800-point screen.
TEST_F(CandidateFixture, PlacementOfLongRowsAndTallColumnsNearTheEdges) {
    struct Case {
        const char* name;
        bool vertical;
        FontSize size;
        plat::TextRect caret;
        double compositionStart;
        Rect frame;
        int rows = 9;
        std::optional<double> startY = std::nullopt;  // none: on the caret's line
    };
    const Case cases[] = {
        // The caret at y-down 698-715: too low for the row below, above the line.
        {"row at 32, line 85-102", false, FontSize::s32, {559, 85, 2, 17}, 459, {{408, 107}, {872, 50}}, 0},
        {"row at 32, line 10-27", false, FontSize::s32, {859, 10, 2, 17}, 759, {{408, 32}, {872, 50}}, 0},
        {"row at 24, tall line 70-110", false, FontSize::s24, {1189, 70, 2, 40}, 1089, {{698, 115}, {582, 40}}, 0},
        {"row at 16 keeps its 70 above a short line", false, FontSize::s16, {500, 20, 2, 17}, 400,
         {{485, 55}, {394, 30}}, 0},
        // Mid-screen at the right edge: left of where the composition begins.
        {"column at 32 at the right edge", true, FontSize::s32, {1270, 390, 2, 20}, 1170, {{830, 0}, {335, 450}}},
        // A composition wrapped from the line above: above both lines.
        {"column at 16, composition from the line above", true, FontSize::s16, {200, 60, 2, 20}, 1100,
         {{185, 105}, {335, 270}}, 9, 80},
        // A start far from the caret is stale: the caret's line alone.
        {"column at 16, stale start", true, FontSize::s16, {200, 60, 2, 20}, 1100, {{185, 95}, {335, 270}}, 9, 500},
        // A composition across the screen: the rows that fit above it.
        {"column at 32, composition across", true, FontSize::s32, {1100, 380, 2, 20}, 100,
         {{945, 405}, {335, 395}}, 8},
    };
    const Rect screen{{0, 0}, {1280, 800}};
    screens = std::make_shared<FixedScreens>(std::vector<Rect>{screen}, Point{});
    for (const auto& c : cases) {
        std::unique_ptr<CandidateController> w;
        if (c.vertical) w = std::make_unique<CandidatesVController>(realSizes(environment()));
        else w = std::make_unique<CandidatesHController>(realSizes(environment()));
        w->setDelegate(&delegate);
        w->setFontSize(c.size);
        delegate.list = kLongCandidates;
        client.compose("zhongguoren", {c.compositionStart, c.startY.value_or(c.caret.y), 0, c.caret.height}, c.caret);
        w->showAtCaret(&client);
        EXPECT_EQ(w->frame(), c.frame) << c.name;
        if (c.rows) {
            EXPECT_EQ(w->visibleCandidateCount(), c.rows) << c.name;
        }
    }
}

// The client says nothing of where the composition begins, or a place it
// cannot begin (a line far away, right of the caret: the window moved since
// it was heard): the window keeps clear of the marked text's own width left
// of the caret. A tall column at the right edge stands left of it.
TEST_F(CandidateFixture, CompositionOfUnknownStartIsKeptClearByItsOwnWidth) {
    const Rect screen{{0, 0}, {1280, 800}};
    screens = std::make_shared<FixedScreens>(std::vector<Rect>{screen}, Point{});
    // "zhongguoren" on a 20-point line is 11 x 10 + 4 wide.
    const plat::TextRect caret{1270, 390, 2, 20};
    const double measured = 1270 - 114;
    struct Case {
        const char* name;
        bool vertical;
        std::optional<plat::TextRect> start;
        double compositionStart;  // what the window keeps clear of
        double maxX;
    };
    const Case cases[] = {
        {"column, start unknown", true, std::nullopt, measured, measured - 5},
        {"column, start far below", true, plat::TextRect{100, 100, 0, 20}, measured, measured - 5},
        {"column, start right of the caret", true, plat::TextRect{1276, 390, 0, 20}, measured, measured - 5},
        {"column, start known", true, plat::TextRect{1170, 390, 0, 20}, 1170, 1170 - 5},
        // A row fits below: the width changes nothing there.
        {"row, start unknown", false, std::nullopt, measured, screen.maxX()},
    };
    for (const auto& c : cases) {
        std::unique_ptr<CandidateController> w;
        if (c.vertical) w = std::make_unique<CandidatesVController>(realSizes(environment()));
        else w = std::make_unique<CandidatesHController>(realSizes(environment()));
        w->setDelegate(&delegate);
        w->setFontSize(FontSize::s32);
        delegate.list = kLongCandidates;
        client.compose("zhongguoren", c.start.value_or(plat::TextRect{}), caret);
        if (!c.start) client.markedStart.reset();
        w->showAtCaret(&client);
        const Rect f = w->frame();
        const Rect composition{{c.compositionStart, caret.y},
                               {caret.x + caret.width - c.compositionStart, caret.height}};
        EXPECT_FALSE(overlaps(f, composition)) << c.name << " covers the composition";
        EXPECT_EQ(f.maxX(), c.maxX) << c.name;
        EXPECT_GE(f.minX(), screen.minX()) << c.name;
        EXPECT_GE(f.minY(), screen.minY()) << c.name;
    }
}

// A column cut short pages on in pages of its rows; placed where there is
// room it is whole again.
TEST_F(CandidateFixture, ShortenedColumnPagesOnAndIsWholeWhereThereIsRoom) {
    screens = std::make_shared<FixedScreens>(std::vector<Rect>{Rect{{0, 0}, {1280, 800}}}, Point{});
    CandidatesVController w(realSizes(environment()));
    w.setDelegate(&delegate);
    w.setFontSize(FontSize::s32);
    delegate.list = kLongCandidates;
    client.compose("zhongguoren", {100, 380, 0, 20}, {1100, 380, 2, 20});
    w.showAtCaret(&client);
    ASSERT_EQ(w.visibleCandidateCount(), 8);
    // Every row whole inside the window.
    for (const auto* cell : w.visiableCandidateCells()) {
        EXPECT_GE(cell->frame.minY(), 0);
        EXPECT_LE(cell->frame.maxY(), w.frame().size.height);
    }
    EXPECT_TRUE(w.nextPage());
    EXPECT_EQ(w.pageRange(), (Ranges{{0, 8}, {8, 2}}));
    EXPECT_TRUE(w.previousPage());
    EXPECT_EQ(w.visibleCandidateCount(), 8);

    client.compose("zhongguoren", {100, 700, 0, 20}, {300, 700, 2, 20});
    w.showAtCaret(&client);
    EXPECT_EQ(w.visibleCandidateCount(), 9);
    EXPECT_EQ(w.frame(), (Rect{{285, 245}, {335, 450}}));

    // A count per page is kept: the column is not cut, it stands over the composition.
    set([](Settings& s) { s.candidateNumber = 9; });
    client.compose("zhongguoren", {100, 380, 0, 20}, {1100, 380, 2, 20});
    w.showAtCaret(&client);
    EXPECT_EQ(w.visibleCandidateCount(), 9);
    EXPECT_EQ(w.frame().maxX(), 1100 - 5);
}

TEST_F(CandidateFixture, NoClientDoesNothing) {
    auto w = make<CandidatesHController>();
    delegate.list = pairs(3);
    w->showAtCaret(nullptr);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(w->candidates().empty());
}

// --- appearance --------------------------------------------------------------

TEST_F(CandidateFixture, LightAndDarkColours) {
    set([](Settings& s) {
        s.candidateFontColorLight = 0x1020304050; // only the low 24 bits count
        s.candidateFontColorDark = 0xFFFFFF;
    });
    for (const bool dark : {false, true}) {
        appearance->dark = dark;
        auto h = make<CandidatesHController>();
        delegate.list = pairs(3);
        h->showAtCaret(&client);
        EXPECT_EQ(h->background(), dark ? CandidateColors::darkColor() : Color::white());
        EXPECT_EQ(h->background().hexString(), dark ? "1F1F2B" : "FFFFFF");
        EXPECT_EQ(h->upButton().image, dark ? CandidatesHController::PageButton::Image::upWhite
                                            : CandidatesHController::PageButton::Image::upBlack);
        EXPECT_EQ(h->downButton().image, dark ? CandidatesHController::PageButton::Image::downWhite
                                              : CandidatesHController::PageButton::Image::downBlack);
        const auto& selected = *h->visiableCandidateCells()[0];
        const auto& other = *h->visiableCandidateCells()[1];
        EXPECT_EQ(selected.contentField.color, Color::white());
        EXPECT_EQ(selected.numberField.color, Color::white());
        EXPECT_EQ(other.contentField.color.hexString(), dark ? "FFFFFF" : "304050");
        EXPECT_EQ(other.numberField.color, dark ? CandidateColors::lightGray() : CandidateColors::gray());
        EXPECT_FALSE(h->highlightView().hidden);
        EXPECT_EQ(h->highlightView().background, CandidateColors::selectedContentBackground());

        auto v = make<CandidatesVController>();
        v->showAtCaret(&client);
        EXPECT_EQ(v->background(), dark ? CandidateColors::darkColor() : Color::white());
    }
}

// --- what screen readers hear --------------------------------------------------

TEST_F(CandidateFixture, AccessibilityEvents) {
    using K = AccessibilityEvent::Kind;
    auto w = make<CandidatesHController>();
    delegate.list = pairs(12);
    w->showAtCaret(&client);
    // The highlight of the first cell, then the shown window's first cell.
    EXPECT_EQ(view->events, (std::vector<AccessibilityEvent>{{K::focusedUIElementChanged, 0},
                                                             {K::focusedUIElementChanged, 0}}));
    view->events.clear();
    w->highlightCandidate(4);
    w->nextPage(); // five cells on the next page: the place is kept
    w->close();
    EXPECT_EQ(view->events, (std::vector<AccessibilityEvent>{{K::focusedUIElementChanged, 4},
                                                             {K::focusedUIElementChanged, 4},
                                                             {K::applicationHidden, -1}}));
    EXPECT_GT(view->changes, 0);
    // A cell's frame on screen is the window's origin plus its own.
    w->showAtCaret(&client);
    const auto& cell = *w->visiableCandidateCells()[1];
    EXPECT_EQ(cell.accessibilityFrame(),
              (Rect{{w->frame().origin.x + cell.frame.origin.x, w->frame().origin.y + cell.frame.origin.y},
                    cell.frame.size}));
    EXPECT_EQ(cell.accessibilityRole(), "AXButton");
    // A cell of no page: its own frame.
    const auto& spare = *w->resuseCandidateCells()[8];
    EXPECT_FALSE(spare.inWindow());
    EXPECT_EQ(spare.accessibilityFrame(), spare.frame);
}

// A window refreshed key after key keeps only what the page on screen needs,
// and by default writes no trace lines.
TEST_F(CandidateFixture, ManyRefreshesKeepNothingBehind) {
    plat::LogCapture capture;
    auto w = make<CandidatesHController>();
    delegate.list = pairs(40);
    for (int i = 0; i < 5000; ++i) {
        w->showAtCaret(&client);
        w->nextPage();
        w->nextPage();
        w->click(i % 3);
    }
    EXPECT_LE(w->pageRange().size(), 3u);
    EXPECT_LE(w->visiableCandidateCells().size(), 9u);
    EXPECT_EQ(w->resuseCandidateCells().size(), 9u);
    EXPECT_TRUE(capture.lines().empty());
}

} // namespace
} // namespace taviro::test
