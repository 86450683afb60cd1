#include "InputMethod/App/Desktop/QtFonts.h"

#include <QStringList>

namespace taviro {

QFont uiFont(int pixelSize, bool bold) {
    QFont font;
    font.setFamilies(QStringList{"Noto Sans", "DejaVu Sans", "Noto Sans CJK SC"});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace taviro
