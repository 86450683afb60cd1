#include "Settings/Cloud/ProgressSheet.h"

namespace kelvane {

void ProgressSheet::present() {
    visible_ = true;
    value_ = 0;
    max_ = 100;
    doneEnabled_ = false;
    changed.emit();
}

void ProgressSheet::dismiss() {
    visible_ = false;
    changed.emit();
}

void ProgressSheet::setText(const std::string& text) {
    text_ = text;
    changed.emit();
}

void ProgressSheet::setPercent(double percent) {
    max_ = 100;
    value_ = percent;
    changed.emit();
}

void ProgressSheet::fail(const std::string& text) {
    visible_ = true;
    text_ = text;
    doneEnabled_ = true;
    changed.emit();
}

void ProgressSheet::setDoubleValue(double value) {
    value_ = value;
    changed.emit();
}

void ProgressSheet::setMaxValue(double value) {
    max_ = value;
    changed.emit();
}

void ProgressSheet::incrementBy(double delta) {
    value_ += delta;
    changed.emit();
}

} // namespace kelvane
