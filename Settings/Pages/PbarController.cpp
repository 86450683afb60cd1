#include "Settings/Pages/PbarController.h"

#include "Settings/MainThread.h"

#include <cmath>

namespace kelvane {

std::shared_ptr<PbarController> PbarController::make() {
    return std::shared_ptr<PbarController>(new PbarController());
}

void PbarController::changed() {
    if (onChange) onChange();
}

void PbarController::setDoubleValue(double value) {
    value_ = value;
    changed();
}

void PbarController::setMaxValue(double value) {
    max_ = value;
    changed();
}

void PbarController::incrementBy(double delta) {
    value_ += delta;
    changed();
}

void PbarController::setStringValue(const std::string& text) {
    text_ = text;
    changed();
}

void PbarController::observeFractionCompleted(std::optional<double> fraction) {
    if (!fraction || !std::isfinite(*fraction)) return;
    std::weak_ptr<PbarController> weak = weak_from_this();
    const double value = *fraction * 100;
    onMain([weak, value] {
        auto self = weak.lock();
        if (!self || self->dismissed_) return;
        self->setDoubleValue(value);
    });
}

void PbarController::dismiss() {
    dismissed_ = true;
    changed();
}

void PbarController::fail(const std::string& text) {
    text_ = text;
    doneEnabled_ = true;
    changed();
}

void PbarController::finish(bool ok) {
    if (ok) dismiss();
    else fail(text_);
}

} // namespace kelvane
