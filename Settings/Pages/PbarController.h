#pragma once
#include "Settings/ProgressSink.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kelvane {

// The progress sheet of long jobs: a bar (0-100 unless a worker sets another maximum),
// a status line and a done button. A page creates one per job (make()), presents it,
// lets the job feed it (as a ProgressSink on the main queue, or through
// observeFractionCompleted from any thread), then calls dismiss() on success or
// fail(text) so the user closes it with the done button.
class PbarController : public ProgressSink, public std::enable_shared_from_this<PbarController> {
public:
    static std::shared_ptr<PbarController> make();

    // ProgressSink (main queue).
    void setDoubleValue(double value) override;
    void setMaxValue(double value) override;
    void incrementBy(double delta) override;
    void setStringValue(const std::string& text) override;

    // A new "fractionCompleted" from any thread: the bar moves to value × 100 on the main
    // queue. None (no value, or not a number) is ignored. Updates arriving after the
    // sheet was dismissed are dropped.
    void observeFractionCompleted(std::optional<double> fraction);

    // The job ended: success closes the sheet; failure leaves `text` and enables the
    // done button.
    void dismiss();
    void fail(const std::string& text);
    // The end of a job whose messages are already on the sheet: dismiss() on success,
    // else the last message stays and the done button is enabled.
    void finish(bool ok);
    // The done button.
    void done() { dismiss(); }

    double value() const { return value_; }
    double maxValue() const { return max_; }
    const std::string& text() const { return text_; }
    bool doneEnabled() const { return doneEnabled_; }
    bool dismissed() const { return dismissed_; }

    // Called on the main queue after every change; the view redraws from the getters.
    std::function<void()> onChange;

private:
    PbarController() = default;
    void changed();

    double value_ = 0;
    double max_ = 100;
    std::string text_;
    bool doneEnabled_ = false;
    bool dismissed_ = false;
};

} // namespace kelvane
