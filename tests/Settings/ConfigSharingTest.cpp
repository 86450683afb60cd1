// The input method and the preferences application as two processes on one
// "config.plist".
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/ConfigManager.h"
#include "support/BlockedLock.h"
#include "support/ChildProcess.h"
#include "support/SettingsFilePlaces.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#if defined(CONFIG_SAVER_KELVANE) && defined(CONFIG_SAVER_INPUT_METHOD_PROGRAM) && defined(LOCK_HOLDER)

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {
namespace fs = std::filesystem;

// One saver program; its whole output is collected by finish(), waiting at most 60 s.
class Saver {
public:
    Saver(const char* program, const fs::path& folder, int saves, const fs::path& start) {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args{program, folder.string(), std::to_string(saves), start.string()};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        fd_ = out[0];
    }
    ~Saver() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) ::close(fd_);
    }

    // The exit status (-1 when it did not end in time) and the output.
    int finish(std::string& output) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return -1;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return -1;
            char buf[4096];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            output.append(buf, static_cast<size_t>(n));
        }
        int status = 0;
        if (::waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

// A fresh folder under /dev/shm, removed at the end; empty when there is none.
struct MemoryFolder {
    fs::path path;
    MemoryFolder() {
        char name[] = "/dev/shm/taviro-config-XXXXXX";
        if (::mkdtemp(name)) path = name;
    }
    ~MemoryFolder() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};

struct Report {
    int reverted = -1;
    std::map<std::string, std::string> last;
};

Report parse(const std::string& output) {
    Report r;
    std::istringstream in(output);
    std::string word;
    while (in >> word) {
        if (word == "reverted") {
            in >> r.reverted;
        } else if (word == "last") {
            std::string key, value;
            in >> key;
            in.get();
            std::getline(in, value);
            r.last[key] = value;
        }
    }
    return r;
}

std::string show(const plat::PlistValue& v) {
    if (auto b = v.getBool()) return *b ? "true" : "false";
    if (auto i = v.getInteger()) return std::to_string(*i);
    if (const std::string* s = v.stringPtr()) return *s;
    return "?";
}

// Both programs save their own keys hundreds of times at once: no value either of
// them saved is ever reverted, and each one's last values end in the file.
// Also when "config.plist" is a link to a file kept in a dotfiles folder: both read and
// write that file, the link stays, and nothing is left beside it.
TEST(ConfigSharing, TwoProgramsSavingAtOnceLoseNothing) {
  for (const bool linked : {false, true}) {
    SCOPED_TRACE(linked ? "config.plist linked to a dotfiles folder" : "config.plist in the folder");
    // In memory where there is a tmpfs: the lock and the merge are under test, not the
    // disk's flushes, which would make a thousand saves take seconds.
    MemoryFolder memory;
    const fs::path home = memory.path.empty() ? taviro::test::freshDir("sharing") : memory.path;
    const fs::path folder = home / "TaviroMac";
    fs::create_directories(folder);
    const fs::path dotfiles = home / "dotfiles";
    if (linked) {
        fs::create_directories(dotfiles);
        ASSERT_TRUE(plat::writePlistFile(dotfiles / "config.plist",
                                         plat::PlistValue(plat::PlistValue::Dictionary{{"FromDotfiles", plat::PlistValue("kept")}})));
        fs::create_symlink("../dotfiles/config.plist", folder / "config.plist");
    }
    const fs::path start = home / "go";
    const int saves = 1000;
    Saver im(CONFIG_SAVER_INPUT_METHOD_PROGRAM, folder, saves, start);
    Saver kelvane(CONFIG_SAVER_KELVANE, folder, saves, start);
    ASSERT_TRUE(im.started());
    ASSERT_TRUE(kelvane.started());
    std::ofstream(start) << "go";

    std::string imOut, kelvaneOut;
    ASSERT_EQ(im.finish(imOut), 0) << imOut;
    ASSERT_EQ(kelvane.finish(kelvaneOut), 0) << kelvaneOut;
    const Report imReport = parse(imOut), kelvaneReport = parse(kelvaneOut);
    EXPECT_EQ(imReport.reverted, 0) << "input method";
    EXPECT_EQ(kelvaneReport.reverted, 0) << "preferences application";
    ASSERT_EQ(imReport.last.size(), 5u) << imOut;
    ASSERT_EQ(kelvaneReport.last.size(), 5u) << kelvaneOut;

    auto file = plat::readPlistFile(folder / "config.plist", plat::PlistValue::Type::Dictionary);
    ASSERT_TRUE(file.has_value());
    for (const Report* report : {&imReport, &kelvaneReport})
        for (const auto& [key, value] : report->last) {
            const plat::PlistValue* stored = file->find(key);
            ASSERT_NE(stored, nullptr) << key;
            EXPECT_EQ(show(*stored), value) << key;
        }
    if (linked) {
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder / "config.plist")));
        ASSERT_NE(file->find("FromDotfiles"), nullptr);
        EXPECT_EQ(show(*file->find("FromDotfiles")), "kept");
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dotfiles)) names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"config.plist"});
    }
  }
}

// A damaged file met by both programs starting at once is moved aside exactly once,
// with its bytes, and neither writes over the other's fresh start.
TEST(ConfigSharing, BothProgramsMeetingADamagedFileSetItAsideOnce) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"garbage", "not a plist at all"},
        {"empty", ""},
        {"not UTF-8", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>InputPlanName</key>"
                      "<string>\xC6\xB4\xD2\xF4</string></dict></plist>"},
    };
    for (const auto& c : cases) {
        const fs::path home = taviro::test::freshDir("sharing-damaged");
        const fs::path folder = home / "TaviroMac";
        fs::create_directories(folder);
        ASSERT_TRUE(plat::writeFileAtomically(folder / "config.plist", c.bytes)) << c.name;
        const fs::path start = home / "go";
        Saver im(CONFIG_SAVER_INPUT_METHOD_PROGRAM, folder, 0, start);
        Saver kelvane(CONFIG_SAVER_KELVANE, folder, 0, start);
        std::ofstream(start) << "go";
        std::string imOut, kelvaneOut;
        ASSERT_EQ(im.finish(imOut), 0) << c.name;
        ASSERT_EQ(kelvane.finish(kelvaneOut), 0) << c.name;

        std::vector<fs::path> aside;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().filename().string().starts_with("config.plist.damaged-")) aside.push_back(entry.path());
        ASSERT_EQ(aside.size(), 1u) << c.name;
        EXPECT_EQ(plat::readWholeFile(aside[0]), c.bytes) << c.name;
        EXPECT_FALSE(fs::exists(folder / "config.plist")) << c.name;
    }
}


// Runs a saver to its end; its whole output.
std::string runSaver(const char* program, const std::vector<std::string>& args) {
    taviro::test::ChildProcess child(program, args);
    child.closeInput();
    child.waitFor("\x01 no such output", std::chrono::seconds(60));
    EXPECT_EQ(child.wait(), 0) << program;
    return child.output();
}

bool hasLine(const std::string& output, const std::string& line) {
    std::istringstream in(output);
    for (std::string l; std::getline(in, l);)
        if (l == line) return true;
    return false;
}

// A silence list or punctuation map file that is damaged or far too large is set
// aside by whichever program meets it first, which tells its user once; the other
// program then finds a sound file. Each one's entries, written after the other's,
// stay in the file.
TEST(ConfigSharing, AListFileSetAsideByOneProgramKeepsWhatTheOtherWritesLater) {
    enum class Plant { bytes, folder, danglingLink };
    const struct {
        const char* name;
        std::string bytes;
        std::uintmax_t sparseSize;
        Plant plant = Plant::bytes;
    } kinds[] = {
        {"damaged", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>", 0},
        {"200 MB", "", 200u * 1024 * 1024},
        {"a folder", "", 0, Plant::folder},
        {"a dangling link", "", 0, Plant::danglingLink},
    };
    const char* const programs[] = {CONFIG_SAVER_INPUT_METHOD_PROGRAM, CONFIG_SAVER_KELVANE};
    for (const std::string list : {"silence", "punc"})
        for (const auto& kind : kinds)
            for (const int first : {0, 1}) {
                SCOPED_TRACE(list + ", " + kind.name + (first == 0 ? ", input method first" : ", Kelvane first"));
                const fs::path folder = taviro::test::freshDir("sharing-list") / "TaviroMac";
                fs::create_directories(folder);
                const std::string name = list == "silence" ? "silence.plist" : "PunctuationMapping.plist";
                switch (kind.plant) {
                case Plant::bytes: ASSERT_TRUE(plat::writeFileAtomically(folder / name, kind.bytes)); break;
                case Plant::folder:
                    taviro::test::plantSettingsFilePlace(folder / name, taviro::test::SettingsFilePlace::folder);
                    break;
                case Plant::danglingLink:
                    taviro::test::plantSettingsFilePlace(folder / name, taviro::test::SettingsFilePlace::danglingLink,
                                                         "../dotfiles/absent.plist");
                    break;
                }
                if (kind.sparseSize) fs::resize_file(folder / name, kind.sparseSize);

                const char* one = programs[first];
                const char* other = programs[1 - first];
                const std::string f = folder.string();
                const std::string a = runSaver(one, {f, "list", list, "first.key", "First"});
                EXPECT_TRUE(hasLine(a, "told 1")) << a;
                EXPECT_TRUE(hasLine(a, "saved")) << a;
                const std::string b = runSaver(other, {f, "list", list, "second.key", "Second"});
                EXPECT_TRUE(hasLine(b, "told 0")) << b;
                EXPECT_TRUE(hasLine(b, "entry first.key First")) << b;
                const std::string c = runSaver(one, {f, "list", list, "third.key", "Third"});
                EXPECT_TRUE(hasLine(c, "told 0")) << c;
                EXPECT_TRUE(hasLine(c, "entry second.key Second")) << c;

                const auto stored = plat::readStringMapFile(folder / name);
                ASSERT_TRUE(stored.has_value());
                for (const char* key : {"first.key", "second.key", "third.key"}) EXPECT_TRUE(stored->contains(key)) << key;
                std::vector<fs::path> aside;
                for (const auto& entry : fs::directory_iterator(folder))
                    if (entry.path().filename().string().starts_with(name + ".damaged-")) aside.push_back(entry.path());
                ASSERT_EQ(aside.size(), 1u);
                switch (kind.plant) {
                case Plant::bytes:
                    EXPECT_EQ(fs::file_size(aside[0]), kind.sparseSize ? kind.sparseSize : kind.bytes.size());
                    break;
                case Plant::folder: EXPECT_EQ(plat::readWholeFile(aside[0] / "inside"), "kept"); break;
                case Plant::danglingLink:
                    EXPECT_EQ(fs::read_symlink(aside[0]), fs::path("../dotfiles/absent.plist"));
                    break;
                }
            }
}

// Kelvane quits with a change that waited for the lock the input method holds: its
// last write waits a bounded time, so a lock let go meanwhile still gets the change
// written for the next start; a lock held past that ends the program promptly with
// an alert saying the change was not saved.
TEST(ConfigSharing, KelvaneQuittingWritesAChangeWaitingForTheLockOrSaysItIsLost) {
    for (const bool released : {true, false}) {
        SCOPED_TRACE(released ? "lock let go during the last write" : "lock held past the last write");
        const fs::path folder = taviro::test::freshDir("sharing-quit") / "TaviroMac";
        fs::create_directories(folder);
        taviro::test::BlockedLock blocked(plat::configLockPath(folder), taviro::test::LockBlock::otherProcess,
                                          LOCK_HOLDER);
        ASSERT_TRUE(blocked.ready());
        taviro::test::ChildProcess kelvane(CONFIG_SAVER_KELVANE, {folder.string(), "quit"});
        ASSERT_EQ(kelvane.nextLine(), "pending");
        kelvane.send("quit");
        if (released) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            blocked.release();
            EXPECT_EQ(kelvane.nextLine(std::chrono::seconds(20)), "saved");
        } else {
            const std::string said = kelvane.nextLine(std::chrono::seconds(20));
            EXPECT_EQ(said.rfind("unsaved 设置未能保存", 0), 0u) << said;
            EXPECT_NE(said.find("config.plist"), std::string::npos) << said;
        }
        kelvane.waitFor("\x01 no such output", std::chrono::seconds(20)); // the rest of its output
        EXPECT_EQ(kelvane.wait(std::chrono::seconds(20)), 0);
        // Every file left unwritten is named, with the lock as the cause; the list
        // files had none yet and needed the lock as well.
        for (const char* name : {"config.plist", "silence.plist", "PunctuationMapping.plist"})
            EXPECT_EQ(hasLine(kelvane.output(), "unwritten " + std::string(name) + " held"), !released)
                << kelvane.output();
        blocked.release();
        EXPECT_EQ(kelvane::ConfigManager(folder).codeLength, released ? 6 : 4);
    }
}
// What stands in a settings file's place when Kelvane starts and quits: a folder, a
// dangling link (set aside, told once, the file written anew), or a link to a file of
// the user's own (read and written there, the link kept). Nothing is said lost at exit,
// and the next start reads what was saved.
TEST(ConfigSharing, KelvaneQuitsWithNothingLostWhateverStandsInASettingsFilesPlace) {
    using taviro::test::SettingsFilePlace;
    for (const auto& c : taviro::test::settingsFilePlaceCases()) {
        SCOPED_TRACE(c.name);
        const fs::path home = taviro::test::freshDir("sharing-place");
        const fs::path folder = home / "TaviroMac";
        fs::create_directories(folder);
        const fs::path place = folder / c.file, target = home / "dotfiles" / c.file;
        const bool linked = c.place == SettingsFilePlace::linkToOurs;
        taviro::test::plantSettingsFilePlace(place, c.place, target,
                                             {{"dotfiles.key", plat::PlistValue("Dotfiles")}});

        taviro::test::ChildProcess kelvane(CONFIG_SAVER_KELVANE, {folder.string(), "quit"});
        EXPECT_EQ(kelvane.nextLine(), "written");
        kelvane.send("quit");
        EXPECT_EQ(kelvane.nextLine(std::chrono::seconds(20)), "saved");
        kelvane.waitFor("\x01 no such output", std::chrono::seconds(20)); // the rest of its output
        EXPECT_EQ(kelvane.wait(std::chrono::seconds(20)), 0);
        const std::string out = kelvane.output();
        EXPECT_EQ(out.find("unwritten"), std::string::npos) << out;
        EXPECT_TRUE(hasLine(out, linked ? "told 0" : "told 1")) << out;

        EXPECT_EQ(taviro::test::setAsideCount(folder, c.file), linked ? 0u : 1u);
        EXPECT_EQ(fs::is_symlink(fs::symlink_status(place)), linked);
        const kelvane::ConfigManager next(folder);
        EXPECT_EQ(next.codeLength, 6);
        if (linked && std::string(c.file) == "silence.plist") {
            EXPECT_EQ(next.silenceDict, (kelvane::StringMap{{"dotfiles.key", "Dotfiles"}}));
        }
        if (linked && std::string(c.file) == "config.plist") {
            const auto stored = plat::readPlistFile(target, plat::PlistValue::Type::Dictionary);
            ASSERT_TRUE(stored.has_value());
            ASSERT_NE(stored->find("CodeLength"), nullptr);
            EXPECT_EQ(show(*stored->find("CodeLength")), "6");
            EXPECT_EQ(show(*stored->find("dotfiles.key")), "Dotfiles");
        }
    }
}
} // namespace

#endif
