#pragma once
#include <array>
#include <string_view>

namespace kelvane {

class ConfigManager;

// Presenter of the full-pinyin page: five corrections, each a check box over one
// setting. A click sets the setting and saves.
class QuanPinView {
public:
    struct Box {
        std::string_view name;  // outlet name
        std::string_view title; // shown beside the box
        bool ConfigManager::*field;
    };
    static const std::array<Box, 5>& boxes(); // gn2ng, mg2ng, uei2ui, uen2un, iou2iu

    explicit QuanPinView(ConfigManager& config) : config_(config) {}
    // The box's state as the settings hold it (read once when the page is built).
    bool state(size_t box) const;
    void toggle(size_t box, bool on);

private:
    ConfigManager& config_;
};

} // namespace kelvane
