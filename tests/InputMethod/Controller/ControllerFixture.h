#pragma once
// A controller over a scripted engine, a paged window of five candidates, a
// settings object, defaults and statistics of its own, on a virtual clock.
#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/CompositionEngine.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Database/CodeTable.h"
#include "InputMethod/KeyLogger.h"
#include "InputMethod/PagedCandidateWindow.h"
#include "InputMethod/TaviroController.h"
#include "InputMethod/TextOutput.h"
#include "InputMethod/TypingSession.h"
#include "Platform/Foundation/UserDefaults.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace taviro::test {

// Candidates by whole buffer; a commit consumes the chosen record's code.
class FakeEngine : public CompositionEngine {
public:
    std::map<std::string, std::vector<CodeTable>> table;
    std::set<std::string> longerCodes;
    std::vector<std::string> log;  // "commit:你", "forget:0", "clean", "reload"

    std::string getCandidates(const std::string& text) override {
        buffer_ += text;
        auto it = table.find(buffer_);
        list_ = it == table.end() ? std::vector<CodeTable>{} : it->second;
        return buffer_;
    }
    std::vector<std::string> candidateStrings() const override {
        std::vector<std::string> out;
        for (const auto& r : list_) out.push_back(r.table);
        return out;
    }
    std::string commitSelection(const std::string& text) override {
        log.push_back("commit:" + text);
        for (const auto& r : list_) {
            if (r.table != text) continue;
            if (r.code.size() > buffer_.size()) break;
            buffer_.erase(0, r.code.size());
            return getCandidates("");
        }
        buffer_.clear();
        list_.clear();
        return {};
    }
    void forgetWord(std::int64_t index) override { log.push_back("forget:" + std::to_string(index)); }
    void clean() override {
        log.push_back("clean");
        buffer_.clear();
        list_.clear();
    }
    void reloadInputDelegate() override { log.push_back("reload"); }
    std::string inputBuffer() const override { return buffer_; }
    std::size_t candidateCount() const override { return list_.size(); }
    std::string firstCandidateCode() const override { return list_.empty() ? "" : list_.front().code; }
    bool hasLongerCode(const std::string& code) override { return longerCodes.count(code) > 0; }
    std::string pinyinDisplay(const std::string& keys) override { return "<" + keys + ">"; }

    std::vector<std::string> commits() const {
        std::vector<std::string> out;
        for (const auto& l : log)
            if (l.rfind("commit:", 0) == 0) out.push_back(l.substr(7));
        return out;
    }

private:
    std::string buffer_;
    std::vector<CodeTable> list_;
};

inline std::vector<CodeTable> records(const std::string& code, std::vector<std::string> words) {
    std::vector<CodeTable> out;
    for (auto& w : words) out.emplace_back(code, w);
    return out;
}

class ControllerTest : public ::testing::Test {
protected:
    std::filesystem::path dir = freshDir("controller");
    std::filesystem::path perUser = dir / "TaviroMac";
    std::filesystem::path userFolder = dir / "user";
    std::unique_ptr<ConfigManager> config;
    bool vertical = false;
    CandidateWindowHolder windows{[this](bool v) { return std::make_unique<PagedCandidateWindow>(v || vertical, 5); }};
    plat::UserDefaults defaults{dir / "UserDefaults.plist"};
    std::vector<std::string> statsWrites;
    bool statsOpen = true;
    std::unique_ptr<KeyLogger> keyLogger;
    FakeEngine engine;
    std::unique_ptr<TypingSession> session;
    // Messages the controllers gave the user, as "title: text".
    struct RecordingNotice : UserNotice {
        std::vector<std::string> posted;
        void post(const std::string& title, const std::string& text) override { posted.push_back(title + ": " + text); }
    };
    std::shared_ptr<RecordingNotice> notices = std::make_shared<RecordingNotice>();

    void SetUp() override {
        std::filesystem::create_directories(perUser);
        std::filesystem::create_directories(userFolder);
        config = std::make_unique<ConfigManager>(perUser);
        keyLogger = std::make_unique<KeyLogger>(
            [this](KeyLogger::Clock::time_point, std::int64_t count, bool isChar) {
                if (!statsOpen) return false;
                statsWrites.push_back(std::string(isChar ? "Char" : "Key") + "+" + std::to_string(count));
                return true;
            },
            [this] { return config->settings()->keyLogger; });
        TaviroController::pendingCommitText().clear();
        TextOutput::setLastCommitted("", nullptr);
        engine.table["ni"] = records("ni", {"你", "尼", "泥", "拟", "妮", "逆", "倪"});
        engine.table["nihao"] = {CodeTable("nihao", "你好"), CodeTable("ni", "你"), CodeTable("ni", "尼")};
        engine.table["hao"] = records("hao", {"好", "号"});
        engine.table["n"] = records("n", {"那"});
    }

    void TearDown() override { session.reset(); }

    ControllerEnvironment environment() {
        ControllerEnvironment env;
        env.engine = &engine;
        env.config = config.get();
        env.windows = &windows;
        env.defaults = &defaults;
        env.keyLogger = keyLogger.get();
        env.userFolder = userFolder;
        env.perUserFolder = perUser;
        env.expandTemplate = [](const std::string& s) { return s; };
        env.notice = notices;
        return env;
    }

    void start(std::optional<std::string> bundle = std::string("org.example.scripted")) {
        session = std::make_unique<TypingSession>(environment(), std::move(bundle));
    }

    void set(const std::function<void(Settings&)>& change) { config->update(change); }

    TaviroController& controller() { return session->controller(); }
    plat::ScriptedClient& client() { return session->client(); }
    PagedCandidateWindow& window() { return static_cast<PagedCandidateWindow&>(windows.window()); }
    std::string committed() { return client().committedText(); }
    std::string marked() { return client().markedText(); }
};

} // namespace taviro::test
