// Another program's large import while words are typed: TaviroMac2 under a
// private ibus-daemon, typed into by a bare IBus client, while a separate
// process runs Kelvane's custom phrase import of 300,000 lines.
#include "e2e/PrivateIBus.h"
#include "Platform/Notifications/CommandChannelNames.h"
#include "Platform/Notifications/CommandReceiver.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

using namespace taviro::e2e;
namespace cmd = plat::command;

// The "okToUse" commands on the session bus, as the input method receives them.
struct ReadyWatch {
    std::mutex m;
    std::condition_variable changed;
    bool ready = true;
    Clock::time_point loweredAt;
    std::vector<Clock::duration> windows;  // each span from "okToUse" false to true

    void seen(const plat::Command& c) {
        const auto ok = c.name == cmd::kOkToUse ? c.boolValue(cmd::kOkToUseKey) : std::nullopt;
        if (!ok) return;
        std::lock_guard lk(m);
        if (!*ok && ready) loweredAt = Clock::now();
        if (*ok && !ready) windows.push_back(Clock::now() - loweredAt);
        ready = *ok;
        changed.notify_all();
    }
    // Waits until no change is under way, at most `limit`; then, if it waited, a
    // moment more for the input method to take the news.
    void waitReady(Clock::duration limit) {
        std::unique_lock lk(m);
        if (ready) return;
        if (changed.wait_for(lk, limit, [&] { return ready; })) {
            lk.unlock();
            std::this_thread::sleep_for(20ms);
        }
    }
};

struct Word {
    std::vector<std::pair<std::string, int>> keys;  // keysym name and evdev code
    const char* text;
};

std::vector<std::pair<std::string, int>> letters(const std::string& s) {
    // evdev codes of the letters a..z on a US keyboard
    static const int codes[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                  49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
    std::vector<std::pair<std::string, int>> out;
    for (char c : s) out.emplace_back(std::string(1, c), codes[c - 'a']);
    return out;
}

using ImportWhileTyping = HeadlessEndToEnd;

// Words typed while the import is built are committed one by one, as typed:
// the input method is kept off its databases only around the import's commit,
// well under 100 ms, instead of for the whole import.
TEST_F(ImportWhileTyping, EveryWordTypedDuringALargePhraseImportIsCommittedAsTyped) {
    ASSERT_TRUE(typeNihao()) << "no lookup table with 你好; daemon log:\n" << daemonLog();
    ASSERT_TRUE(waitFor("COMMIT 你好"));

    auto watch = std::make_shared<ReadyWatch>();
    auto receiver = plat::CommandReceiver::start([watch](const plat::Command& c) { watch->seen(c); },
                                                 [](std::function<void()> fn) { fn(); });
    ASSERT_TRUE(receiver);

    const fs::path file = dir_ / "phrases.txt";
    {
        std::ofstream out(file);
        for (int i = 0; i < 300000; ++i) {
            std::string code = "zzq";
            for (int n = i; n > 0; n /= 26) code += static_cast<char>('a' + n % 26);
            out << "短语" << i << '\t' << code << '\n';
        }
    }
    const std::vector<Word> words = {
        {letters("nihao"), "你好"},   {letters("zhongguo"), "中国"}, {letters("women"), "我们"},
        {letters("shijie"), "世界"},  {letters("pengyou"), "朋友"},  {letters("xuexi"), "学习"},
        {letters("gongzuo"), "工作"}, {letters("shenghuo"), "生活"}, {letters("jintian"), "今天"},
    };

    Child importer({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-import", file.string()}, "", errFile_);
    ASSERT_TRUE(importer.waitForLine([](const std::string& l) { return l == "START"; }, 10s));
    const auto started = Clock::now();
    std::optional<std::string> done;
    int typedDuringImport = 0, typedAfter = 0;
    std::vector<std::string> wrong;
    for (std::size_t i = 0; typedAfter < 3 && Clock::now() - started < 60s; ++i) {
        if (!done) done = importer.waitForLine([](const std::string& l) { return l.rfind("DONE", 0) == 0; }, 10ms);
        const Word& w = words[i % words.size()];
        const std::vector<std::pair<std::string, int>> head(w.keys.begin(), w.keys.end() - 1);
        ASSERT_TRUE(keys(head));
        // The last key of a word is held back from the short change itself, where
        // the input method offers only its waiting text, as long as a typist may
        // pause: 100 ms.
        watch->waitReady(100ms);
        ASSERT_TRUE(keys({w.keys.back(), {"space", 57}}));
        const auto commit = waitFor("COMMIT ", 3s);
        if (!commit) {
            wrong.push_back(std::string(w.text) + " was held");
            break;
        }
        if (*commit != std::string("COMMIT ") + w.text) wrong.push_back(*commit + " for " + w.text);
        if (done) ++typedAfter;
        else ++typedDuringImport;
    }
    EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
    if (!done) done = importer.waitForLine([](const std::string& l) { return l.rfind("DONE", 0) == 0; }, 30s);
    ASSERT_TRUE(done) << "the import did not end";
    EXPECT_EQ(*done, "DONE 1");
    EXPECT_GE(typedDuringImport, 10) << "too few words typed while the import ran";

    receiver.reset();
    std::lock_guard lk(watch->m);
    ASSERT_FALSE(watch->windows.empty()) << "the import told the input method nothing";
    for (const auto& w : watch->windows)
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(w).count(), 100)
            << "the input method was kept off its databases this long";
}

} // namespace
