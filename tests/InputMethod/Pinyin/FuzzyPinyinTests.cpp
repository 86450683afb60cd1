#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/FuzzyPinyin.h"
#include "InputMethod/Core/PyString.h"
#include "InputMethod/Core/Settings.h"
#include "SyllableCodes.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace taviro {
namespace {

Settings with(std::initializer_list<bool Settings::*> options) {
    Settings s;
    for (auto option : options) s.*option = true;
    return s;
}

using test::code;
using test::codes;

TEST(FuzzyPinyin, InitialAlternatives) {
    const struct {
        const char* initial;
        Settings settings;
        std::vector<int> expected;
    } cases[] = {
        {"l", with({}), {}},
        {"l", with({&Settings::l2n}), codes({"n"})},
        {"l", with({&Settings::l2n, &Settings::r2l}), codes({"n", "r"})},
        {"r", with({&Settings::l2n, &Settings::r2l}), codes({"l"})},
        {"n", with({&Settings::l2n}), codes({"l"})},
        {"zh", with({&Settings::z2zh}), codes({"z"})},
        {"z", with({&Settings::z2zh}), codes({"zh"})},
        {"c", with({&Settings::c2ch}), codes({"ch"})},
        {"sh", with({&Settings::s2sh}), codes({"s"})},
        {"f", with({&Settings::f2h}), codes({"h"})},
        {"h", with({&Settings::f2h}), codes({"f"})},
        {"z", with({&Settings::c2ch, &Settings::s2sh}), {}},
        {"b", with({&Settings::z2zh, &Settings::c2ch, &Settings::s2sh, &Settings::l2n,
                    &Settings::r2l, &Settings::f2h}),
         {}},
        // A full syllable is no bare initial.
        {"zha", with({&Settings::z2zh}), {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fuzzyInitialAlternatives(code(c.initial), c.settings), c.expected) << c.initial;
}

TEST(FuzzyPinyin, FinalAlternatives) {
    const struct {
        int finalIndex;
        Settings settings;
        std::vector<int> expected;
    } cases[] = {
        {YunMu::an, with({}), {}},
        {YunMu::an, with({&Settings::an2ang}), {YunMu::ang}},
        {YunMu::ang, with({&Settings::an2ang}), {YunMu::an}},
        {YunMu::uan, with({&Settings::an2ang}), {YunMu::uang}},
        {YunMu::uang, with({&Settings::an2ang}), {YunMu::uan}},
        {YunMu::ian, with({&Settings::an2ang}), {}},
        {YunMu::en, with({&Settings::en2eng}), {YunMu::eng}},
        {YunMu::eng, with({&Settings::en2eng}), {YunMu::en}},
        {YunMu::in, with({&Settings::in2ing}), {YunMu::ing}},
        {YunMu::ing, with({&Settings::in2ing}), {YunMu::in}},
        {YunMu::in, with({&Settings::an2ang, &Settings::en2eng}), {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fuzzyFinalAlternatives(c.finalIndex, c.settings), c.expected) << c.finalIndex;
}

TEST(FuzzyPinyin, ExpandCodes) {
    const struct {
        std::vector<std::vector<int>> input;
        Settings settings;
        std::vector<std::vector<int>> expected;
    } cases[] = {
        {{}, with({&Settings::z2zh}), {}},
        {{codes({"zhan", "lv"})}, with({}), {codes({"zhan", "lv"})}},
        {{codes({"zhan"})}, with({&Settings::z2zh, &Settings::an2ang}),
         {codes({"zhan", "zan", "zhang", "zang"})}},
        {{codes({"sang"})}, with({&Settings::s2sh, &Settings::an2ang}),
         {codes({"sang", "shang", "san", "shan"})}},
        {{codes({"n"})}, with({&Settings::l2n, &Settings::an2ang}), {codes({"n", "l"})}},
        {{codes({"lan"})}, with({&Settings::l2n, &Settings::r2l}), {codes({"lan", "nan", "ran"})}},
        {{codes({"ran"})}, with({&Settings::l2n, &Settings::r2l}), {codes({"ran", "lan"})}},
        {{codes({"xian"})}, with({&Settings::an2ang}), {codes({"xian"})}},
        // Both partners present: each gains the other again.
        {{codes({"zi", "zhi"})}, with({&Settings::z2zh}), {codes({"zi", "zhi", "zhi", "zi"})}},
        // Positions stay apart and in order; the typed reading stays first.
        {{codes({"fen"}), codes({"ming"})}, with({&Settings::f2h, &Settings::in2ing}),
         {codes({"fen", "hen"}), codes({"ming", "min"})}},
        // A zero-initial syllable keeps initial 0.
        {{codes({"an"})}, with({&Settings::an2ang, &Settings::l2n}), {codes({"an", "ang"})}},
    };
    for (const auto& c : cases) EXPECT_EQ(expandFuzzySyllableCodes(c.input, c.settings), c.expected);
}

TEST(FuzzyPinyin, ReadsCurrentSettingsOnEveryCall) {
    auto& config = ConfigManager::shared();
    const int lan = code("lan");
    config.update([](Settings& s) { s.l2n = false; });
    EXPECT_TRUE(fuzzyInitialAlternatives(code("l")).empty());
    EXPECT_EQ(expandFuzzySyllableCodes({{lan}}), (std::vector<std::vector<int>>{{lan}}));
    config.update([](Settings& s) { s.l2n = true; s.an2ang = true; });
    EXPECT_EQ(fuzzyInitialAlternatives(code("l")), codes({"n"}));
    EXPECT_EQ(fuzzyFinalAlternatives(YunMu::an), std::vector<int>{YunMu::ang});
    EXPECT_EQ(expandFuzzySyllableCodes({{lan}}),
              (std::vector<std::vector<int>>{codes({"lan", "nan", "lang", "nang"})}));
    config.update([](Settings& s) { s.l2n = false; s.an2ang = false; });
}

} // namespace
} // namespace taviro
