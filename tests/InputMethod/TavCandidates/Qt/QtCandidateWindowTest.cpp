#include "../CandidateFixture.h"

#include "InputMethod/TavCandidates/Qt/QtCandidateView.h"
#include "InputMethod/TavCandidates/Qt/QtCandidateWindows.h"

#include <QAccessible>
#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QWheelEvent>

#include <cstdlib>
#include <filesystem>

namespace taviro::test {
namespace {

QApplication& app() {
    static QApplication* instance = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "test_candidates_qt";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *instance;
}

QColor colorOf(const Color& c) {
    const auto& v = c.components();
    if (v.size() < 4) return QColor::fromRgbF(float(v[0]), float(v[0]), float(v[0]));
    return QColor::fromRgbF(float(v[0]), float(v[1]), float(v[2]));
}

// Channels within 2 of each other (antialiasing aside, the fills are exact).
bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
           std::abs(a.blue() - b.blue()) <= 2;
}

class QtWindow : public CandidateFixture {
protected:
    void SetUp() override {
        app();
        std::filesystem::create_directories(TAVIRO_SCREENSHOT_DIR);
    }

    std::unique_ptr<CandidateController> make(bool vertical, bool dark) {
        setenv("TAVIRO_APPEARANCE", dark ? "dark" : "light", 1);
        CandidateEnvironment env;
        env.config = &config;
        env.notifications = &notifications;
        auto w = qt::makeCandidateWindow(vertical, env);
        w->setDelegate(&delegate);
        return w;
    }

    static qt::CandidateWidget& widget(CandidateController& w) {
        return static_cast<qt::QtCandidateView*>(w.view())->widget();
    }
};

struct Shot {
    const char* name;
    bool vertical;
    bool dark;
    FontSize size;
    std::vector<std::string> list;
    int highlight;
};

TEST_F(QtWindow, RendersWhatTheModelPromised) {
    const std::vector<std::string> words{"你好", "尼好", "拟好dj%dA8.Cnh", "你", "呢", "妮", "泥", "腻", "逆", "倪", "霓"};
    const Shot shots[] = {
        {"horizontal-light-16", false, false, FontSize::s16, words, 2},
        {"horizontal-dark-16", false, true, FontSize::s16, words, 0},
        {"horizontal-light-24-few", false, false, FontSize::s24, {"中国", "中", "种"}, 1},
        {"horizontal-dark-32", false, true, FontSize::s32, words, 1},
        {"vertical-light-16", true, false, FontSize::s16, words, 3},
        {"vertical-dark-18", true, true, FontSize::s18, words, 0},
        {"vertical-light-14-few", true, false, FontSize::s14, {"hello", "好", "号"}, 2},
        {"vertical-dark-32", true, true, FontSize::s32, words, 5},
    };
    for (const auto& shot : shots) {
        auto w = make(shot.vertical, shot.dark);
        w->setFontSize(shot.size);
        delegate.list = shot.list;
        client.setLineRect({40, 560, 2, 20});
        w->showAtCaret(&client);
        ASSERT_TRUE(w->isVisible()) << shot.name;
        w->highlightCandidate(shot.highlight);
        auto& view = widget(*w);
        ASSERT_TRUE(view.isVisible()) << shot.name;
        const QImage image = view.grab().toImage();
        const std::string path = std::string(TAVIRO_SCREENSHOT_DIR) + "/" + shot.name + ".png";
        ASSERT_TRUE(image.save(QString::fromStdString(path))) << path;

        // The size the model gave the window.
        EXPECT_EQ(image.width(), static_cast<int>(w->frame().size.width)) << shot.name;
        EXPECT_EQ(image.height(), static_cast<int>(w->frame().size.height)) << shot.name;
        if (shot.vertical) {
            EXPECT_EQ(image.width(), 335) << shot.name;
            // No empty band below the last row.
            EXPECT_LE(w->visiableCandidateCells().back()->frame.minY(), w->candidateSpace()) << shot.name;
        } else {
            EXPECT_EQ(image.height(), static_cast<int>(w->size().height)) << shot.name;
        }

        // The highlight is drawn behind the selected cell, nowhere else.
        const QColor background = colorOf(w->background());
        EXPECT_TRUE(near(image.pixelColor(0, 0), background)) << shot.name;
        const QRectF highlight = view.toWidget(w->highlightView().frame);
        const QPoint inside(static_cast<int>(highlight.right()) - 3, static_cast<int>(highlight.center().y()));
        EXPECT_TRUE(near(image.pixelColor(inside), colorOf(CandidateColors::selectedContentBackground())))
            << shot.name << " " << image.pixelColor(inside).name().toStdString();
        EXPECT_FALSE(near(image.pixelColor(inside), background)) << shot.name;
        const int other = shot.highlight == 0 ? 1 : 0;
        const QRectF otherCell = view.toWidget(w->visiableCandidateCells()[static_cast<std::size_t>(other)]->frame);
        EXPECT_TRUE(near(image.pixelColor(static_cast<int>(otherCell.right()) - 3, static_cast<int>(otherCell.center().y())),
                         background))
            << shot.name;
        // The text of the selected cell is drawn in white.
        bool textDrawn = false;
        for (int y = static_cast<int>(highlight.top()); y < static_cast<int>(highlight.bottom()); ++y)
            for (int x = static_cast<int>(highlight.left()); x < static_cast<int>(highlight.right()); ++x)
                textDrawn = textDrawn || near(image.pixelColor(x, y), Qt::white);
        EXPECT_TRUE(textDrawn) << shot.name;
    }
}

// Windows placed on a screen, drawn on a picture of it: the line, the
// composition ending at the caret, the caret, and the window where the model
// put it, which covers neither the caret nor the composition. Measured with
// the fonts the window draws with, a row is never wider than its screen and
// its pages hold every candidate.
TEST_F(QtWindow, PlacedClearOfTheCaretAndTheComposition) {
    struct Scene {
        const char* name;
        bool vertical;
        FontSize size;
        plat::TextRect caret;
        double compositionWidth;
        std::vector<std::string> list;
        Rect screen = {{0, 0}, {1280, 800}};
        long long candidateNumber = 0;
    };
    const std::vector<std::string> words{"你好", "尼好", "拟好", "你", "呢", "妮", "泥", "腻", "逆", "倪", "霓", "你们"};
    const std::vector<std::string> longWords{"中华人民共和国", "中国人",  "zhongguoren", "中国dj%dA8.Czhgu",
                                             "中华人民共和国成立", "Zhongguo", "众国人", "种过", "重过", "中"};
    const std::vector<std::string> sentence{"中华人民共和国成立了", "中华人民共和国", "中华人民", "中华", "zhonghua",
                                            "中国dj%dA8.Czhgu", "Zhonghua", "众华", "种花", "重话", "中"};
    const Scene scenes[] = {
        // The tallest column mid-screen: beside the caret.
        {"vertical-32-mid-screen-placement", true, FontSize::s32, {500, 390, 2, 20}, 100, words},
        // The widest rows near the bottom: above the line.
        {"horizontal-32-bottom-placement", false, FontSize::s32, {559, 85, 2, 17}, 120, longWords},
        {"horizontal-24-bottom-placement", false, FontSize::s24, {1189, 60, 2, 30}, 150, longWords},
        // The tallest column at the right edge: left of the composition.
        {"vertical-32-right-edge-placement", true, FontSize::s32, {1270, 390, 2, 20}, 160, longWords},
        // The 872-point row on a screen 800 wide, and nine long candidates
        // a page: as wide as the screen at most, below the caret.
        {"horizontal-32-800x600-placement", false, FontSize::s32, {300, 290, 2, 20}, 120, longWords,
         {{0, 0}, {800, 600}}},
        {"horizontal-32-nine-a-page-placement", false, FontSize::s32, {400, 390, 2, 20}, 150, sentence,
         {{0, 0}, {1280, 800}}, 9},
    };
    setenv("TAVIRO_APPEARANCE", "light", 1);
    for (const auto& scene : scenes) {
        const Rect& screen = scene.screen;
        const int width = static_cast<int>(screen.size.width), height = static_cast<int>(screen.size.height);
        set([&](Settings& s) { s.candidateNumber = scene.candidateNumber; });
        CandidateEnvironment env;
        env.config = &config;
        env.notifications = &notifications;
        env.screens = std::make_shared<FixedScreens>(std::vector<Rect>{screen}, Point{});
        auto w = qt::makeCandidateWindow(scene.vertical, env);
        w->setDelegate(&delegate);
        w->setFontSize(scene.size);
        delegate.list = scene.list;
        const plat::TextRect& caret = scene.caret;
        client.compose("zhongguo", {caret.x - scene.compositionWidth, caret.y, 0, caret.height}, caret);
        w->showAtCaret(&client);
        ASSERT_TRUE(w->isVisible()) << scene.name;
        const Rect f = w->frame();
        if (scene.vertical) {
            // Too tall for either side of the line.
            const double room = std::max(screen.maxY() - caret.y - caret.height, caret.y - screen.minY()) - 5;
            ASSERT_GT(f.size.height, room) << scene.name;
            EXPECT_LE(w->visiableCandidateCells().back()->frame.minY(), w->candidateSpace()) << scene.name;
        }

        QImage shot(width, height, QImage::Format_RGB32);
        shot.fill(QColor(0xE8, 0xE8, 0xE8));
        QPainter painter(&shot);
        const auto down = [&](double y, double h) { return static_cast<int>(screen.maxY() - y - h); };
        const QRect line(0, down(caret.y, caret.height), width, static_cast<int>(caret.height));
        painter.fillRect(line, QColor(0xC8, 0xD8, 0xF0));
        const QRect composition(static_cast<int>(caret.x - scene.compositionWidth), line.top(),
                                static_cast<int>(scene.compositionWidth), line.height());
        painter.fillRect(composition, QColor(0x90, 0xB0, 0xE0));
        const QRect caretBar(static_cast<int>(caret.x), line.top(), static_cast<int>(caret.width), line.height());
        painter.fillRect(caretBar, Qt::red);
        const QRect window(static_cast<int>(f.minX()), down(f.minY(), f.size.height),
                           static_cast<int>(f.size.width), static_cast<int>(f.size.height));
        painter.drawImage(window.topLeft(), widget(*w).grab().toImage());
        painter.end();
        const std::string path = std::string(TAVIRO_SCREENSHOT_DIR) + "/" + scene.name + ".png";
        ASSERT_TRUE(shot.save(QString::fromStdString(path))) << path;

        EXPECT_TRUE(QRect(0, 0, width, height).contains(window)) << scene.name;
        EXPECT_FALSE(window.intersects(caretBar)) << scene.name;
        EXPECT_FALSE(window.intersects(composition)) << scene.name;
        EXPECT_EQ(shot.pixelColor(caretBar.center()), QColor(Qt::red)) << scene.name;
        EXPECT_EQ(shot.pixelColor(composition.center()), QColor(0x90, 0xB0, 0xE0)) << scene.name;

        if (scene.vertical) continue;
        // Page on: every candidate comes, each page within the screen's width.
        int shown = 0;
        for (bool more = true; more; more = w->nextPage()) {
            shown += w->visibleCandidateCount();
            for (const auto* cell : w->visiableCandidateCells())
                EXPECT_LE(cell->frame.maxX(), screen.size.width) << scene.name << " page " << w->currentPage();
        }
        EXPECT_EQ(shown, static_cast<int>(scene.list.size())) << scene.name;
    }
}

TEST_F(QtWindow, NeverTakesFocus) {
    auto w = make(false, false);
    const auto& view = widget(*w);
    const auto flags = view.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(flags.testFlag(Qt::X11BypassWindowManagerHint));
    EXPECT_TRUE(view.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(view.focusPolicy(), Qt::NoFocus);
}

TEST_F(QtWindow, ClicksAndTheWheelReachTheModel) {
    auto w = make(false, false);
    delegate.list = {"你好", "尼好", "拟好", "你", "呢", "妮", "泥", "腻", "逆", "倪", "霓", "你们", "你的"};
    w->showAtCaret(&client);
    auto& view = widget(*w);
    const auto& cell = *w->visiableCandidateCells()[2];
    const QRectF cellRect = view.toWidget(cell.frame);
    const QPoint onText(static_cast<int>(cellRect.x() + cell.contentField.frame.origin.x + 4),
                        static_cast<int>(cellRect.center().y()));
    QTest::mouseClick(&view, Qt::LeftButton, {}, onText);
    EXPECT_EQ(w->selectedIndex(), 2);
    EXPECT_EQ(delegate.selections.back(), "拟好");
    // The number label takes no clicks.
    const QPoint onNumber(static_cast<int>(cellRect.x() + 3), static_cast<int>(cellRect.center().y()));
    QTest::mouseClick(&view, Qt::LeftButton, {}, onNumber);
    EXPECT_EQ(delegate.commits, 0);

    QWheelEvent down(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), {}, QPoint(0, -120), Qt::NoButton, {},
                     Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&view, &down);
    EXPECT_EQ(w->currentPage(), 1);
    // The page buttons.
    const auto* h = dynamic_cast<CandidatesHController*>(w.get());
    const QRectF up = view.toWidget(h->upButton().frame);
    QTest::mouseClick(&view, Qt::LeftButton, {}, up.center().toPoint());
    EXPECT_EQ(w->currentPage(), 0);
    // A second click on the highlighted candidate commits it.
    QTest::mouseClick(&view, Qt::LeftButton, {}, onText);
    QTest::mouseClick(&view, Qt::LeftButton, {}, onText);
    EXPECT_EQ(delegate.commits, 1);
    EXPECT_FALSE(view.isVisible());
}

TEST_F(QtWindow, ScreenReadersSeeOneButtonPerCandidate) {
    auto w = make(true, false);
    delegate.list = {"你好", "中国人", "好"};
    w->showAtCaret(&client);
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&widget(*w));
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->childCount(), 3);
    QAccessibleInterface* second = window->child(1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->role(), QAccessible::Button);
    EXPECT_EQ(second->text(QAccessible::Name).toStdString(), w->visiableCandidateCells()[1]->voiceOverDescription());
    EXPECT_EQ(window->indexOfChild(second), 1);
    EXPECT_EQ(second->parent(), window);
    // Pressing: a first press highlights, a second commits.
    auto* action = second->actionInterface();
    ASSERT_NE(action, nullptr);
    action->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(w->selectedIndex(), 1);
    action->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(delegate.commits, 1);
}

TEST_F(QtWindow, ArrowsTurnAboutTheirCentre) {
    // A 20 x 10 picture turned by 90 degrees keeps its size and its centre.
    QImage bar(20, 10, QImage::Format_ARGB32_Premultiplied);
    bar.fill(Qt::black);
    const QImage turned = qt::rotated(bar, 90);
    EXPECT_EQ(turned.size(), QSize(20, 10));
    EXPECT_EQ(turned.pixelColor(10, 5).alpha(), 255);
    EXPECT_EQ(turned.pixelColor(1, 5).alpha(), 0); // cut off at the ends
    const QImage up = qt::arrowImage(16, Qt::black, -90);
    // An up arrow: its tip near the top, its base across the lower part.
    EXPECT_GT(up.pixelColor(8, 4).alpha(), 0);
    EXPECT_GT(up.pixelColor(3, 11).alpha(), 0);
    EXPECT_EQ(up.pixelColor(2, 3).alpha(), 0);
    EXPECT_EQ(up.pixelColor(8, 14).alpha(), 0);
}

TEST_F(QtWindow, InstalledFactoryReplacesTheWindowKeepingDelegateAndSize) {
    CandidateWindowHolder holder;
    holder.setInitialLayout(true);
    holder.window().setDelegate(&delegate);
    holder.window().setFontSize(FontSize::s24);
    qt::installQtCandidateWindows(holder);
    auto* model = dynamic_cast<CandidatesVController*>(&holder.window());
    ASSERT_NE(model, nullptr);
    EXPECT_NE(dynamic_cast<qt::QtCandidateView*>(model->view()), nullptr);
    EXPECT_EQ(model->delegate(), &delegate);
    EXPECT_EQ(model->fontSize(), FontSize::s24);
    // A layout switch builds a Qt window too.
    EXPECT_NE(dynamic_cast<qt::QtCandidateView*>(dynamic_cast<CandidateController&>(holder.replace(false)).view()),
              nullptr);
}

TEST(QtPoints, CaretPixelsBecomePointsFromTheBottom) {
    app();
    const double bottom = QGuiApplication::primaryScreen()->geometry().bottom() + 1;
    EXPECT_EQ(qt::lineRectFromPixels(100, 50, 2, 20), (plat::TextRect{100, bottom - 70, 2, 20}));
    EXPECT_EQ(qt::primaryScreenBottom(), bottom);
}

} // namespace
} // namespace taviro::test
