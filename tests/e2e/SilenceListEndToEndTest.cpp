// The silence list under a real ibus-daemon and X server: a program started
// through a wrapper of another name is silenced by the entry the user picked,
// and a client with no window of its own is not named after the focused one.
#include "e2e/PrivateDesktop.h"

#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Notifications/DBusCommandChannel.h"
#include "Settings/ConfigManager.h"
#include "Settings/NotificationSender.h"
#include "Settings/Pages/DesktopApplications.h"
#include "Settings/Pages/SilenceManager.h"
#include "SharedLib/contract/ApplicationName.h"

#include <map>

namespace taviro::e2e {
namespace {

class SilenceListDesktop : public X11Desktop {
protected:
    void SetUp() override {
        startDesktop("e2e-silence");
        if (IsSkipped() || HasFatalFailure()) return;
        ::setenv("QT_IM_MODULE", "ibus", 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        field_ = Child({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-field"}, "", errFile_);
        ASSERT_TRUE(field_.waitForLine([](const std::string& l) { return l == "READY"; }, 10s));
        selectEngine();
    }

    void TearDown() override {
        wrapped_.stop();
        raw_.stop();
        field_.stop();
        stopDesktop();
        ::unsetenv("QT_IM_MODULE");
    }

    // Lists the applications of these desktop entries (Exec, StartupWMClass)
    // as the preferences application does, turns silence on and tells the
    // running input method.
    void silence(const std::vector<std::pair<std::string, std::string>>& entries) {
        std::map<std::string, std::string> list;
        for (const auto& [exec, wmClass] : entries)
            list[contract::silencePattern(contract::desktopEntryNames(exec, wmClass))] = exec;
        const fs::path perUser = plat::Paths::perUserFolder();
        fs::create_directories(perUser);
        ASSERT_TRUE(plat::writePlistFile(perUser / "silence.plist", plat::stringMapToPlist(list)));
        auto config = plat::readPlistFile(perUser / "config.plist").value_or(plat::PlistValue::dictionary());
        if (!config.isDictionary()) config = plat::PlistValue::dictionary();
        config.mutableDictionary()["Silence"] = plat::PlistValue(true);
        ASSERT_TRUE(plat::writePlistFile(perUser / "config.plist", config));
        ASSERT_TRUE(runProgram({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-send", "configNeedsReload"}, errFile_));
    }

    // Picks the application of the desktop entry `file` in the preferences
    // application's silence list editor, as the user does, with silence on;
    // the editor saves and tells the running input method over the bus.
    void pick(const std::string& file) {
        auto channel = std::make_shared<plat::DBusCommandChannel>();
        auto before = kelvane::NotificationSender::setChannel(channel);
        {
            kelvane::ConfigManager config(plat::Paths::perUserFolder());
            config.silence = true;
            config.save();
            kelvane::SilenceManager editor(config);
            std::vector<kelvane::DesktopApplication> picked;
            for (const auto& app : kelvane::installedApplications())
                if (app.identifier == file) picked.push_back(app);
            ASSERT_EQ(picked.size(), 1u) << file << " is not offered";
            editor.addApplications(picked);
            for (size_t row = 0; row < editor.numberOfRows(); ++row)
                if (editor.objectValue("name", row) == picked.front().name) pattern_ = editor.objectValue("id", row);
        }
        ASSERT_TRUE(channel->flush(5s));
        kelvane::NotificationSender::setChannel(before);
    }

    // Gives the X input focus to the window of the program `child` runs.
    void focus(const Child& child) {
        ASSERT_TRUE(runProgram({"xdotool", "search", "--all", "--pid", std::to_string(child.pid()), "--name",
                                "taviro-e2e-field", "windowfocus", "--sync"},
                               errFile_));
        std::this_thread::sleep_for(300ms);
    }

    // Types "nihao" into the focused field: true when it composed.
    bool composes() {
        keys({"n", "i", "h", "a", "o"});
        const bool composed = candidateWindow(composedWait_).has_value();
        keys({"Escape"});
        windowGone();
        return composed;
    }

    Child field_, wrapped_, raw_;
    std::string pattern_;
    std::chrono::milliseconds composedWait_{3000};
};

TEST_F(SilenceListDesktop, PickedWrapperEntryWithoutWindowClassSilencesItsWindowAndOnlyThat) {
    // "realed.desktop" starts the script "myed", which execs a program whose
    // window is of class "realed"; the entry has no StartupWMClass. The
    // program is the same as the other field's: only the window class tells
    // them apart.
    const fs::path myed = dir_ / "myed", apps = fs::path(std::getenv("XDG_DATA_HOME")) / "applications";
    std::ofstream(myed) << "#!/bin/sh\nRESOURCE_NAME=realed exec '" << TAVIRO_BIN_DIR << "/taviro-e2e-field' \"$@\"\n";
    fs::permissions(myed, fs::perms::owner_all);
    fs::create_directories(apps);
    std::ofstream(apps / "realed.desktop") << "[Desktop Entry]\nType=Application\nName=Real Editor\nExec="
                                           << myed.string() << " %F\n";
    pick("realed.desktop");
    if (HasFatalFailure()) return;
    EXPECT_EQ(pattern_, "^(myed|realed)$");

    wrapped_ = Child({myed.string()}, "", errFile_);
    ASSERT_TRUE(wrapped_.waitForLine([](const std::string& l) { return l == "READY"; }, 10s));
    const auto wmClass = runProgram({"xdotool", "search", "--classname", "^realed$"}, errFile_);
    ASSERT_TRUE(wmClass && !wmClass->empty()) << "the wrapped program's window is not of class realed";
    std::this_thread::sleep_for(300ms);
    keys({"n", "i", "h", "a", "o"});
    EXPECT_TRUE(wrapped_.waitForLine([](const std::string& l) { return l == "TEXT nihao"; }, 10s))
        << "the program its wrapper started did not get the letters";
    EXPECT_FALSE(candidateWindow(300ms)) << "the window of the picked entry composes";

    focus(field_);
    EXPECT_TRUE(composes()) << "a window of another class, of the same program, is silenced too";
    focus(wrapped_);
    composedWait_ = 500ms;
    EXPECT_FALSE(composes()) << "the window of the picked entry composes when it has the focus again";
}

TEST_F(SilenceListDesktop, WrapperStartedProgramIsSilencedAndAWindowlessClientKeepsItsOwnName) {
    // "myed" is a script that execs "realed"; its entry says which windows are its own.
    const fs::path realed = dir_ / "realed", myed = dir_ / "myed";
    fs::create_symlink(std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-field", realed);
    std::ofstream(myed) << "#!/bin/sh\nexec '" << realed.string() << "' \"$@\"\n";
    fs::permissions(myed, fs::perms::owner_all);
    silence({{myed.string() + " %F", "realed"}});

    wrapped_ = Child({myed.string()}, "", errFile_);
    ASSERT_TRUE(wrapped_.waitForLine([](const std::string& l) { return l == "READY"; }, 10s));
    std::this_thread::sleep_for(300ms);
    keys({"n", "i", "h", "a", "o"});
    EXPECT_TRUE(wrapped_.waitForLine([](const std::string& l) { return l == "TEXT nihao"; }, 10s))
        << "the program its wrapper started did not get the letters";
    EXPECT_FALSE(candidateWindow(300ms)) << "the program its wrapper started composes";

    // A bare IBus client with no window takes the input focus while the
    // silenced program keeps the X focus: it still composes.
    raw_ = Child({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-raw", "taviromac2"}, "", errFile_, true);
    auto ready = raw_.waitForLine([](const std::string& l) { return l == "READY" || l.rfind("FAILED", 0) == 0; }, 15s);
    ASSERT_TRUE(ready && *ready == "READY") << (ready ? *ready : "no answer");
    // Typed through that client, pinyin becomes Chinese (the engine may
    // still be opening its dictionaries at first).
    bool composed = false;
    const auto until = Clock::now() + 15s;
    while (!composed && Clock::now() < until) {
        for (const auto& [name, code] : std::vector<std::pair<std::string, int>>{
                 {"n", 49}, {"i", 23}, {"h", 35}, {"a", 30}, {"o", 24}, {"space", 57}}) {
            ASSERT_TRUE(raw_.send("KEY " + name + " " + std::to_string(code)));
            ASSERT_TRUE(raw_.waitForLine([](const std::string& l) { return l.rfind("HANDLED", 0) == 0; }, 5s));
        }
        composed = raw_.waitForLine([](const std::string& l) { return l == "COMMIT 你好"; }, 1500ms).has_value();
        if (!composed) {
            ASSERT_TRUE(raw_.send("KEY Escape 1"));
        }
    }
    std::string seen;
    for (const auto& l : raw_.lines()) seen += l + "|";
    EXPECT_TRUE(composed) << "the windowless client was silenced by the focused window's entry: " << seen;
}

} // namespace
} // namespace taviro::e2e
