#include "InputMethod/StatusHint.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/InputMethodKit/SystemServices.h"
#include "Platform/InputMethodKit/TextInputClient.h"

#include <chrono>

namespace taviro {

StatusHint::StatusHint() : StatusHint(Environment{}) {}

StatusHint::StatusHint(Environment environment) : env_(std::move(environment)) {
    if (!env_.screens) env_.screens = [] { return std::vector<plat::TextRect>{{0, 0, 1920, 1080}}; };
    if (!env_.mouseLocation) env_.mouseLocation = [] { return plat::TextRect{}; };
    if (!env_.queue) env_.queue = &plat::MainQueue::shared();
}

void StatusHint::show(const std::string& text, plat::TextInputClient* client, bool dark, bool voiceOver) {
    created_ = true;
    const char* sound = nullptr;
    if (text == "En") {
        imageName_ = dark ? "en_dark" : "en_light";
        sound = "case-closed";
    } else if (text == "中") {
        imageName_ = dark ? "zhong_dark" : "zhong_light";
        sound = "open-ended";
    } else if (text == "简") {
        imageName_ = dark ? "jian_dark" : "jian_light";
    } else if (text == "繁") {
        imageName_ = dark ? "fan_dark" : "fan_light";
    }
    if (sound && voiceOver) plat::SystemServices::shared().playSound(sound);

    plat::TextRect point{};
    if (client) {
        plat::TextRect line{};
        client->attributesForCharacterIndex(0, &line);
        point = {line.x, line.y, 0, 0};
        if (point.x == 0 && point.y == 0) {
            const plat::TextRect mouse = env_.mouseLocation();
            point = {mouse.x, mouse.y - 12, 0, 0};
        }
    }
    point.y -= 25;

    const auto screens = env_.screens();
    plat::TextRect screen = screens.empty() ? plat::TextRect{} : screens.front();
    for (const auto& s : screens) {
        if (point.x >= s.x && point.x <= s.x + s.width && point.y >= s.y && point.y <= s.y + s.height) {
            screen = s;
            break;
        }
    }
    if (point.y < screen.y + 5) point.y += 50;

    origin_ = point;
    alpha_ = 1.0;
    ++shiftCount_;
    std::weak_ptr<StatusHint*> weak = self_;
    env_.queue->after(std::chrono::milliseconds(1000), [weak] {
        if (auto self = weak.lock()) (*self)->hideStep();
    });
    changed();
}

void StatusHint::hideStep() {
    --shiftCount_;
    if (shiftCount_ == 0 && alpha_ != 0) {
        alpha_ = 0;
        changed();
    }
}

void StatusHint::hideNow() {
    if (alpha_ == 0) return;
    alpha_ = 0;
    changed();
}

void StatusHint::changed() {
    if (env_.changed) env_.changed(*this);
}

} // namespace taviro
