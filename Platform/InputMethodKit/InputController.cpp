#include "Platform/InputMethodKit/InputController.h"

#include <string>

namespace plat {

TextAttributes InputController::markForStyle(int style, TextRange range) const {
    TextAttributes attributes;
    // Converted text is underlined thick, other styles thin, as one clause.
    attributes["underline"] = style == kConvertedTextStyle ? "thick" : "single";
    attributes["clause"] = range.location == kNotFound ? "0" : std::to_string(range.location);
    return attributes;
}

} // namespace plat
