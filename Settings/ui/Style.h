#pragma once
#include <QFont>
#include <QString>

namespace kelvane::ui {

// The interface font: `pixelSize` logical pixels, with CJK fallback.
QFont uiFont(int pixelSize = 13);
// A font of the given family with the same fallback, for previews.
QFont familyFont(const QString& family, int pixelSize);

} // namespace kelvane::ui
