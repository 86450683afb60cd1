#include "InputMethod/Core/FuzzyPinyin.h"

#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/PyString.h"
#include "InputMethod/Core/Settings.h"

namespace taviro {
namespace {

struct Pair {
    bool Settings::*option;
    int found;
    int partner;
};

constexpr Pair kInitialPairs[] = {
    {&Settings::c2ch, ShengMu::ch, ShengMu::c}, {&Settings::c2ch, ShengMu::c, ShengMu::ch},
    {&Settings::s2sh, ShengMu::sh, ShengMu::s}, {&Settings::s2sh, ShengMu::s, ShengMu::sh},
    {&Settings::z2zh, ShengMu::zh, ShengMu::z}, {&Settings::z2zh, ShengMu::z, ShengMu::zh},
    {&Settings::l2n, ShengMu::l, ShengMu::n},   {&Settings::l2n, ShengMu::n, ShengMu::l},
    {&Settings::r2l, ShengMu::r, ShengMu::l},   {&Settings::r2l, ShengMu::l, ShengMu::r},
    {&Settings::f2h, ShengMu::f, ShengMu::h},   {&Settings::f2h, ShengMu::h, ShengMu::f},
};

constexpr Pair kFinalPairs[] = {
    {&Settings::an2ang, YunMu::an, YunMu::ang},   {&Settings::an2ang, YunMu::ang, YunMu::an},
    {&Settings::an2ang, YunMu::uan, YunMu::uang}, {&Settings::an2ang, YunMu::uang, YunMu::uan},
    {&Settings::en2eng, YunMu::eng, YunMu::en},   {&Settings::en2eng, YunMu::en, YunMu::eng},
    {&Settings::in2ing, YunMu::ing, YunMu::in},   {&Settings::in2ing, YunMu::in, YunMu::ing},
};

template <std::size_t N>
void appendPartners(const Pair (&pairs)[N], int value, const Settings& settings,
                    std::vector<int>& out, int joinWith) {
    for (const auto& pair : pairs)
        if (settings.*pair.option && pair.found == value) out.push_back(pair.partner | joinWith);
}

} // namespace

std::vector<int> fuzzyInitialAlternatives(int initial, const Settings& settings) {
    std::vector<int> out;
    appendPartners(kInitialPairs, initial, settings, out, 0);
    return out;
}

std::vector<int> fuzzyFinalAlternatives(int finalIndex, const Settings& settings) {
    std::vector<int> out;
    appendPartners(kFinalPairs, finalIndex, settings, out, 0);
    return out;
}

std::vector<std::vector<int>> expandFuzzySyllableCodes(
    const std::vector<std::vector<int>>& positions, const Settings& settings) {
    std::vector<std::vector<int>> result;
    result.reserve(positions.size());
    for (const auto& codes : positions) {
        std::vector<int> list = codes;
        const std::size_t original = list.size();
        for (std::size_t i = 0; i < original; ++i) {
            const int code = list[i];
            appendPartners(kInitialPairs, initialOf(code), settings, list, finalOf(code));
        }
        const std::size_t afterInitials = list.size();
        for (std::size_t i = 0; i < afterInitials; ++i) {
            const int code = list[i];
            appendPartners(kFinalPairs, finalOf(code), settings, list, initialOf(code));
        }
        result.push_back(std::move(list));
    }
    return result;
}

std::vector<int> fuzzyInitialAlternatives(int initial) {
    return fuzzyInitialAlternatives(initial, *ConfigManager::shared().settings());
}

std::vector<int> fuzzyFinalAlternatives(int finalIndex) {
    return fuzzyFinalAlternatives(finalIndex, *ConfigManager::shared().settings());
}

std::vector<std::vector<int>> expandFuzzySyllableCodes(
    const std::vector<std::vector<int>>& positions) {
    return expandFuzzySyllableCodes(positions, *ConfigManager::shared().settings());
}

} // namespace taviro
