#pragma once
#include <functional>
#include <optional>
#include <string>

namespace taviro {

// Where the input method can draw: which Qt platform to start and whether
// our candidate window can stand at the caret. Without a display Qt runs
// offscreen (the IBus engine only needs its GLib loop); under Wayland a
// separate process cannot place a window at the caret. In both cases the
// desktop's panel shows the candidates from IBus's lookup table.
enum class CandidatePresentation { ownWindow, lookupTable };

// The environment as the choice reads it: a variable's value, or none.
using Environment = std::function<std::optional<std::string>(const std::string& name)>;
Environment processEnvironment();

// The platform list for Qt's "-platform" argument: the one asked for (or
// the display's), falling back to "offscreen" so that start-up never fails.
std::string qtPlatformFor(const Environment& env);

// What shows the candidates once Qt runs on `platformName`.
CandidatePresentation candidatePresentationFor(const std::string& platformName, const Environment& env);

// One line for the log naming the choice.
std::string describe(CandidatePresentation presentation, const std::string& platformName);

} // namespace taviro
