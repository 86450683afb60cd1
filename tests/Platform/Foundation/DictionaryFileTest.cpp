#include "Platform/Foundation/DictionaryFile.h"

#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/FileUtil.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>

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
        {"a folder", std::nullopt, 0, State::unreadable},
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
