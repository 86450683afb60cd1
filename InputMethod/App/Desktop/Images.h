#pragma once
#include <QColor>
#include <QImage>

#include <memory>
#include <string>

namespace taviro {

// An image that may be a template (drawn in one colour by whoever shows it).
struct TemplateImage {
    QImage image;
    bool isTemplate = false;
};

// A template image comes back as a new, non-template copy whose opaque
// pixels take the colour (their alpha stays); any other image comes back
// as the very same object.
std::shared_ptr<const TemplateImage> tinted(const std::shared_ptr<const TemplateImage>& image, const QColor& colour);

// The status hint's images by name ("en_dark", "zhong_light", ...), 22 x 22
// points; none for other names.
std::shared_ptr<const TemplateImage> statusHintImage(const std::string& name, qreal devicePixelRatio = 1.0);

} // namespace taviro
