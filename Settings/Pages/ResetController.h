#pragma once

namespace kelvane {

// Presenter of the reset panel: each button tells the input method to reset one of its
// files, then the panel closes.
class ResetController {
public:
    // "resetBootButtons".
    void resetBootButton();
    // "resetCustom".
    void resetCustom();
    bool closed() const { return closed_; }

private:
    bool closed_ = false;
};

} // namespace kelvane
