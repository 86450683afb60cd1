// The user dictionary as both programs see it: what the input method has learnt passes
// the preferences application's check on import, and what the import installs is what
// the input method then reads.
#include "Settings/Pages/UserDictionaryTransfer.h"
#include "tests/InputMethod/Store/StoreFixture.h"

#include <gtest/gtest.h>

namespace {

class UserDictionaryCrossCheckTest : public taviro::test::StoreTest {};

TEST_F(UserDictionaryCrossCheckTest, ADictionaryTheInputMethodLearntIsTakenAndReadBack) {
    auto& db = open();
    // Two tables, as two input configurations leave them.
    taviro::CodeTable learnt("nihao", "你好", 1.0);
    db.insertUserWord(learnt, true);
    setSettings([](taviro::Settings& s) { s.quanPin = !s.quanPin; });
    taviro::CodeTable other("sj", "世界", 2.0);
    db.insertUserWord(other, true);
    db.closeAll();

    const auto exported = taviro::test::freshDir("exported") / "mine.db";
    std::filesystem::copy_file(loc_.userFolder / "user.db", exported);
    std::filesystem::remove(loc_.userFolder / "user.db");
    const auto result = kelvane::UserDictionaryTransfer::importFrom(exported, loc_.userFolder);
    ASSERT_TRUE(result.ok) << result.error;

    auto& again = open();
    const auto found = again.userDictionaryByPy("sj", 100);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].table, "世界");
    setSettings([](taviro::Settings& s) { s.quanPin = !s.quanPin; });
    const auto first = again.userDictionaryByPy("nihao", 100);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].table, "你好");
}

} // namespace
