#pragma once
#include <chrono>

namespace kelvane {

// The end of the process, after the settings window closed: a job that keeps the input
// method's databases closed gets `grace` to finish; then its bracket is closed anyway
// ("needsReloadDBLink", "okToUse" true) and the job is abandoned. Queued commands are
// sent before this returns. Returns how many brackets had to be closed here.
int finishBeforeExit(std::chrono::milliseconds grace = std::chrono::seconds(5));

} // namespace kelvane
