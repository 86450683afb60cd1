#include "InputMethod/Core/Engine/ChineseConverter.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using taviro::ChineseConverter;

// One sample that tells the four modes apart.
constexpr const char* kSample = "为台说床";

TEST(ChineseConverter, EachModeOnASample)
{
    struct Case {
        int index;
        const char* text;
        const char* converted;
    } cases[] = {
        {0, kSample, "為臺說床"},                       // Taiwan standard
        {0, "鼠标和软件", "滑鼠和軟體"},                 // with Taiwan idioms
        {1, kSample, "為台説牀"},                       // Hong Kong standard
        {2, "爲臺說牀與鼠標", "为台说床与鼠标"},         // simplified
        {3, kSample, "爲臺說牀"},                       // plain traditional
        {3, "", ""},
        {3, "abc 123", "abc 123"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChineseConverter::convert(c.index, c.text), c.converted) << "mode " << c.index << ": " << c.text;
}

TEST(ChineseConverter, ModesOutsideTheListConvertNothing)
{
    for (int index : {-1, 4, 100}) {
        EXPECT_EQ(ChineseConverter::shared(index), nullptr) << index;
        EXPECT_EQ(ChineseConverter::convert(index, kSample), kSample) << index;
    }
}

TEST(ChineseConverter, OneConverterPerMode)
{
    for (int index = 0; index < 4; ++index) {
        const ChineseConverter* first = ChineseConverter::shared(index);
        ASSERT_NE(first, nullptr) << index;
        EXPECT_EQ(ChineseConverter::shared(index), first) << index;
    }
    EXPECT_NE(ChineseConverter::shared(0), ChineseConverter::shared(3));
}

TEST(ChineseConverter, BrokenUtf8DoesNotThrow)
{
    const std::string broken = "\xE4\xB8";
    std::string out;
    EXPECT_NO_THROW(out = ChineseConverter::convert(3, broken));
}

// Threads racing for the first use of a mode share one converter and get the same text.
TEST(ChineseConverter, ThreadsShareTheFirstUse)
{
    std::vector<const ChineseConverter*> seen(8, nullptr);
    std::vector<std::string> texts(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            seen[t] = ChineseConverter::shared(1);
            texts[t] = ChineseConverter::convert(1, kSample);
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(seen[t], seen[0]);
        EXPECT_EQ(texts[t], "為台説牀");
    }
}

} // namespace
