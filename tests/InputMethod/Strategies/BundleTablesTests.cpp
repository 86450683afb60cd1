// The emoji table is read on a worker; whoever looks it up first, and from
// whichever thread, sees the whole file.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "InputMethod/Core/Engine/BundleTables.h"
#include "support/TestHome.h"

namespace taviro::test {
namespace {

using Emoji = BundleTables::Emoji;

void writeText(const std::filesystem::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
}

std::string plist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body + "\n</plist>\n";
}

std::map<std::string, std::vector<std::string>> sorted(const Emoji& table) {
    return {table.begin(), table.end()};
}

TEST(BundleTables, EmojiTableKeepsStringListsOnly) {
    struct Case {
        const char* name;
        std::string text;  // empty: no file
        std::map<std::string, std::vector<std::string>> expected;
    };
    const Case cases[] = {
        {"lists of strings",
         plist("<dict><key>kai'xin</key><array><string>😀</string><string>😄</string></array>"
               "<key>mao</key><array><string>🐱</string></array></dict>"),
         {{"kai'xin", {"😀", "😄"}}, {"mao", {"🐱"}}}},
        {"other values and items left out",
         plist("<dict><key>a</key><string>not a list</string>"
               "<key>b</key><array><integer>3</integer><string>🅱️</string></array>"
               "<key>c</key><array></array></dict>"),
         {{"b", {"🅱️"}}, {"c", {}}}},
        {"root not a dictionary", plist("<array><string>😀</string></array>"), {}},
        {"malformed file", "<plist><dict><key>a</key>", {}},
        {"no file", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto dir = freshDir("emoji");
        if (!c.text.empty()) writeText(dir / "emoji.plist", c.text);
        const auto table = BundleTables::emoji(dir);
        ASSERT_TRUE(table);
        EXPECT_EQ(sorted(*table), c.expected);
        EXPECT_TRUE(table->isLoaded());
        // Read once: a later request shares the loaded table.
        EXPECT_EQ(BundleTables::emoji(dir), table);
    }
}

TEST(BundleTables, EmojiLookupsFromManyThreadsSeeTheWholeTable) {
    const auto dir = freshDir("emoji-threads");
    std::string body = "<dict>";
    for (int i = 0; i < 2000; ++i)
        body.append("<key>k").append(std::to_string(i)).append("</key><array><string>e")
            .append(std::to_string(i)).append("</string></array>");
    writeText(dir / "emoji.plist", plist(body + "</dict>"));

    constexpr int kThreads = 8;
    std::vector<std::thread> threads;
    std::vector<int> found(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            const auto table = BundleTables::emoji(dir);
            const std::string n = std::to_string(1999 - t);
            auto it = table->find(std::string("k").append(n));
            if (it != table->end() && it->second == std::vector<std::string>{std::string("e").append(n)})
                found[t] = static_cast<int>(table->size());
        });
    for (auto& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(found[t], 2000) << t;
}

TEST(BundleTables, EmojiTableBuiltInMemory) {
    const Emoji none;
    EXPECT_TRUE(none.isLoaded());
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.find("mao"), none.end());

    const Emoji some(Emoji::Map{{"mao", {"🐱"}}});
    ASSERT_NE(some.find("mao"), some.end());
    EXPECT_EQ(some.find("mao")->second, std::vector<std::string>{"🐱"});
}

} // namespace
} // namespace taviro::test
