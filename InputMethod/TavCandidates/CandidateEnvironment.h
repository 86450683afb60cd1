#pragma once
#include "InputMethod/Core/Color.h"
#include "InputMethod/TavCandidates/Geometry.h"

#include <memory>
#include <string>
#include <vector>

namespace plat {
class NotificationCenter;
}

namespace taviro {

class ConfigManager;
class TouchBarCandidateController;

// A font as the windows ask for it: a family (empty: the system font) at a
// size in points, regular or medium weight.
struct Font {
    std::string family;
    double pointSize = 16.0;
    bool medium = false;
    bool operator==(const Font&) const = default;
};

// Measures label text: the size a borderless label needs to show `text` in
// `font` on one line.
class TextMeasurer {
public:
    virtual ~TextMeasurer() = default;
    virtual Size sizeToFit(const std::string& text, const Font& font) const = 0;
    // Whether a font family of this name is installed.
    virtual bool hasFont(const std::string& family) const = 0;
};

// The screens (the first is the main screen) and the mouse, in points, y up.
class ScreenLocator {
public:
    virtual ~ScreenLocator() = default;
    virtual std::vector<Rect> screens() const = 0;
    virtual Point mouseLocation() const = 0;
};

// Light or dark appearance of the desktop.
class Appearance {
public:
    virtual ~Appearance() = default;
    virtual bool isDark() const = 0;
};

// What screen readers are told.
struct AccessibilityEvent {
    enum class Kind {
        focusedUIElementChanged, // a cell became the focused element
        applicationHidden,       // the window went away
    };
    Kind kind;
    int cellNumber = -1; // the cell, for focus changes
    bool operator==(const AccessibilityEvent&) const = default;
};

class AccessibilityEvents {
public:
    virtual ~AccessibilityEvents() = default;
    virtual void post(const AccessibilityEvent& event) = 0;
};

// The drawing side of a candidate window: told after every change of the
// model, it reads the model and draws it.
class CandidateView {
public:
    virtual ~CandidateView() = default;
    virtual void modelChanged() = 0;
    virtual void post(const AccessibilityEvent& event) = 0;
};

// What a candidate window works with. Unset members get the defaults below
// (the shared configuration and notification centre, a fixed-width
// measurer, one 1920 x 1080 screen, the desktop's appearance).
struct CandidateEnvironment {
    ConfigManager* config = nullptr;
    std::shared_ptr<const TextMeasurer> measurer;
    std::shared_ptr<const ScreenLocator> screens;
    std::shared_ptr<const Appearance> appearance;
    plat::NotificationCenter* notifications = nullptr;
    // The Touch Bar strip that follows the window; none: no strip.
    TouchBarCandidateController* strip = nullptr;

    // Fills the unset members.
    CandidateEnvironment completed() const;
};

// A measurer without fonts: CJK and other wide characters one point size
// wide, the rest half of it; lines 1.25 point sizes high. For the console
// and tests.
class FixedWidthMeasurer : public TextMeasurer {
public:
    Size sizeToFit(const std::string& text, const Font& font) const override;
    bool hasFont(const std::string& family) const override { return family.empty(); }
};

class FixedScreens : public ScreenLocator {
public:
    explicit FixedScreens(std::vector<Rect> screens = {Rect{{0, 0}, {1920, 1080}}}, Point mouse = {})
        : screens_(std::move(screens)), mouse_(mouse) {}
    std::vector<Rect> screens() const override { return screens_; }
    Point mouseLocation() const override { return mouse_; }

private:
    std::vector<Rect> screens_;
    Point mouse_;
};

// The input method's dark-appearance test ("SkinColor", else the desktop's
// interface style); TAVIRO_APPEARANCE=dark or light overrides it.
class DesktopAppearance : public Appearance {
public:
    explicit DesktopAppearance(ConfigManager* config) : config_(config) {}
    bool isDark() const override;

private:
    ConfigManager* config_;
};

class FixedAppearance : public Appearance {
public:
    explicit FixedAppearance(bool dark = false) : dark_(dark) {}
    bool isDark() const override { return dark_; }

private:
    bool dark_;
};

// Colours of the windows.
namespace CandidateColors {
// The window background in dark appearance.
inline Color darkColor() { return Color::rgb(31.0 / 255, 31.0 / 255, 43.0 / 255); }
// The highlight behind the selected candidate (the desktop's selected-content blue).
inline Color selectedContentBackground() { return Color::rgb(0.0, 99.0 / 255, 225.0 / 255); }
// Text of a selected candidate when the highlight is hidden ("SelectNoBG").
inline Color noBackgroundSelection() { return Color::rgb(21.0 / 255, 137.0 / 255, 255.0 / 255); }
inline Color lightGray() { return Color::grey(2.0 / 3.0); }
inline Color gray() { return Color::grey(0.5); }
// 0xRRGGBB, only the low 24 bits.
Color fromRgbValue(long long value);
} // namespace CandidateColors

} // namespace taviro
