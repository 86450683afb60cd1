#include "Platform/InputMethodKit/InputMethodServer.h"

#include "Platform/InputMethodKit/TextInputClient.h"

namespace plat {

InputMethodServer::InputMethodServer(std::string connectionName, std::string bundleIdentifier,
                                     ControllerFactory factory)
    : connectionName_(std::move(connectionName)),
      bundleIdentifier_(std::move(bundleIdentifier)),
      factory_(std::move(factory)) {}

InputMethodServer::~InputMethodServer() {
    if (active_) focusOut(*active_);
    controllers_.clear();
}

InputController& InputMethodServer::controllerFor(TextInputClient& client) {
    auto it = controllers_.find(&client);
    if (it == controllers_.end()) {
        std::unique_ptr<InputController> controller;
        if (factory_) controller = factory_(*this, &client);
        if (!controller) controller = std::make_unique<InputController>(this, &client);
        it = controllers_.emplace(&client, std::move(controller)).first;
    }
    return *it->second;
}

InputController* InputMethodServer::activeController() const {
    if (!active_) return nullptr;
    auto it = controllers_.find(active_);
    return it == controllers_.end() ? nullptr : it->second.get();
}

void InputMethodServer::focusIn(TextInputClient& client) {
    if (active_ == &client) return;
    if (active_) focusOut(*active_);
    active_ = &client;
    controllerFor(client).activateServer(&client);
}

void InputMethodServer::focusOut(TextInputClient& client) {
    if (active_ != &client) return;
    active_ = nullptr;
    auto it = controllers_.find(&client);
    if (it != controllers_.end()) it->second->deactivateServer(&client);
}

void InputMethodServer::removeClient(TextInputClient& client) {
    focusOut(client);
    controllers_.erase(&client);
}

bool InputMethodServer::handleKey(TextInputClient& client, const KeyTransition& key) {
    if (KeyCode::isModifierKey(key.keyCode))
        return handleEvent(client, KeyEvent::flagsChanged(key.keyCode, key.flags));
    if (!key.pressed) return false;
    return handleEvent(client, KeyEvent::keyDown(key.keyCode, key.flags, key.characters));
}

bool InputMethodServer::handleEvent(TextInputClient& client, const KeyEvent& event) {
    if (event.type == EventType::keyUp) return false;
    InputController& controller = controllerFor(client);
    if ((controller.recognizedEvents(&client) & (1ull << static_cast<int>(event.type))) == 0)
        return false;
    return controller.handleEvent(event, &client);
}

} // namespace plat
