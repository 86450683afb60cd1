#include "InputMethod/App/Desktop/DisplayChoice.h"

#include <cstdlib>

namespace taviro {
namespace {

bool isSet(const Environment& env, const char* name) {
    const auto value = env(name);
    return value && !value->empty();
}

} // namespace

Environment processEnvironment() {
    return [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        if (!value) return std::nullopt;
        return std::string(value);
    };
}

std::string qtPlatformFor(const Environment& env) {
    std::string asked = env("QT_QPA_PLATFORM").value_or("");
    if (asked.empty()) {
        if (isSet(env, "WAYLAND_DISPLAY")) asked = isSet(env, "DISPLAY") ? "wayland;xcb" : "wayland";
        else if (isSet(env, "DISPLAY")) asked = "xcb";
        else return "offscreen";
    }
    if (asked.find("offscreen") == std::string::npos) asked += ";offscreen";
    return asked;
}

CandidatePresentation candidatePresentationFor(const std::string& platformName, const Environment& env) {
    // Our window stands at the caret only on an X server of its own session;
    // under Wayland (even through Xwayland) clients report carets the X
    // server does not share.
    if (platformName == "xcb" && !isSet(env, "WAYLAND_DISPLAY")) return CandidatePresentation::ownWindow;
    return CandidatePresentation::lookupTable;
}

std::string describe(CandidatePresentation presentation, const std::string& platformName) {
    if (presentation == CandidatePresentation::ownWindow)
        return "TaviroMac2: candidates in our own window (Qt platform " + platformName + ")";
    return "TaviroMac2: candidates in the desktop's IBus panel (Qt platform " + platformName +
           ": our window cannot stand at the caret)";
}

} // namespace taviro
