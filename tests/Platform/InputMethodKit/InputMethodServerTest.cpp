#include "Platform/InputMethodKit/InputMethodServer.h"
#include "Platform/InputMethodKit/ScriptedClient.h"
#include "Platform/InputMethodKit/UsKeyboard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace plat;

// Records what the server hands it.
class RecordingController : public InputController {
public:
    RecordingController(InputMethodServer* server, TextInputClient* client, std::vector<std::string>* log)
        : InputController(server, client), log_(log) {}
    bool handleEvent(const KeyEvent& e, TextInputClient*) override {
        log_->push_back("event:" + std::to_string(static_cast<int>(e.type)) + ":" + std::to_string(e.keyCode) +
                        ":" + std::to_string(e.modifierFlags));
        return true;
    }
    void activateServer(TextInputClient* c) override { log_->push_back("activate:" + name(c)); }
    void deactivateServer(TextInputClient* c) override { log_->push_back("deactivate:" + name(c)); }
    ~RecordingController() override { log_->push_back("destroyed"); }

private:
    static std::string name(TextInputClient* c) { return c ? c->bundleIdentifier().value_or("?") : "none"; }
    std::vector<std::string>* log_;
};

struct ServerFixture : ::testing::Test {
    std::vector<std::string> log;
    InputMethodServer server{"TaviroMac_3_Connection", "com.quorvel.inputmethod.TaviroMac2",
                             [this](InputMethodServer& s, TextInputClient* c) {
                                 return std::make_unique<RecordingController>(&s, c, &log);
                             }};
    ScriptedClient a{std::string("app.a")};
    ScriptedClient b{std::string("app.b")};
};

TEST_F(ServerFixture, KeyTransitionsBecomeEvents) {
    struct Case {
        KeyTransition key;
        bool handled;
        const char* event; // nullptr: nothing reaches the controller
    };
    const Case cases[] = {
        {{0, true, 0, "a"}, true, "event:10:0:0"},
        {{0, false, 0, "a"}, false, nullptr},  // releases never go down the key road
        {{56, true, ModifierFlag::shift, {}}, true, "event:12:56:131072"},
        {{56, false, 0, {}}, true, "event:12:56:0"},  // a modifier release is a flags change
        {{59, true, ModifierFlag::control, {}}, true, "event:12:59:262144"},
        {{123, true, ModifierFlag::arrowKey, {}}, true, "event:10:123:10485760"},
    };
    for (const auto& c : cases) {
        log.clear();
        server.controllerFor(a);
        EXPECT_EQ(server.handleKey(a, c.key), c.handled) << c.key.keyCode;
        if (c.event) {
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0], c.event);
        } else {
            EXPECT_TRUE(log.empty());
        }
    }
}

TEST_F(ServerFixture, FocusMovesActivation) {
    server.focusIn(a);
    server.focusIn(a);  // no second activation
    server.focusIn(b);
    server.removeClient(b);
    server.focusOut(a);  // not focused: nothing
    EXPECT_EQ(log, (std::vector<std::string>{"activate:app.a", "deactivate:app.a", "activate:app.b",
                                             "deactivate:app.b", "destroyed"}));
    EXPECT_EQ(server.activeController(), nullptr);
    EXPECT_EQ(server.connectionName(), "TaviroMac_3_Connection");
}

TEST(UsKeyboard, StrokesFollowTheKeyTable) {
    struct Case {
        char c;
        std::uint16_t code;
        bool shift;
    };
    const Case cases[] = {{'a', 0, false}, {'A', 0, true},  {'b', 11, false}, {'1', 18, false},
                          {'!', 18, true}, {';', 41, false}, {':', 41, true}, {'\'', 39, false},
                          {'"', 39, true}, {' ', 49, false}, {'\n', 36, false}, {'`', 50, false}};
    for (const auto& c : cases) {
        auto s = UsKeyboard::strokeFor(c.c);
        ASSERT_TRUE(s) << c.c;
        EXPECT_EQ(s->keyCode, c.code) << c.c;
        EXPECT_EQ(s->shift, c.shift) << c.c;
    }
    EXPECT_FALSE(UsKeyboard::strokeFor('\x01'));
    auto e = UsKeyboard::keyDownFor('Q');
    ASSERT_TRUE(e);
    EXPECT_EQ(e->modifierFlags, ModifierFlag::shift);
    EXPECT_EQ(e->characters, "Q");
}

} // namespace
