#pragma once
#include "InputMethod/TavCandidates/CandidateEnvironment.h"

namespace taviro::qt {

class CandidateWidget;

// Makes candidate windows known to screen readers (through Qt's
// accessibility, which reaches AT-SPI): the window with one button per
// candidate on the page, named by its spoken description, pressed by a
// screen reader as a click. Installed once per process.
void installAccessibility();
void postAccessibilityEvent(CandidateWidget& widget, const AccessibilityEvent& event);

} // namespace taviro::qt
