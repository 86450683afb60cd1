#include "InputMethod/Core/SettingsFiles.h"

namespace taviro {

std::string silenceFileName() { return "silence.plist"; }

const std::string& punctuationMappingFileName() {
    static const std::string name = "PunctuationMapping.plist";
    return name;
}

} // namespace taviro
