#pragma once
// The controller of a scripted client over the process's real engine, store
// and bundle data, with default settings.
#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Engine/InputDeletage.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "InputMethod/TaviroController.h"
#include "InputMethod/TaviroEngineAdapter.h"
#include "InputMethod/TypingSession.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace taviro::test {

// The process's engine over the bundle data, once started.
inline void startRealEngine() {
    setenv("TAVIRO_RESOURCES", TAVIRO_RESOURCE_DIR, 1);
    TaviroIMEngine::shared().waitForStartUp();
    if (auto strategy = TaviroIMEngine::shared().inputDelegate()) strategy->waitForSetUp();
}

// Default settings, nothing pending, the strategy set up again.
inline void resetRealEngine() {
    ConfigManager::shared().update([](Settings& s) { s = Settings{}; });
    TaviroController::pendingCommitText().clear();
    TaviroIMEngine::shared().reloadInputDelegate();
    TaviroIMEngine::shared().inputDelegate()->waitForSetUp();
}

class RealEngine : public ::testing::Test {
protected:
    static void SetUpTestSuite() { startRealEngine(); }

    void SetUp() override {
        resetRealEngine();
        ControllerEnvironment env;
        env.engine = &adapter;
        // The vertical window shows nine rows, so a page holds every candidate these tests look for.
        windows.setInitialLayout(true);
        env.windows = &windows;
        session = std::make_unique<TypingSession>(env);
    }
    void TearDown() override { session.reset(); }

    std::string committed() { return session->client().committedText(); }
    CandidateWindow& window() { return windows.window(); }

    TaviroEngineAdapter adapter{TaviroIMEngine::shared()};
    CandidateWindowHolder windows;
    std::unique_ptr<TypingSession> session;
};

} // namespace taviro::test
