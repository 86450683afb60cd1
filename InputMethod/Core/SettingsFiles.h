#pragma once
#include <string>

namespace taviro {

// File name of the silence list in the per-user folder.
std::string silenceFileName();
// File name of the punctuation map in the per-user folder.
const std::string& punctuationMappingFileName();

} // namespace taviro
