#include "Settings/ui/Style.h"

#include <QStringList>

namespace kelvane::ui {

QFont uiFont(int pixelSize) {
    QFont font;
    font.setFamilies({"DejaVu Sans", "Noto Sans CJK SC"});
    font.setPixelSize(pixelSize);
    return font;
}

QFont familyFont(const QString& family, int pixelSize) {
    QFont font;
    font.setFamilies({family, "Noto Sans CJK SC"});
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace kelvane::ui
