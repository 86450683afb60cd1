// A double-pinyin layout that types ";" (the final "ing" of several published
// layouts) makes it a code key while the layout is in use, through the
// controller over the real engine; in the other modes ";" keeps its own use.
#include "RealEngineFixture.h"

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/NotificationNames.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace taviro::test {
namespace {

TEST_F(RealEngine, ALayoutsSemicolonIsACodeKeyOnlyWhileTheLayoutIsInUse) {
    namespace fs = std::filesystem;
    const fs::path scheme = Database::shared().locations().userFolder / "spScheme.plist";
    fs::create_directories(scheme.parent_path());
    fs::copy_file(fs::path(KELVANE_RESOURCE_DIR) / "微软双拼2003.plist", scheme, fs::copy_options::overwrite_existing);
    plat::NotificationCenter::defaultCenter().post(NeedReloadPlan);

    struct Case {
        const char* mode;
        std::function<void(Settings&)> settings;
        const char* keys;
        const char* committed;  // empty: the second candidate of the keys before ";"
    } cases[] = {
        {"double pinyin", [](Settings& s) { s.quanPin = false; }, "m;zi ", "名字"},
        {"double pinyin", [](Settings& s) { s.quanPin = false; }, "x;fu ", "幸福"},
        {"full pinyin", [](Settings&) {}, "ni;", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.keys);
        ConfigManager::shared().update([&](Settings& s) {
            s = Settings{};
            c.settings(s);
        });
        TaviroIMEngine::shared().reloadInputDelegate();
        TaviroIMEngine::shared().inputDelegate()->waitForSetUp();
        session->replaceClient(std::string("org.example.scripted"));
        TaviroController::pendingCommitText().clear();
        std::string keys = c.keys;
        std::string expected = c.committed;
        if (expected.empty()) {
            const auto guide = keys.find(';');
            ASSERT_TRUE(session->typeScript(keys.substr(0, guide)));
            ASSERT_TRUE(window().isVisible());
            ASSERT_GE(window().visibleCandidates().size(), 2u);
            expected = window().visibleCandidates()[1];
            keys.erase(0, guide);
        }
        ASSERT_TRUE(session->typeScript(keys));
        EXPECT_EQ(committed(), expected);
        TaviroIMEngine::shared().clean();
    }
    fs::remove(scheme);
    // The words learnt on the way are written before the home goes.
    TaviroIMEngine::shared().waitForBackgroundWrites();
    EXPECT_TRUE(Database::shared().flushPendingUserWrites(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
}

} // namespace
} // namespace taviro::test
