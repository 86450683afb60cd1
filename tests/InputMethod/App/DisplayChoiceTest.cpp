// Which Qt platform the input method starts and what shows its candidates,
// for the displays a session can have.
#include "InputMethod/App/Desktop/DisplayChoice.h"

#include <gtest/gtest.h>

#include <map>

namespace taviro::test {
namespace {

Environment fixed(std::map<std::string, std::string> vars) {
    return [vars = std::move(vars)](const std::string& name) -> std::optional<std::string> {
        auto it = vars.find(name);
        if (it == vars.end()) return std::nullopt;
        return it->second;
    };
}

TEST(DisplayChoice, PlatformAndCandidatesForEachSession) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> env;
        const char* platform;       // what Qt is asked for
        const char* runsOn;         // what Qt then runs on
        CandidatePresentation presentation;
    };
    using P = CandidatePresentation;
    const Case cases[] = {
        {"X11 session", {{"DISPLAY", ":0"}}, "xcb;offscreen", "xcb", P::ownWindow},
        {"no display at all", {}, "offscreen", "offscreen", P::lookupTable},
        {"empty DISPLAY", {{"DISPLAY", ""}}, "offscreen", "offscreen", P::lookupTable},
        {"Wayland only", {{"WAYLAND_DISPLAY", "wayland-0"}}, "wayland;offscreen", "wayland", P::lookupTable},
        {"Wayland with Xwayland", {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, "wayland;xcb;offscreen",
         "xcb", P::lookupTable},
        {"asked for xcb", {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":0"}}, "xcb;offscreen", "xcb", P::ownWindow},
        {"asked for offscreen", {{"QT_QPA_PLATFORM", "offscreen"}}, "offscreen", "offscreen", P::lookupTable},
        {"asked for wayland", {{"QT_QPA_PLATFORM", "wayland"}, {"DISPLAY", ":0"}}, "wayland;offscreen", "wayland",
         P::lookupTable},
    };
    for (const auto& c : cases) {
        const Environment env = fixed(c.env);
        EXPECT_EQ(qtPlatformFor(env), c.platform) << c.name;
        EXPECT_EQ(candidatePresentationFor(c.runsOn, env), c.presentation) << c.name;
    }
}

} // namespace
} // namespace taviro::test
