#pragma once
#include <QFont>

namespace taviro {

// The windows' font at a pixel size (logical points), with CJK fallbacks.
QFont uiFont(int pixelSize, bool bold = false);

} // namespace taviro
