#pragma once
#include "InputMethod/TavCandidates/CandidateEnvironment.h"
#include "Platform/InputMethodKit/IBusHost.h"

#include <functional>
#include <memory>

namespace plat {
class MainQueue;
}

namespace taviro {

class CandidateController;

// Draws a candidate window through the desktop's panel: the page on screen,
// its labels and highlight become IBus's lookup table; a closed window hides
// it. The changes of one turn of the main loop go out as one update.
class LookupTableView : public CandidateView {
public:
    struct Output {
        std::function<void(const plat::HostLookupTable&)> show;
        std::function<void()> hide;
    };

    LookupTableView(const CandidateController& model, Output output, plat::MainQueue& queue);
    ~LookupTableView() override;

    void modelChanged() override;
    void post(const AccessibilityEvent&) override {}

    // The table for the model as it is now; none when the window is closed.
    static std::optional<plat::HostLookupTable> tableFor(const CandidateController& model);

private:
    void flush();

    const CandidateController& model_;
    Output output_;
    plat::MainQueue& queue_;
    bool pending_ = false;
    bool shown_ = false;
    std::shared_ptr<LookupTableView*> self_ = std::make_shared<LookupTableView*>(this);
};

} // namespace taviro
