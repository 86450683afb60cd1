#pragma once
#include <filesystem>

namespace taviro {

// The crash reporter of the input method: nothing is uploaded; a crash
// (a fatal signal) appends its signal and call stack to a local log.
class CrashLog {
public:
    // Installs the handlers once per process; later calls change nothing.
    static void start(const std::filesystem::path& logFile);
    static bool isStarted();
};

} // namespace taviro
