#pragma once
#include <string>

namespace taviro {

// The text most recently inserted into a client by the commit path, shared by
// every client of the process; empty until the first commit. The controller
// sets it; the command word "z" offers it.
std::string lastCommittedText();
void setLastCommittedText(std::string text);

} // namespace taviro
