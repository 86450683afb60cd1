// A child program for the tests where the input method and the preferences
// application save "config.plist" in one folder at the same time. Built twice:
// over the input method's settings (CONFIG_SAVER_INPUT_METHOD) and over the
// preferences application's.
//
//   config_saver_* <folder> <saves> <start file>
//
// Waits (bounded) for <start file>, then changes its own keys and saves <saves>
// times, reloading now and then as the command channel or a page shown again
// would. Before each save it checks that the file still holds the last values
// it saved. Prints "reverted <n>" and, per key, "last <key> <value>".
//
//   config_saver_* <folder> list silence|punc <key> <value>
//
// Loads, sets one entry of the silence list or the punctuation map and saves it.
// Prints "told <n>" (messages about files set aside), "saved" or "pending", and
// "entry <key> <value>" for each entry of that list.
//
//   config_saver_kelvane <folder> quit
//
// Changes "CodeLength" to 6 and saves; prints "pending" or "written". At the next
// line of standard input (or its end) quits as the application does and prints
// "saved" or "unsaved <alert text>", then "unwritten <file> held|unusable" for each
// file left unwritten and "told <n>" (messages about files set aside).

#include "Platform/Foundation/Plist.h"

#ifdef CONFIG_SAVER_INPUT_METHOD
#include "InputMethod/Core/ConfigManager.h"
#else
#include "Platform/Notifications/RecordingCommandChannel.h"
#include "Settings/App/AppLifecycle.h"
#include "Settings/ConfigManager.h"
#include "Settings/NotificationSender.h"
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <thread>

namespace {

std::string show(const plat::PlistValue& v) {
    if (auto b = v.getBool()) return *b ? "true" : "false";
    if (auto i = v.getInteger()) return std::to_string(*i);
    if (const std::string* s = v.stringPtr()) return *s;
    return "?";
}

using Values = std::map<std::string, std::string>;

#ifdef CONFIG_SAVER_INPUT_METHOD
struct Program {
    explicit Program(const std::filesystem::path& folder) : config(folder) {}
    taviro::ConfigManager config;

    // The i-th values of this program's keys.
    Values change(int i) {
        const std::int64_t sizes[] = {14, 16, 18, 24, 32};
        config.update([&](taviro::Settings& s) {
            s.s2t = i % 2 == 1;
            s.revealCode = i % 3 == 1;
            s.fourCode = i % 5;
            s.fontSize = sizes[i % 5];
            s.bootButtonName = "im-" + std::to_string(i) + ".plist";
        });
        return {{"S2T", i % 2 == 1 ? "true" : "false"},
                {"RevealCode", i % 3 == 1 ? "true" : "false"},
                {"FourCode", std::to_string(i % 5)},
                {"FontSize", std::to_string(sizes[i % 5])},
                {"BootButtonName", "im-" + std::to_string(i) + ".plist"}};
    }
    bool save() { return config.saveConfig(); }
    void reload() { config.loadConfig(); }
};
#else
struct Program {
    explicit Program(const std::filesystem::path& folder) : config(folder) {
        kelvane::NotificationSender::setChannel(std::make_shared<plat::RecordingCommandChannel>());
    }
    kelvane::ConfigManager config;

    Values change(int i) {
        config.codeLength = 1 + i % 6;
        config.inputPlanName = "k-" + std::to_string(i);
        config.statusHint = i % 2 == 0;
        config.candidateNumber = i % 9;
        config.revPlanName = "rev-" + std::to_string(i);
        return {{"CodeLength", std::to_string(1 + i % 6)},
                {"InputPlanName", "k-" + std::to_string(i)},
                {"StatusHint", i % 2 == 0 ? "true" : "false"},
                {"CandidateNumber", std::to_string(i % 9)},
                {"RevPlanName", "rev-" + std::to_string(i)}};
    }
    bool save() {
        config.save();
        return !config.hasPendingChanges();
    }
    void reload() { config.loadConfig(); }
};
#endif

void printList(const std::map<std::string, std::string>& list) {
    for (const auto& [key, value] : list) std::printf("entry %s %s\n", key.c_str(), value.c_str());
}

#ifdef CONFIG_SAVER_INPUT_METHOD
struct CountingNotice : taviro::UserNotice {
    int posted = 0;
    void post(const std::string&, const std::string&) override { ++posted; }
};

int setListEntry(const std::filesystem::path& folder, bool silence, const std::string& key, const std::string& value) {
    taviro::ConfigManager config(folder);
    auto notice = std::make_shared<CountingNotice>();
    config.setUserNotice(notice);
    config.update([&](taviro::Settings& s) { (silence ? s.silenceDict : s.puncMapDict)[key] = value; });
    const bool saved = config.saveConfig();
    std::printf("told %d\n%s\n", notice->posted, saved ? "saved" : "pending");
    printList(silence ? config.settings()->silenceDict : config.settings()->puncMapDict);
    return 0;
}

int quit(const std::filesystem::path&) { return 2; }
#else
int setListEntry(const std::filesystem::path& folder, bool silence, const std::string& key, const std::string& value) {
    kelvane::NotificationSender::setChannel(std::make_shared<plat::RecordingCommandChannel>());
    kelvane::ConfigManager config(folder);
    const std::string message = config.takeSetAsideMessage();
    if (silence) config.addSilenceApp(key, value);
    else config.setPuncMapEntry(key, value);
    std::printf("told %d\n%s\n", message.empty() ? 0 : 1, config.hasPendingChanges() ? "pending" : "saved");
    printList(silence ? config.silenceDict : config.puncMapDict);
    return 0;
}

int quit(const std::filesystem::path& folder) {
    kelvane::NotificationSender::setChannel(std::make_shared<plat::RecordingCommandChannel>());
    kelvane::ConfigManager config(folder);
    const std::string told = config.takeSetAsideMessage();
    config.codeLength = 6;
    config.save();
    std::printf("%s\n", config.hasPendingChanges() ? "pending" : "written");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    // The application's own steps after its window closed.
    const std::string unsaved = kelvane::saveSettingsBeforeExit(config);
    kelvane::finishBeforeExit();
    if (unsaved.empty()) std::printf("saved\n");
    else std::printf("unsaved %s\n", unsaved.c_str());
    for (const auto& file : config.unwrittenFiles())
        std::printf("unwritten %s %s\n", file.name.c_str(),
                    file.cause == plat::UnwrittenFile::Cause::lockHeld ? "held" : "unusable");
    std::printf("told %d\n", told.empty() ? 0 : 1);
    return 0;
}
#endif

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[2]) == "quit") return quit(argv[1]);
    if (argc == 6 && std::string(argv[2]) == "list")
        return setListEntry(argv[1], std::string(argv[3]) == "silence", argv[4], argv[5]);
    if (argc != 4) return 2;
    const std::filesystem::path folder = argv[1];
    const int saves = std::stoi(argv[2]);
    const std::filesystem::path start = argv[3];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(start)) {
        if (std::chrono::steady_clock::now() > deadline) return 3;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    Program program(folder);
    Values saved;  // what this program last saved, key by key
    Values latest; // what it set last
    int reverted = 0;
    for (int i = 0; i < saves; ++i) {
        if (!saved.empty()) {
            auto file = plat::readPlistFile(folder / "config.plist", plat::PlistValue::Type::Dictionary);
            for (const auto& [key, value] : saved) {
                const plat::PlistValue* stored = file ? file->find(key) : nullptr;
                if (!stored || show(*stored) != value) ++reverted;
            }
        }
        if (i % 7 == 3) program.reload();
        latest = program.change(i);
        if (program.save()) saved = latest;
    }
    // The last values must reach the file: a save that met the lock is retried
    // (the next save writes what the failed one did not). Saves never wait for the
    // lock, and this program runs no main loop for the retries of its own.
    if (saved != latest)
        for (int attempt = 0; attempt < 2000; ++attempt) {
            if (program.save()) {
                saved = latest;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    std::printf("reverted %d\n", reverted);
    for (const auto& [key, value] : saved) std::printf("last %s %s\n", key.c_str(), value.c_str());
    std::fflush(stdout);
    return 0;
}
