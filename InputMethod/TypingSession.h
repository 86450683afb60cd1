#pragma once
#include "InputMethod/KeyScript.h"
#include "InputMethod/TaviroController.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/ManualDriver.h"
#include "Platform/InputMethodKit/InputMethodServer.h"
#include "Platform/InputMethodKit/ScriptedClient.h"
#include "Platform/InputMethodKit/SystemServices.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace taviro {

// The input-method server with one scripted client in focus, on a main queue
// of its own with a virtual clock. Synthetic keys edit the client. For tests,
// the console program and benchmarks; one session at a time per process.
class TypingSession {
public:
    // `environment.engine` is required; the queue is the session's own.
    explicit TypingSession(ControllerEnvironment environment,
                           std::optional<std::string> bundleIdentifier = std::string("org.example.scripted"));
    ~TypingSession();
    TypingSession(const TypingSession&) = delete;
    TypingSession& operator=(const TypingSession&) = delete;

    plat::InputMethodServer& server() { return server_; }
    plat::ScriptedClient& client() { return *client_; }
    TaviroController& controller();
    plat::RecordingSystemServices& services() { return services_; }
    plat::ManualDriver& driver() { return driver_; }
    plat::MainQueue& queue() { return queue_; }

    // Sends one transition to the focused client; the answer is the
    // controller's. A key it passes on reaches the field as typing would.
    bool send(const plat::KeyTransition& key);
    // Sends the step's transitions, then lets `settle` of virtual time pass so
    // deferred work runs. True when the step's first key-down was consumed.
    bool type(const KeyStep& step, std::chrono::milliseconds settle = std::chrono::milliseconds(200));
    // Parses and types a script; false when it does not parse.
    bool typeScript(const std::string& script, std::chrono::milliseconds settle = std::chrono::milliseconds(200));

    // A new client (with this bundle identifier) takes the focus; the old one goes.
    void replaceClient(std::optional<std::string> bundleIdentifier);

private:
    void passOn(const plat::KeyTransition& key);

    plat::MainQueue queue_;
    plat::ManualDriver driver_;
    ControllerEnvironment env_;
    plat::RecordingSystemServices services_;
    plat::InputMethodServer server_;
    std::unique_ptr<plat::ScriptedClient> client_;
};

} // namespace taviro
