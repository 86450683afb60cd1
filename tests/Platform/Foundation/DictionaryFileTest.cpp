#include "Platform/Foundation/DictionaryFile.h"

#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/FileUtil.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;
using plat::DictionaryChanges;
using plat::MergeOutcome;
using plat::PlistValue;
using State = plat::DictionaryFileRead::State;

PlistValue::Dictionary dict(std::initializer_list<std::pair<const std::string, PlistValue>> entries) {
    return PlistValue::Dictionary(entries);
}

// What a merge makes of the file on disk, case by case.
TEST(DictionaryFile, MergeAppliesOnlyTheChangesToTheFileOnDisk) {
    const auto keepsBools = [](const std::string&, const PlistValue& v) { return v.isBool(); };
    const struct {
        const char* name;
        std::optional<PlistValue::Dictionary> onDisk; // none: no file
        DictionaryChanges changes;
        PlistValue::Dictionary expected;
    } cases[] = {
        {"set and remove", dict({{"a", 1}, {"b", 2}, {"other", "x"}}),
         DictionaryChanges{{{"a", PlistValue(5)}, {"b", std::nullopt}}, {}, {}, {}, {}},
         dict({{"a", 5}, {"other", "x"}})},
        {"fill only what is missing", dict({{"a", 1}}),
         DictionaryChanges{{}, {{"a", PlistValue(9)}, {"c", PlistValue(3)}}, {}, {}, {}},
         dict({{"a", 1}, {"c", 3}})},
        {"fill what the file holds badly", dict({{"a", 1}, {"b", true}}),
         DictionaryChanges{{}, {{"a", PlistValue(false)}, {"b", PlistValue(false)}}, keepsBools, {}, {}},
         dict({{"a", false}, {"b", true}})},
        {"no file: changes and fill", std::nullopt,
         DictionaryChanges{{{"a", PlistValue(1)}}, {{"b", PlistValue(2)}}, {}, {}, {}}, dict({{"a", 1}, {"b", 2}})},
        {"no file: the whole map", std::nullopt,
         DictionaryChanges{{{"a", PlistValue("1")}}, {}, {}, dict({{"a", "1"}, {"z", "26"}}), {}},
         dict({{"a", "1"}, {"z", "26"}})},
        {"file there: the whole map is not used", dict({{"q", "17"}}),
         DictionaryChanges{{{"a", PlistValue("1")}}, {}, {}, dict({{"a", "1"}, {"z", "26"}}), {}},
         dict({{"a", "1"}, {"q", "17"}})},
    };
    for (const auto& c : cases) {
        const fs::path folder = taviro::test::freshDir("merge");
        const fs::path file = folder / "settings.plist";
        if (c.onDisk) {
            ASSERT_TRUE(plat::writePlistFile(file, PlistValue(*c.onDisk))) << c.name;
        }
        const MergeOutcome out =
            plat::mergeIntoDictionaryFile(file, plat::configLockPath(folder), c.changes, std::chrono::seconds(1));
        ASSERT_TRUE(out.ok()) << c.name << ": " << out.error;
        EXPECT_EQ(out.onDisk, c.expected) << c.name;
        const auto read = plat::readDictionaryFile(file);
        ASSERT_TRUE(read.ok()) << c.name;
        EXPECT_EQ(read.dictionary, c.expected) << c.name;
    }
}

// A file that cannot be read, a file the caller rejects, and a lock held elsewhere:
// nothing is written.
TEST(DictionaryFile, MergeRefusesWhatItCannotReadAndWaitsBoundedForTheLock) {
    const fs::path folder = taviro::test::freshDir("merge-refused");
    const fs::path file = folder / "settings.plist";
    DictionaryChanges changes;
    changes.changed.emplace("a", PlistValue(1));

    ASSERT_TRUE(plat::writeFileAtomically(file, "garbage"));
    auto out = plat::mergeIntoDictionaryFile(file, plat::configLockPath(folder), changes, std::chrono::seconds(1));
    EXPECT_EQ(out.status, MergeOutcome::Status::refused);
    EXPECT_EQ(plat::readWholeFile(file), "garbage");

    ASSERT_TRUE(plat::writePlistFile(file, PlistValue(dict({{"n", 2}}))));
    changes.accepts = [](const PlistValue::Dictionary& d) { return !d.contains("n"); };
    out = plat::mergeIntoDictionaryFile(file, plat::configLockPath(folder), changes, std::chrono::seconds(1));
    EXPECT_EQ(out.status, MergeOutcome::Status::refused);
    changes.accepts = {};

    auto held = plat::FileLock::acquire(plat::configLockPath(folder), std::chrono::seconds(1));
    ASSERT_TRUE(held.has_value());
    out = plat::mergeIntoDictionaryFile(file, plat::configLockPath(folder), changes, std::chrono::milliseconds(20));
    EXPECT_EQ(out.status, MergeOutcome::Status::lockTimeout);
    held.reset();
    EXPECT_EQ(plat::readDictionaryFile(file).dictionary, dict({{"n", 2}}));
}

// A merge that writes nothing says why, as the exit lines tell it: the lock held by
// another program, or the file's place or the lock file unusable. A file that exists
// while there is nothing to write is no failure, whatever stands there.
TEST(DictionaryFile, AnUnwrittenFileSaysWhetherTheLockWasHeldOrThePlaceUnusable) {
    using Cause = plat::UnwrittenFile::Cause;
    const struct {
        const char* name;
        std::function<std::optional<plat::FileLock>(const fs::path& file, const fs::path& lockFile)> block;
        bool changes;
        std::optional<Cause> cause; // none: written
    } cases[] = {
        {"the lock held elsewhere",
         [](const fs::path&, const fs::path& lock) { return plat::FileLock::acquire(lock, std::chrono::seconds(1)); },
         true, Cause::lockHeld},
        {"a folder in the lock's place",
         [](const fs::path&, const fs::path& lock) {
             fs::create_directory(lock);
             return std::optional<plat::FileLock>();
         },
         true, Cause::unusable},
        {"a folder in the file's place",
         [](const fs::path& file, const fs::path&) {
             fs::create_directory(file);
             return std::optional<plat::FileLock>();
         },
         true, Cause::unusable},
        {"a folder in the file's place, nothing to write",
         [](const fs::path& file, const fs::path&) {
             fs::create_directory(file);
             return std::optional<plat::FileLock>();
         },
         false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = taviro::test::freshDir("unwritten");
        const fs::path file = folder / "silence.plist";
        const auto held = c.block(file, plat::configLockPath(folder));
        DictionaryChanges changes;
        if (c.changes) changes.changed.emplace("a", PlistValue("A"));
        const auto out = plat::mergeIntoDictionaryFile(file, plat::configLockPath(folder), changes,
                                                       std::chrono::milliseconds(20));
        ASSERT_EQ(out.ok(), !c.cause) << out.error;
        if (!c.cause) {
            EXPECT_TRUE(fs::is_directory(file));
            continue;
        }
        const auto unwritten = plat::unwrittenFile(file, out);
        EXPECT_EQ(unwritten.name, "silence.plist");
        EXPECT_EQ(unwritten.cause, *c.cause);
        const std::string line = plat::describeUnwritten({plat::unwrittenFile(folder / "config.plist", out), unwritten});
        EXPECT_TRUE(line.starts_with("config.plist: ")) << line;
        EXPECT_NE(line.find("; silence.plist: " + std::string(*c.cause == Cause::lockHeld ? "locked by another program"
                                                                                         : "cannot be used")),
                  std::string::npos)
            << line;
    }
}

TEST(DictionaryFile, ReadTellsWhatIsWrong) {
    const fs::path folder = taviro::test::freshDir("read");
    const struct {
        const char* name;
        std::optional<std::string> bytes; // none: a folder in its place
        std::uintmax_t sparseSize;
        State state;
    } cases[] = {
        {"good", std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>"), 0, State::readable},
        {"empty", std::string(), 0, State::damaged},
        {"garbage", std::string("\x01\x02zz"), 0, State::damaged},
        {"Latin-1", std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>k</key>"
                                "<string>caf\xE9</string></dict></plist>"),
         0, State::damaged},
        {"string root", std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><string>x</string></plist>"), 0,
         State::damaged},
        {"too large", std::string(), plat::kMaxDictionaryFileSize + 1, State::tooLarge},
        {"a folder", std::nullopt, 0, State::notAFile},
    };
    for (const auto& c : cases) {
        const fs::path file = folder / c.name;
        if (c.bytes) {
            ASSERT_TRUE(plat::writeFileAtomically(file, *c.bytes)) << c.name;
            if (c.sparseSize) fs::resize_file(file, c.sparseSize);
        } else {
            fs::create_directories(file);
        }
        EXPECT_EQ(plat::readDictionaryFile(file).state, c.state) << c.name;
    }
    EXPECT_EQ(plat::readDictionaryFile(folder / "absent").state, State::missing);
    // Not even a link to a good file is followed here (the replacement journal is read so).
    fs::create_symlink(folder / "good", folder / "a link");
    EXPECT_EQ(plat::readDictionaryFile(folder / "a link").state, State::notAFile);
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder)) out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// A settings file kept elsewhere (a dotfiles folder) and linked in: read through the
// link, and written by a rename beside its target, so that the link stays, the
// target keeps its mode and nothing is left behind in either folder.
TEST(DictionaryFile, ASettingsFileLinkedToAFileOfOursIsReadAndWrittenThere) {
    for (const bool relative : {false, true}) {
        SCOPED_TRACE(relative ? "relative link" : "absolute link");
        const fs::path home = taviro::test::freshDir("linked");
        const fs::path folder = home / "TaviroMac", dotfiles = home / "dotfiles";
        fs::create_directories(folder);
        fs::create_directories(dotfiles);
        const fs::path target = dotfiles / "config.plist", file = folder / "config.plist";
        ASSERT_TRUE(plat::writePlistFile(target, PlistValue(dict({{"a", 1}, {"theirs", "x"}}))));
        fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        fs::create_symlink(relative ? fs::path("../dotfiles/config.plist") : target, file);

        std::optional<plat::SetAsideFile> aside;
        const auto read = plat::loadDictionaryFile(file, plat::configLockPath(folder), std::chrono::seconds(1), &aside);
        ASSERT_TRUE(read.ok()) << read.reason;
        EXPECT_FALSE(aside.has_value());
        EXPECT_EQ(read.dictionary, dict({{"a", 1}, {"theirs", "x"}}));

        DictionaryChanges changes;
        changes.changed.emplace("a", PlistValue(2));
        const auto out = plat::mergeIntoDictionaryFile(file, plat::configLockPath(folder), changes, std::chrono::seconds(1));
        ASSERT_TRUE(out.ok()) << out.error;
        EXPECT_TRUE(out.replaced);
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file)));
        EXPECT_EQ(plat::readDictionaryFile(target).dictionary, dict({{"a", 2}, {"theirs", "x"}}));
        EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        EXPECT_EQ(namesIn(dotfiles), std::vector<std::string>{"config.plist"});
        EXPECT_EQ(namesIn(folder), (std::vector<std::string>{".config.plist.lock", "config.plist"}));
    }
}

// Any other link in a settings file's place is something other than a file: never
// read nor written through; the load renames the link itself aside (what it leads to
// stays untouched, the user is told why in Chinese), and the next merge writes a
// regular file in its place.
TEST(DictionaryFile, AnyOtherLinkInASettingsFilesPlaceIsSetAsideItself) {
    const std::string good = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><integer>1</integer>"
                             "</dict></plist>";
    const struct {
        const char* name;
        // Makes what the link leads to in `dotfiles`; returns the link's target.
        std::function<fs::path(const fs::path& dotfiles)> make;
        const char* userReason;
    } cases[] = {
        {"dangling", [](const fs::path& d) { return d / "absent.plist"; }, "指向的文件不存在"},
        {"a loop", [](const fs::path& d) { fs::create_symlink(d / "loop-b", d / "loop-a");
                                             fs::create_symlink(d / "loop-a", d / "loop-b");
                                             return d / "loop-a"; }, "指向的文件不存在"},
        {"to a folder", [](const fs::path& d) { fs::create_directory(d / "sub"); return d / "sub"; }, "文件夹"},
        {"to a FIFO", [](const fs::path& d) { ::mkfifo((d / "fifo").c_str(), 0600); return d / "fifo"; },
         "不是普通文件"},
        {"to a file with another hard link",
         [&](const fs::path& d) {
             EXPECT_TRUE(plat::writeFileAtomically(d / "one.plist", good));
             fs::create_hard_link(d / "one.plist", d / "two.plist");
             return d / "one.plist";
         },
         "硬链接"},
        {"to another account's file",
         [&](const fs::path& d) {
             EXPECT_TRUE(plat::writeFileAtomically(d / "theirs.plist", good));
             // Only root can give a file away; others meet root's files everywhere.
             if (::geteuid() == 0) {
                 EXPECT_EQ(::chown((d / "theirs.plist").c_str(), 65534, 65534), 0);
             }
             return ::geteuid() == 0 ? d / "theirs.plist" : fs::path("/etc/hostname");
         },
         "另一个账户"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path home = taviro::test::freshDir("bad-link");
        const fs::path folder = home / "TaviroMac", dotfiles = home / "dotfiles";
        fs::create_directories(folder);
        fs::create_directories(dotfiles);
        const fs::path target = c.make(dotfiles), file = folder / "config.plist";
        fs::create_symlink(target, file);
        const auto before = namesIn(dotfiles);
        std::error_code ec;
        std::optional<std::string> bytes;
        if (fs::is_regular_file(target, ec)) bytes = plat::readWholeFile(target);

        DictionaryChanges changes;
        changes.changed.emplace("a", PlistValue(2));
        auto out = plat::mergeIntoDictionaryFile(file, plat::configLockPath(folder), changes, std::chrono::seconds(1));
        EXPECT_EQ(out.status, MergeOutcome::Status::refused);

        std::optional<plat::SetAsideFile> aside;
        const auto read = plat::loadDictionaryFile(file, plat::configLockPath(folder), std::chrono::seconds(1), &aside);
        EXPECT_EQ(read.state, State::missing);
        ASSERT_TRUE(aside.has_value());
        EXPECT_EQ(aside->state, State::notAFile);
        EXPECT_NE(aside->userReason.find(c.userReason), std::string::npos) << aside->userReason;
        EXPECT_TRUE(aside->aside.filename().string().starts_with("config.plist.damaged-"));
        ASSERT_TRUE(fs::is_symlink(fs::symlink_status(aside->aside)));
        EXPECT_EQ(fs::read_symlink(aside->aside), target);
        const std::string sentence = plat::setAsideSentence(file, *aside);
        EXPECT_NE(sentence.find(aside->aside.filename().string()), std::string::npos) << sentence;
        EXPECT_EQ(sentence.find(aside->reason), std::string::npos) << sentence;

        out = plat::mergeIntoDictionaryFile(file, plat::configLockPath(folder), changes, std::chrono::seconds(1));
        ASSERT_TRUE(out.ok()) << out.error;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file)));
        EXPECT_EQ(plat::readDictionaryFile(file).dictionary, dict({{"a", 2}}));
        EXPECT_EQ(namesIn(dotfiles), before);
        if (bytes) {
            EXPECT_EQ(plat::readWholeFile(target), bytes);
        }
    }
}

// The first load moves a damaged file aside with a time stamp; a second one (the
// other program) finds nothing left to move; a name already taken gets a number.
TEST(DictionaryFile, LoadSetsADamagedFileAsideOnce) {
    const fs::path folder = taviro::test::freshDir("aside");
    const fs::path file = folder / "config.plist";
    const auto when = std::chrono::system_clock::now();
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(plat::writeFileAtomically(file, "broken " + std::to_string(round)));
        std::optional<plat::SetAsideFile> first, second;
        const auto a = plat::loadDictionaryFile(file, plat::configLockPath(folder), std::chrono::seconds(1), &first, when);
        const auto b = plat::loadDictionaryFile(file, plat::configLockPath(folder), std::chrono::seconds(1), &second, when);
        EXPECT_EQ(a.state, State::missing);
        EXPECT_EQ(b.state, State::missing);
        ASSERT_TRUE(first.has_value());
        EXPECT_FALSE(second.has_value());
        EXPECT_EQ(plat::readWholeFile(first->aside), "broken " + std::to_string(round));
        EXPECT_TRUE(first->aside.filename().string().starts_with("config.plist.damaged-"));
        if (round == 1) {
            EXPECT_TRUE(first->aside.filename().string().ends_with("-2"));
        }
    }
}

} // namespace
