#include "Platform/Dispatch/ManualDriver.h"
#include "Settings/Pages/PbarController.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

namespace kelvane {
namespace {

TEST(PbarControllerTest, ObservedFractionMovesTheBarOnTheMainQueue) {
    plat::ManualDriver driver(plat::MainQueue::shared());
    auto sheet = PbarController::make();
    int changes = 0;
    sheet->onChange = [&] { ++changes; };

    std::thread worker([&] {
        sheet->observeFractionCompleted(0.37);
        sheet->observeFractionCompleted(std::nullopt);
        sheet->observeFractionCompleted(std::numeric_limits<double>::quiet_NaN());
    });
    worker.join();
    EXPECT_EQ(sheet->value(), 0); // nothing moves off the main queue
    driver.pump();
    EXPECT_DOUBLE_EQ(sheet->value(), 37);
    EXPECT_EQ(changes, 1);
}

TEST(PbarControllerTest, UpdatesAfterTheSheetIsGoneAreDropped) {
    plat::ManualDriver driver(plat::MainQueue::shared());
    auto sheet = PbarController::make();
    sheet->observeFractionCompleted(0.5);
    sheet->dismiss();
    driver.pump();
    EXPECT_EQ(sheet->value(), 0);

    auto gone = PbarController::make();
    gone->observeFractionCompleted(0.5);
    gone.reset();
    driver.pump(); // must not touch the freed sheet
}

TEST(PbarControllerTest, FailureKeepsTheSheetOpenWithItsTextAndAnEnabledDoneButton) {
    auto sheet = PbarController::make();
    sheet->setMaxValue(10);
    sheet->setDoubleValue(4);
    sheet->incrementBy(1);
    sheet->setStringValue("导入中...");
    EXPECT_FALSE(sheet->doneEnabled());
    sheet->fail("码表编码格式错误");
    EXPECT_EQ(sheet->text(), "码表编码格式错误");
    EXPECT_TRUE(sheet->doneEnabled());
    EXPECT_FALSE(sheet->dismissed());
    EXPECT_EQ(sheet->value(), 5);
    EXPECT_EQ(sheet->maxValue(), 10);
    sheet->done();
    EXPECT_TRUE(sheet->dismissed());
}

} // namespace
} // namespace kelvane
