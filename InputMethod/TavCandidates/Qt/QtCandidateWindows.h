#pragma once
// The candidate windows drawn by Qt 6 Widgets (library taviro_ui_qt). This
// header needs no Qt headers; a QApplication must exist before a window is
// built.
//
// Desktop use:
//     QApplication app(argc, argv);
//     taviro::qt::installQtCandidateWindows(taviro::CandidateWindowHolder::shared());
// then give the controller's client caret rectangles in points, y up
// (lineRectFromPixels turns an X11 caret rectangle into one).
#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/TavCandidates/CandidateController.h"
#include "Platform/InputMethodKit/TextTypes.h"

#include <memory>

namespace taviro::qt {

// Qt's font measuring and the screens and mouse of the application (turned to
// points, y up, from the lower left of the primary screen). The appearance is
// the input method's own test (isDarkAppearance: "SkinColor", else what the
// desktop host reports); TAVIRO_APPEARANCE=dark or light overrides it.
CandidateEnvironment qtEnvironment();

// The model of that layout with a Qt view attached; unset members of `env`
// come from qtEnvironment().
std::unique_ptr<CandidateController> makeCandidateWindow(bool vertical, CandidateEnvironment env = {});

// A factory for `holder` whose windows are drawn by Qt and feed the holder's
// Touch Bar strip.
CandidateWindowHolder::Factory candidateWindowFactory(CandidateWindowHolder& holder);

// Makes `holder` build Qt windows; a window it already has is replaced by one
// of the same layout, keeping its delegate and font size.
void installQtCandidateWindows(CandidateWindowHolder& holder);

// An X11 caret rectangle (global pixels, y down) as the client's line
// rectangle: points, y up, its origin the lower left of the caret.
plat::TextRect lineRectFromPixels(int x, int y, int width, int height);

} // namespace taviro::qt
