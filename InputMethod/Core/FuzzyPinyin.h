#pragma once
// Fuzzy-pinyin alternatives of syllable codes under the fuzzy options
// ("Z2zh", "C2ch", "S2sh", "L2n", "R2l", "F2h", "An2ang", "En2eng", "In2ing").
// The overloads without settings read the current settings on every call.

#include <vector>

namespace taviro {

struct Settings;

// Partner initials of one bare-initial code, in the order C2ch, S2sh, Z2zh,
// L2n, R2l, F2h. The argument itself is never in the result.
std::vector<int> fuzzyInitialAlternatives(int initial);
std::vector<int> fuzzyInitialAlternatives(int initial, const Settings& settings);

// Partner final of one final index (an/ang, uan/uang, en/eng, in/ing); at most
// one value.
std::vector<int> fuzzyFinalAlternatives(int finalIndex);
std::vector<int> fuzzyFinalAlternatives(int finalIndex, const Settings& settings);

// Each position's codes followed by their fuzzy alternatives: first the
// initial partners of the original codes, then the final partners of every
// code present after that. Nothing is removed or deduplicated.
std::vector<std::vector<int>> expandFuzzySyllableCodes(
    const std::vector<std::vector<int>>& positions);
std::vector<std::vector<int>> expandFuzzySyllableCodes(
    const std::vector<std::vector<int>>& positions, const Settings& settings);

} // namespace taviro
