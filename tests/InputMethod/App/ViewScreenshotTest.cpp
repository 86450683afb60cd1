// The About window and the status hint drawn offscreen, saved as PNGs under
// the build tree for a look, and the image tinting.
#include "InputMethod/App/AboutController.h"
#include "InputMethod/App/Desktop/AboutWindow.h"
#include "InputMethod/App/Desktop/Images.h"
#include "InputMethod/App/Desktop/StatusHintView.h"
#include "InputMethod/StatusHint.h"
#include "InputMethod/App/Updater.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/ManualDriver.h"
#include "Platform/InputMethodKit/ScriptedClient.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

namespace taviro::test {
namespace {

namespace fs = std::filesystem;

QApplication& app() {
    static int argc = 1;
    static char name[] = "test_app_views";
    static char* argv[] = {name, nullptr};
    static QApplication* a = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new QApplication(argc, argv);
    }();
    return *a;
}

fs::path shot(const std::string& name) {
    const fs::path dir = fs::path(TAVIRO_SCREENSHOT_DIR);
    fs::create_directories(dir);
    return dir / name;
}

struct FakeUpdater : Updater {
    double interval = 604800;
    void checkForUpdateInformation() override {}
    void checkForUpdates() override {}
    void checkForUpdatesInBackground() override {}
    double updateCheckInterval() const override { return interval; }
    void setUpdateCheckInterval(double s) override { interval = s; }
};

TEST(AboutWindowView, ShowsTheControllersVersionAndIntervalLightAndDark) {
    app();
    plat::MainQueue queue;
    for (bool dark : {false, true}) {
        FakeUpdater updater;
        AboutWindow window(std::make_unique<AboutController>(&updater, "2.0.0", "200", &queue), dark, nullptr);
        window.show();
        auto* version = window.findChild<QLabel*>("versionLabel");
        ASSERT_TRUE(version);
        EXPECT_EQ(version->text().toStdString(), "Version 2.0.0 (build 200)");
        auto* popup = window.findChild<QComboBox*>("updateFreqPop");
        ASSERT_TRUE(popup);
        EXPECT_EQ(popup->currentIndex(), 1);
        EXPECT_EQ(popup->count(), 4);
        EXPECT_EQ(window.size(), QSize(360, 230));
        const QImage image = window.grab().toImage();
        EXPECT_EQ(image.pixelColor(3, 3), dark ? QColor(Qt::black) : QColor(Qt::white));
        ASSERT_TRUE(image.save(QString::fromStdString(shot(dark ? "about-dark.png" : "about-light.png").string())));

        // The community alert as a sheet on the window.
        QWidget* alert = window.showCommunityAlert(false);
        alert->show();
        alert->adjustSize();
        ASSERT_TRUE(alert->grab().save(QString::fromStdString(shot(dark ? "about-alert-dark.png" : "about-alert.png").string())));
        alert->close();
    }
}

TEST(StatusHintView, DrawsEachHintImageAtTheModelsFrame) {
    app();
    plat::MainQueue queue;
    plat::ManualDriver driver(queue);
    StatusHint::Environment env;
    env.queue = &queue;
    env.screens = [] { return std::vector<plat::TextRect>{{0, 0, 1280, 800}}; };
    StatusHint hint(env);
    plat::ScriptedClient client;
    client.setLineRect({200, 500, 1, 18});
    StatusHintView view;
    const struct {
        const char* text;
        bool dark;
        const char* image;
    } cases[] = {{"En", false, "en_light"}, {"中", true, "zhong_dark"}, {"简", false, "jian_light"},
                 {"繁", true, "fan_dark"}};
    for (const auto& c : cases) {
        hint.show(c.text, &client, c.dark, false);
        view.sync(hint, 800);
        EXPECT_EQ(view.imageName(), c.image);
        EXPECT_TRUE(view.isVisible());
        // 25 points below the line's origin, in pixels with y down.
        EXPECT_EQ(view.pos(), QPoint(200, 800 - (500 - 25) - 22));
        EXPECT_EQ(view.size(), QSize(22, 22));
        ASSERT_TRUE(view.grab().save(QString::fromStdString(shot(std::string("status-") + c.image + ".png").string())));
    }
    // One second after the last show the hint fades out, then hides.
    driver.advance(std::chrono::milliseconds(1000));
    view.sync(hint, 800);
    EXPECT_EQ(view.targetOpacity(), 0.0);
    for (int i = 0; i < 200 && view.isVisible(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(view.isVisible()) << "still shown after the fade";
    // Shown again while fading or hidden: visible again at once.
    hint.show("En", &client, false, false);
    view.sync(hint, 800);
    EXPECT_TRUE(view.isVisible());
    EXPECT_EQ(view.targetOpacity(), 1.0);
}

TEST(Images, EveryStatusHintNameHasAnImage) {
    app();
    for (const char* base : {"en", "zhong", "jian", "fan"})
        for (const char* variant : {"dark", "light"}) {
            auto img = statusHintImage(std::string(base) + "_" + variant);
            ASSERT_TRUE(img) << base << variant;
            EXPECT_EQ(img->image.size(), QSize(22, 22));
        }
    EXPECT_FALSE(statusHintImage("en"));
    EXPECT_FALSE(statusHintImage("en_blue"));
    EXPECT_FALSE(statusHintImage("x_dark"));
}

TEST(Images, TintingColoursOnlyOpaquePixelsOfTemplateImages) {
    app();
    auto source = std::make_shared<TemplateImage>();
    source->image = QImage(4, 2, QImage::Format_ARGB32_Premultiplied);
    source->image.fill(Qt::transparent);
    source->image.setPixelColor(0, 0, QColor(0, 0, 0, 255));
    source->image.setPixelColor(1, 0, QColor(10, 10, 10, 128));
    source->isTemplate = false;
    std::shared_ptr<const TemplateImage> plain = source;
    // Not a template: the very same object.
    EXPECT_EQ(tinted(plain, Qt::red).get(), plain.get());

    source->isTemplate = true;
    auto red = tinted(plain, QColor(255, 0, 0));
    ASSERT_NE(red.get(), plain.get());
    EXPECT_FALSE(red->isTemplate);
    EXPECT_TRUE(plain->isTemplate);  // the original is unchanged
    EXPECT_EQ(red->image.size(), plain->image.size());
    EXPECT_EQ(red->image.pixelColor(0, 0), QColor(255, 0, 0, 255));
    const QColor half = red->image.pixelColor(1, 0);
    EXPECT_EQ(half.alpha(), 128);
    EXPECT_EQ(half.red(), 255);
    EXPECT_EQ(half.green(), 0);
    EXPECT_EQ(red->image.pixelColor(2, 1).alpha(), 0);
    EXPECT_EQ(plain->image.pixelColor(0, 0), QColor(0, 0, 0, 255));
}

} // namespace
} // namespace taviro::test
