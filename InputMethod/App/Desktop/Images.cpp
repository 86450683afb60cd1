#include "InputMethod/App/Desktop/Images.h"

#include "InputMethod/App/Desktop/QtFonts.h"

#include <QPainter>

#include <map>

namespace taviro {

std::shared_ptr<const TemplateImage> tinted(const std::shared_ptr<const TemplateImage>& image, const QColor& colour) {
    if (!image || !image->isTemplate) return image;
    auto copy = std::make_shared<TemplateImage>();
    copy->image = image->image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&copy->image);
    p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    p.fillRect(QRectF(QPointF(0, 0), copy->image.deviceIndependentSize()), colour);
    p.end();
    copy->isTemplate = false;
    return copy;
}

std::shared_ptr<const TemplateImage> statusHintImage(const std::string& name, qreal ratio) {
    static const std::map<std::string, const char*> marks = {
        {"en", "En"}, {"zhong", "中"}, {"jian", "简"}, {"fan", "繁"}};
    const auto underscore = name.rfind('_');
    if (underscore == std::string::npos) return nullptr;
    const std::string base = name.substr(0, underscore);
    const std::string variant = name.substr(underscore + 1);
    const auto mark = marks.find(base);
    if (mark == marks.end() || (variant != "dark" && variant != "light")) return nullptr;
    const bool dark = variant == "dark";

    auto out = std::make_shared<TemplateImage>();
    const int side = static_cast<int>(22 * ratio);
    out->image = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
    out->image.setDevicePixelRatio(ratio);
    out->image.fill(Qt::transparent);
    QPainter p(&out->image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF box(0, 0, 22, 22);
    if (dark) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(48, 48, 48));
        p.drawRoundedRect(box, 4, 4);
    }
    p.setPen(dark ? QColor(240, 240, 240) : QColor(32, 32, 32));
    p.setFont(uiFont(base == "en" ? 12 : 15, true));
    p.drawText(box, Qt::AlignCenter, QString::fromUtf8(mark->second));
    return out;
}

} // namespace taviro
