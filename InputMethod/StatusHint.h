#pragma once
#include "Platform/InputMethodKit/TextTypes.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace plat {
class MainQueue;
class TextInputClient;
} // namespace plat

namespace taviro {

// The model of the status hint: the small 22 x 22 image shown for a second
// below the caret when the mode changes. It says which image, where, and
// how transparent; a view draws it. Main thread only.
class StatusHint {
public:
    struct Screen {
        plat::TextRect frame;
    };
    struct Environment {
        // Screen frames, the main screen first. Default: one 1920 x 1080 screen.
        std::function<std::vector<plat::TextRect>()> screens;
        // Pointer location in screen points. Default (0, 0).
        std::function<plat::TextRect()> mouseLocation;
        // Where the hide step is scheduled. Default: the shared main queue.
        plat::MainQueue* queue = nullptr;
        // Told after every change of the image, frame or transparency (a
        // view follows the model by it; nothing polls).
        std::function<void(const StatusHint&)> changed;
    };

    static constexpr double kSide = 22.0;

    StatusHint();
    explicit StatusHint(Environment environment);
    StatusHint(const StatusHint&) = delete;
    StatusHint& operator=(const StatusHint&) = delete;

    // Shows "En", "中", "简" or "繁" (another text keeps the image) near the
    // client's caret and schedules the hide step 1.0 s later.
    void show(const std::string& text, plat::TextInputClient* client, bool dark, bool voiceOver);
    // One pending hide: the last one fades the hint out.
    void hideStep();
    // Hidden at once (deactivation).
    void hideNow();

    bool isCreated() const { return created_; }
    const std::string& imageName() const { return imageName_; }
    double alpha() const { return alpha_; }
    plat::TextRect frame() const { return {origin_.x, origin_.y, kSide, kSide}; }
    int shiftCount() const { return shiftCount_; }

private:
    void changed();

    Environment env_;
    bool created_ = false;
    std::string imageName_;
    double alpha_ = 0;
    plat::TextRect origin_;
    int shiftCount_ = 0;
    // Pending hide steps hold it weakly: a hint gone before its step is skipped.
    std::shared_ptr<StatusHint*> self_ = std::make_shared<StatusHint*>(this);
};

} // namespace taviro
