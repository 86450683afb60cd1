// The controller typing into a client that keeps only what it was sent, as
// the desktop host's input contexts do (GTK's IBus module draws the last
// preedit it got until told otherwise).
#include "ControllerFixture.h"

#include "InputMethod/KeyScript.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/ManualDriver.h"
#include "Platform/InputMethodKit/InputMethodServer.h"
#include "Platform/InputMethodKit/PreeditClient.h"
#include "Platform/InputMethodKit/SystemServices.h"

namespace taviro::test {
namespace {

using namespace std::chrono_literals;

class KeepsWhatItIsSent : public plat::PreeditClient {
public:
    std::string committed;
    std::string drawn;

    std::optional<std::string> bundleIdentifier() const override { return "org.example.gtk-field"; }

protected:
    bool reachable() const override { return true; }
    void sendPreedit(const std::string& text, bool visible) override { drawn = visible ? text : ""; }
    void sendCommit(const std::string& text) override { committed += text; }
};

class HostedClient : public ControllerTest {
protected:
    plat::MainQueue queue;
    plat::ManualDriver driver{queue};
    plat::RecordingSystemServices services;
    std::unique_ptr<plat::InputMethodServer> server;
    KeepsWhatItIsSent field;

    void SetUp() override {
        ControllerTest::SetUp();
        plat::SystemServices::setShared(&services);
        server = std::make_unique<plat::InputMethodServer>(
            "TaviroMac_3_Connection", "com.quorvel.inputmethod.TaviroMac2",
            [this](plat::InputMethodServer& s, plat::TextInputClient* client) {
                ControllerEnvironment env = environment();
                env.queue = &queue;
                env.hint.queue = &queue;
                return std::make_unique<TaviroController>(&s, client, env);
            });
        server->focusIn(field);
        driver.pump();
    }

    void TearDown() override {
        server->removeClient(field);
        server.reset();
        plat::SystemServices::setShared(nullptr);
        ControllerTest::TearDown();
    }

    void type(const std::string& script) {
        const auto steps = KeyScript::parse(script);
        ASSERT_TRUE(steps) << script;
        for (const auto& step : *steps) {
            for (const auto& key : step.keys) {
                server->handleKey(field, key);
                driver.pump();
            }
            driver.advance(200ms);
        }
    }
};

struct CommitCase {
    const char* how;
    const char* script;  // composes, then ends the composition
    const char* committed;
};

TEST_F(HostedClient, EveryCommitLeavesNoPreeditDrawn) {
    const std::vector<CommitCase> cases{
        {"space", "ni ", "你"},
        {"digit", "ni2", "尼"},
        {"punctuation", "ni!", "你！"},
        {"return", "ni{Return}", "ni"},
        {"shift tap", "ni{Shift}", "尼"},
        {"guide key", "ni;", "尼"},
        {"guide button", ";h", "《》"},
        {"escape", "ni{Esc}", ""},
    };
    for (const auto& c : cases) {
        field.committed.clear();
        type(c.script);
        EXPECT_EQ(field.committed, c.committed) << c.how;
        EXPECT_EQ(field.drawn, "") << "after " << c.how << " the field still draws the letters";
    }
}

TEST_F(HostedClient, PartialCommitDrawsOnlyTheRest) {
    type("nihao2");  // 你 covers "ni"
    EXPECT_EQ(field.committed, "你");
    EXPECT_EQ(field.drawn, "hao");
    type(" ");
    EXPECT_EQ(field.committed, "你好");
    EXPECT_EQ(field.drawn, "");
}

// The composition is dropped when the field loses the focus, and nothing of
// it stays drawn there.
TEST_F(HostedClient, FocusOutLeavesNoPreeditDrawn) {
    type("ni");
    ASSERT_EQ(field.drawn, "ni");
    server->focusOut(field);
    driver.pump();
    EXPECT_EQ(field.committed, "");
    EXPECT_EQ(field.drawn, "");
}

} // namespace
} // namespace taviro::test
