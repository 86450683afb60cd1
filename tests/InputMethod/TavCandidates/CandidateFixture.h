#pragma once
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/NotificationNames.h"
#include "InputMethod/TavCandidates/CandidatesHController.h"
#include "InputMethod/TavCandidates/CandidatesVController.h"
#include "InputMethod/TextUnits.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/InputMethodKit/ScriptedClient.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace taviro {
// Frames in failure messages as "x,y wxh".
inline void PrintTo(const Rect& r, std::ostream* os) {
    *os << r.origin.x << "," << r.origin.y << " " << r.size.width << "x" << r.size.height;
}
} // namespace taviro

namespace taviro::test {

// Ten points per code point whatever the font; lines `lineFactor` times the
// point size plus 4 high.
class FakeMeasurer : public TextMeasurer {
public:
    explicit FakeMeasurer(double lineFactor = 1.0) : lineFactor_(lineFactor) {}
    Size sizeToFit(const std::string& text, const Font& font) const override {
        return {10.0 * static_cast<double>(codePoints(text).size()), font.pointSize * lineFactor_ + 4.0};
    }
    bool hasFont(const std::string& family) const override { return family.empty() || family == "Installed Sans"; }

private:
    double lineFactor_;
};

// The controller side: a list to show, and what came back.
class FakeDelegate : public CandidateWindowDelegate {
public:
    std::vector<std::string> list;
    std::vector<std::string> selections;
    int commits = 0;
    std::vector<std::string> inserted;
    plat::TextInputClient* client = nullptr;

    std::vector<std::string> candidates() override { return list; }
    void candidateSelectionChanged(const std::string& candidate) override { selections.push_back(candidate); }
    void commitComposition(plat::TextInputClient*) override { ++commits; }
    plat::TextInputClient* currentClient() const override { return client; }
    void insertText(const std::string& text) override {
        inserted.push_back(text);
        if (client) client->insertText(text, plat::TextRange::notFound());
    }
};

// Records what the window tells its view.
class RecordingView : public CandidateView {
public:
    int changes = 0;
    std::vector<AccessibilityEvent> events;
    void modelChanged() override { ++changes; }
    void post(const AccessibilityEvent& event) override { events.push_back(event); }
};

// A client that also says where its marked text begins on screen, as a
// host that watched the caret before the marked text can.
class CaretClient : public plat::ScriptedClient {
public:
    std::optional<plat::TextRect> markedStart;

    // Marks `text` with its first character at `start` and the caret at `caret`.
    void compose(const std::string& text, plat::TextRect start, plat::TextRect caret) {
        setMarkedText(text, {}, plat::TextRange::notFound(), plat::TextRange::notFound());
        markedStart = start;
        setLineRect(caret);
    }
    std::optional<plat::TextRect> firstRectForCharacterRange(plat::TextRange range,
                                                             plat::TextRange* actualRange) const override {
        if (!markedStart || range.location != markedRange().location) return std::nullopt;
        if (actualRange) *actualRange = {range.location, 0};
        return markedStart;
    }
};

class MutableAppearance : public Appearance {
public:
    bool dark = false;
    bool isDark() const override { return dark; }
};

inline std::vector<std::string> repeated(const std::string& text, int count) {
    return std::vector<std::string>(static_cast<std::size_t>(count), text);
}

class CandidateFixture : public ::testing::Test {
protected:
    CandidateFixture() {
        client.setLineRect({500, 500, 2, 20});
        delegate.client = &client;
    }

    CandidateEnvironment environment(double lineFactor = 1.0) {
        CandidateEnvironment env;
        env.config = &config;
        env.measurer = std::make_shared<FakeMeasurer>(lineFactor);
        env.screens = screens;
        env.appearance = appearance;
        env.notifications = &notifications;
        return env;
    }

    template <typename W>
    std::unique_ptr<W> make(double lineFactor = 1.0) {
        auto w = std::make_unique<W>(environment(lineFactor));
        auto v = std::make_unique<RecordingView>();
        view = v.get();
        w->setView(std::move(v));
        w->setDelegate(&delegate);
        return w;
    }

    void set(const std::function<void(Settings&)>& change) { config.update(change); }

    std::filesystem::path configDir = freshDir("config");
    ConfigManager config{configDir};
    plat::NotificationCenter notifications;
    std::shared_ptr<FixedScreens> screens = std::make_shared<FixedScreens>();
    std::shared_ptr<MutableAppearance> appearance = std::make_shared<MutableAppearance>();
    CaretClient client;
    FakeDelegate delegate;
    RecordingView* view = nullptr;
};

} // namespace taviro::test
