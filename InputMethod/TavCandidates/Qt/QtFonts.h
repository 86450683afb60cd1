#pragma once
#include "InputMethod/TavCandidates/CandidateEnvironment.h"

#include <QFont>

namespace taviro::qt {

// A model font as a Qt font: pixel size, the family (if any) then a
// fallback list ending in "Noto Sans CJK SC".
QFont qtFont(const Font& font);

} // namespace taviro::qt
