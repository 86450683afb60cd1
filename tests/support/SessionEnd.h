#pragma once
// The ways a desktop session ends under a running program, for the tests that
// end one each way.
#include <string>

namespace taviro::test {

enum class SessionEnd { sigterm, sigint, sighup, busGone, displayGone };

inline constexpr SessionEnd kSessionEnds[] = {SessionEnd::sigterm, SessionEnd::sigint, SessionEnd::sighup,
                                              SessionEnd::busGone, SessionEnd::displayGone};

inline std::string sessionEndName(SessionEnd end) {
    switch (end) {
    case SessionEnd::sigterm: return "SIGTERM";
    case SessionEnd::sigint: return "SIGINT";
    case SessionEnd::sighup: return "SIGHUP";
    case SessionEnd::busGone: return "SessionBusGone";
    case SessionEnd::displayGone: return "DisplayGone";
    }
    return "?";
}

} // namespace taviro::test
