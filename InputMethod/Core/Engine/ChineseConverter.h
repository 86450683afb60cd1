#pragma once
#include <array>
#include <memory>
#include <string>
#include <string_view>

namespace taviro {

// Simplified/traditional conversion through OpenCC, one shared converter per
// "S2tType" mode.
class ChineseConverter {
public:
    // The OpenCC configuration of each mode, by "S2tType":
    // 0 traditional with Taiwan standard and idioms, 1 traditional with Hong Kong
    // standard, 2 simplified, 3 plain traditional.
    static constexpr std::array<const char*, 4> optionList = {"s2twp.json", "s2hk.json", "t2s.json", "s2t.json"};

    // The converter of a mode, built on first use and kept for the process;
    // nullptr for an index outside 0-3 or a configuration OpenCC cannot load.
    static const ChineseConverter* shared(int index);

    // The text converted by the mode at index; the text unchanged when there is
    // no converter for the index or the conversion fails. Never throws.
    static std::string convert(int index, std::string_view text);

    // The text converted; unchanged when the conversion fails. Never throws.
    std::string convert(std::string_view text) const;

    ~ChineseConverter();
    ChineseConverter(const ChineseConverter&) = delete;
    ChineseConverter& operator=(const ChineseConverter&) = delete;

private:
    struct Impl;
    explicit ChineseConverter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace taviro
