#pragma once
#include "Settings/App/SettingsController.h"

namespace kelvane {

// Geometry of a help pop-over: the text with a margin of 10 points on every side.
struct PopOverLayout {
    Size content;
    Rect label;
};
inline PopOverLayout popOverLayout(Size label) {
    return PopOverLayout{Size{label.width + 20, label.height + 20}, Rect{10, 10, label.width, label.height}};
}

} // namespace kelvane
