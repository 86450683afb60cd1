#pragma once
#include "Settings/Cloud/ChangeSignal.h"
#include "Settings/ProgressSink.h"

#include <string>

namespace kelvane {

// The state of a progress sheet: shown or not, its status text, its bar (0 to 100) and
// whether its Done button lets the user close it. Main thread only; an import may drive
// it as its ProgressSink.
class ProgressSheet : public ProgressSink {
public:
    bool visible() const { return visible_; }
    const std::string& text() const { return text_; }
    double percent() const { return max_ > 0 ? value_ / max_ * 100.0 : 0; }
    bool doneEnabled() const { return doneEnabled_; }

    void present();
    void dismiss();
    void setText(const std::string& text);
    void setPercent(double percent);
    // Shows a failure: the text, and Done enabled so the user can close the sheet.
    void fail(const std::string& text);
    // The Done button.
    void done() { dismiss(); }

    void setDoubleValue(double value) override;
    void setMaxValue(double value) override;
    void incrementBy(double delta) override;
    void setStringValue(const std::string& text) override { setText(text); }

    ChangeSignal changed;

private:
    bool visible_ = false;
    std::string text_;
    double value_ = 0, max_ = 100;
    bool doneEnabled_ = false;
};

} // namespace kelvane
