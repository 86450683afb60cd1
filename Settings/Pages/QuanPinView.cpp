#include "Settings/Pages/QuanPinView.h"

#include "Settings/ConfigManager.h"

namespace kelvane {

const std::array<QuanPinView::Box, 5>& QuanPinView::boxes() {
    static const std::array<Box, 5> kBoxes = {{
        {"gn2ngBox", "gn = ng", &ConfigManager::gn2ng},
        {"mg2ngBox", "mg = ng", &ConfigManager::mg2ng},
        {"uei2uiBox", "uei = ui", &ConfigManager::uei2ui},
        {"uen2unBox", "uen = un", &ConfigManager::uen2un},
        {"iou2iuBox", "iou = iu", &ConfigManager::iou2iu},
    }};
    return kBoxes;
}

bool QuanPinView::state(size_t box) const { return box < boxes().size() && config_.*(boxes()[box].field); }

void QuanPinView::toggle(size_t box, bool on) {
    if (box >= boxes().size()) return;
    config_.*(boxes()[box].field) = on;
    config_.save();
}

} // namespace kelvane
