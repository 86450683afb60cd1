#include "InputMethod/TypingSession.h"

namespace taviro {

TypingSession::TypingSession(ControllerEnvironment environment, std::optional<std::string> bundleIdentifier)
    : driver_(queue_),
      env_([&] {
          environment.queue = &queue_;
          environment.hint.queue = &queue_;
          return environment;
      }()),
      server_("TaviroMac_3_Connection", "com.quorvel.inputmethod.TaviroMac2",
              [this](plat::InputMethodServer& server, plat::TextInputClient* client) {
                  return std::make_unique<TaviroController>(&server, client, env_);
              }) {
    services_.onKeyPress = [this](std::uint16_t code) {
        if (client_) client_->applyKeyPress(code);
    };
    plat::SystemServices::setShared(&services_);
    replaceClient(std::move(bundleIdentifier));
}

TypingSession::~TypingSession() {
    if (client_) server_.removeClient(*client_);
    plat::SystemServices::setShared(nullptr);
}

TaviroController& TypingSession::controller() {
    return static_cast<TaviroController&>(server_.controllerFor(*client_));
}

void TypingSession::replaceClient(std::optional<std::string> bundleIdentifier) {
    if (client_) server_.removeClient(*client_);
    client_ = std::make_unique<plat::ScriptedClient>(std::move(bundleIdentifier));
    server_.focusIn(*client_);
    driver_.pump();
}

bool TypingSession::send(const plat::KeyTransition& key) {
    const bool handled = server_.handleKey(*client_, key);
    driver_.pump();
    if (!handled && key.pressed && !plat::KeyCode::isModifierKey(key.keyCode)) passOn(key);
    return handled;
}

void TypingSession::passOn(const plat::KeyTransition& key) {
    // What a text field does with a key the input method did not take.
    namespace Flag = plat::ModifierFlag;
    if (key.flags & (Flag::command | Flag::control | Flag::option)) return;
    switch (key.keyCode) {
    case plat::KeyCode::deleteKey:
    case plat::KeyCode::returnKey:
    case plat::KeyCode::leftArrow:
    case plat::KeyCode::rightArrow:
        client_->applyKeyPress(key.keyCode);
        return;
    default: break;
    }
    if (!key.characters || key.characters->empty()) return;
    const std::string& chars = *key.characters;
    const auto c = static_cast<unsigned char>(chars[0]);
    if (c < 0x20 || c == 0x7F) return;  // control characters
    // Function keys type private-use characters U+F700-U+F8FF.
    if (c == 0xEF && chars.size() >= 2 && static_cast<unsigned char>(chars[1]) >= 0x9C &&
        static_cast<unsigned char>(chars[1]) <= 0xA3)
        return;
    client_->typeDirectly(*key.characters);
}

bool TypingSession::type(const KeyStep& step, std::chrono::milliseconds settle) {
    std::optional<bool> answer;
    for (const auto& key : step.keys) {
        const bool handled = send(key);
        if (!answer && key.pressed && !plat::KeyCode::isModifierKey(key.keyCode)) answer = handled;
    }
    driver_.advance(settle);
    return answer.value_or(false);
}

bool TypingSession::typeScript(const std::string& script, std::chrono::milliseconds settle) {
    const auto steps = KeyScript::parse(script);
    if (!steps) return false;
    for (const auto& step : *steps) type(step, settle);
    return true;
}

} // namespace taviro
