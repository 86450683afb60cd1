#include "Settings/ConfigManager.h"

#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Notifications/RecordingCommandChannel.h"
#include "Settings/NotificationSender.h"
#include "support/SettingsFilePlaces.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {

using kelvane::ConfigManager;
using plat::PlistValue;
namespace fs = std::filesystem;

class ConfigManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = taviro::test::freshDir("config") / "TaviroMac";
        fs::create_directories(folder_);
        channel_ = std::make_shared<plat::RecordingCommandChannel>();
        previous_ = kelvane::NotificationSender::setChannel(channel_);
    }
    void TearDown() override { kelvane::NotificationSender::setChannel(previous_); }

    PlistValue readConfig() const {
        auto v = plat::readPlistFile(folder_ / "config.plist", PlistValue::Type::Dictionary);
        return v ? *v : PlistValue();
    }
    void writeConfig(const PlistValue::Dictionary& dict) const {
        ASSERT_TRUE(plat::writePlistFile(folder_ / "config.plist", PlistValue(dict)));
    }
    kelvane::StringMap readMap(const char* name) const {
        kelvane::StringMap out;
        auto v = plat::readPlistFile(folder_ / name, PlistValue::Type::Dictionary);
        if (v)
            for (const auto& [k, val] : *v->asDictionary()) out[k] = val.asString();
        return out;
    }

    fs::path folder_;
    std::shared_ptr<plat::RecordingCommandChannel> channel_;
    std::shared_ptr<plat::CommandChannel> previous_;
};

// The key table: spelling, type and default of every row that has a meaning elsewhere.
TEST(ConfigOptionsTest, KeyTableRows) {
    struct Row {
        const char* key;
        kelvane::ConfigOptionType type;
        PlistValue def;
    };
    using T = kelvane::ConfigOptionType;
    const Row rows[] = {
        {"FourCode", T::Int, 0},           {"ShiftToBoot", T::Bool, true},
        {"MoveCusorWhenInput", T::Bool, false},
        {"InputPlanName", T::String, "智能ABC"},
        {"AssistPlanName", T::String, "不使用辅码"},
        {"CodeTableName", T::String, "不使用主码表"},
        {"RevPlanName", T::String, "不使用映射提示"},
        {"AssistCodePlan", T::Int, -1},   {"CustomCodeTableVersion", T::Int, -1},
        {"CodeTableVersion", T::Int, -1}, {"S2T", T::Bool, false},
        {"MoveCurserOnlySpace", T::Bool, false},
        {"T9comma", T::Bool, false},      {"UserDict", T::Bool, true},
        {"BootButtonName", T::String, "BootButtons.plist"},
        {"SJRQXQ", T::Bool, true},        {"QuanPin", T::Bool, true},
        {"CodeLength", T::Int, 4},        {"CodetableInUserDict", T::Bool, false},
        {"DjPage", T::Bool, true},        {"FontSize", T::Int, 16},
        {"ExtraCode", T::String, ""},     {"SuperSP", T::Bool, true},
        {"CandidateFontName", T::String, ""},
        {"CandidateFontColorLight", T::Int, 0},
        {"CandidateFontColorDark", T::Int, 16777215},
        {"ShiftSwitchMode", T::Bool, true},
        {"UploadCrashLog", T::Bool, true}, {"PersistedEnMode", T::Bool, false},
    };
    for (const auto& row : rows) {
        const auto* option = kelvane::findConfigOption(row.key);
        ASSERT_NE(option, nullptr) << row.key;
        EXPECT_EQ(option->type, row.type) << row.key;
        switch (row.type) {
        case T::Bool: EXPECT_EQ(PlistValue(option->boolDefault), row.def) << row.key; break;
        case T::Int: EXPECT_EQ(PlistValue(option->intDefault), row.def) << row.key; break;
        case T::String: EXPECT_EQ(PlistValue(option->stringDefault), row.def) << row.key; break;
        }
    }
    EXPECT_EQ(std::size(kelvane::kConfigOptions), 93u);
    EXPECT_EQ(kelvane::kConfigOptions[0].key, "FourCode");
    EXPECT_EQ(kelvane::kConfigOptions[92].key, "PersistedEnMode");
    EXPECT_EQ(kelvane::findConfigOption("ExpDicVersion"), nullptr);
    EXPECT_EQ(kelvane::findConfigOption("EnglishDBVersion"), nullptr);
}

// Every key is its field name with an upper-case first letter, except S2T and SJRQXQ;
// no key appears twice.
TEST(ConfigOptionsTest, KeysFollowFieldNames) {
    std::vector<std::pair<std::string, std::string>> pairs;
#define KELVANE_PAIR(field, key, def) pairs.emplace_back(#field, key);
    KELVANE_CONFIG_OPTIONS(KELVANE_PAIR, KELVANE_PAIR, KELVANE_PAIR)
#undef KELVANE_PAIR
    std::set<std::string> seen;
    for (auto [field, key] : pairs) {
        EXPECT_TRUE(seen.insert(key).second) << key;
        if (field == "s2t" || field == "sjrqxq") {
            for (auto& c : field) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else {
            field[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(field[0])));
        }
        EXPECT_EQ(field, key);
    }
}

TEST_F(ConfigManagerTest, FreshObjectHasDefaults) {
    ConfigManager config(folder_);
    EXPECT_TRUE(config.configData.empty());
    EXPECT_EQ(config.silenceDict.size(), 3u);
    EXPECT_EQ(config.silenceDict.at("com.apple.dock.ecti"), "Launchpad");
    EXPECT_EQ(config.puncMapDict.size(), 23u);
    EXPECT_EQ(config.puncMapDict.at("/"), "/");
    EXPECT_EQ(config.puncMapDict.at("^"), "……");
    EXPECT_EQ(config.candidateFontColorLight, 0);
    EXPECT_EQ(config.candidateFontColorDark, 16777215);
    EXPECT_EQ(config.configPath, folder_ / "config.plist");
    EXPECT_TRUE(channel_->log().empty());  // loading posts nothing
}

TEST_F(ConfigManagerTest, FirstSaveWritesExactlyTheKeyTableAndPostsOnce) {
    ConfigManager config(folder_);
    config.save();
    const PlistValue file = readConfig();
    ASSERT_TRUE(file.isDictionary());
    EXPECT_EQ(file.size(), 93u);
    for (const auto& option : kelvane::kConfigOptions) {
        const PlistValue* v = file.find(option.key);
        ASSERT_NE(v, nullptr) << option.key;
        switch (option.type) {
        case kelvane::ConfigOptionType::Bool: EXPECT_EQ(v->getBool(), option.boolDefault); break;
        case kelvane::ConfigOptionType::Int: EXPECT_EQ(v->getInteger(), option.intDefault); break;
        case kelvane::ConfigOptionType::String: EXPECT_EQ(v->getString(), std::string(option.stringDefault)); break;
        }
    }
    EXPECT_EQ(readMap("silence.plist"), kelvane::defaultSilenceDict());
    EXPECT_EQ(readMap("PunctuationMapping.plist"), kelvane::defaultPuncMapDict());
    EXPECT_EQ(channel_->log(), std::vector<std::string>{"configNeedsReload"});
}

TEST_F(ConfigManagerTest, RoundTripKeepsUnknownKeysAndNegativeValues) {
    writeConfig({{"ExpDicVersion", 3},
                 {"EnglishDBVersion", 7},
                 {"SomeFutureKey", "kept"},
                 {"CodeTableVersion", 1},
                 {"FontSize", "large"},  // wrong type: keeps its value
                 {"UserDict", false},
                 {"QuanPin", 1}});       // an integer is not a Bool
    ConfigManager config(folder_);
    EXPECT_EQ(config.codeTableVersion, 1);
    EXPECT_EQ(config.fontSize, 16);
    EXPECT_FALSE(config.userDict);
    EXPECT_TRUE(config.quanPin);
    config.assistCodePlan = -1;
    config.codeTableVersion = -1;
    config.save();

    const PlistValue file = readConfig();
    EXPECT_EQ(file.find("ExpDicVersion")->getInteger(), 3);
    EXPECT_EQ(file.find("EnglishDBVersion")->getInteger(), 7);
    EXPECT_EQ(file.find("SomeFutureKey")->getString(), "kept");
    EXPECT_EQ(file.find("CodeTableVersion")->getInteger(), -1);
    EXPECT_EQ(file.find("FontSize")->getInteger(), 16);
    EXPECT_EQ(file.size(), 96u);

    ConfigManager again(folder_);
    EXPECT_EQ(again.codeTableVersion, -1);
    EXPECT_EQ(again.assistCodePlan, -1);
}

TEST_F(ConfigManagerTest, LaterLoadKeepsFieldsWhoseKeysAreMissing) {
    ConfigManager config(folder_);
    config.userDict = false;
    writeConfig({{"FourCode", 2}});
    config.loadConfig();
    EXPECT_FALSE(config.userDict);
    EXPECT_EQ(config.fourCode, 2);
}

TEST_F(ConfigManagerTest, SideFilesLoadWithoutConfig) {
    ASSERT_TRUE(plat::writePlistFile(folder_ / "silence.plist",
                                     PlistValue(PlistValue::Dictionary{{"org.example.app", "App"}})));
    ASSERT_TRUE(plat::writePlistFile(folder_ / "PunctuationMapping.plist",
                                     PlistValue(PlistValue::Dictionary{{",", ","}})));
    ConfigManager config(folder_);
    EXPECT_EQ(config.silenceDict, (kelvane::StringMap{{"org.example.app", "App"}}));
    EXPECT_EQ(config.puncMapDict, (kelvane::StringMap{{",", ","}}));
    EXPECT_TRUE(config.configData.empty());
    EXPECT_EQ(config.fontSize, 16);
}

TEST_F(ConfigManagerTest, SideFileWithNonStringValueIsIgnoredWhole) {
    ASSERT_TRUE(plat::writePlistFile(folder_ / "silence.plist",
                                     PlistValue(PlistValue::Dictionary{{"a", "A"}, {"b", 2}})));
    ConfigManager config(folder_);
    EXPECT_EQ(config.silenceDict, kelvane::defaultSilenceDict());
}

TEST_F(ConfigManagerTest, ConfigWithNonDictionaryRootIsIgnored) {
    ASSERT_TRUE(plat::writePlistFile(folder_ / "config.plist", PlistValue(PlistValue::Array{1, 2})));
    ConfigManager config(folder_);
    EXPECT_TRUE(config.configData.empty());
    EXPECT_EQ(config.codeLength, 4);
}

// A save writes only what this program changed, into the file as it is on disk then:
// what the input method stored meanwhile survives, whichever key this program saves.
TEST_F(ConfigManagerTest, SaveKeepsWhatTheInputMethodStoredMeanwhile) {
    const struct {
        const char* key;
        PlistValue storedByInputMethod;
    } cases[] = {
        {"S2T", true},                                  // the guide key ";f"
        {"BootButtonName", "BootButtons.plist"},        // "resetBootButtons"
        {"QuanPin", false},
        {"FourCode", 3},
        {"ExpDicVersion", 4},                           // a key only the input method knows
    };
    for (const auto& c : cases) {
        ConfigManager config(folder_);
        config.bootButtonName = "Mine.plist";
        config.save();
        PlistValue file = readConfig();
        file[c.key] = c.storedByInputMethod;
        ASSERT_TRUE(plat::writePlistFile(folder_ / "config.plist", file));
        // Any click on a page: one field, one save.
        config.fontSize = config.fontSize == 18 ? 24 : 18;
        config.save();
        EXPECT_EQ(*readConfig().find(c.key), c.storedByInputMethod) << c.key;
        EXPECT_EQ(readConfig().find("FontSize")->getInteger(), config.fontSize) << c.key;
        // The next change is written as well; the key it did not touch stays the input
        // method's.
        config.fontSize = 16;
        config.save();
        EXPECT_EQ(readConfig().find("FontSize")->getInteger(), 16) << c.key;
        EXPECT_EQ(*readConfig().find(c.key), c.storedByInputMethod) << c.key;
        // Shown again, the pages see the input method's value.
        config.loadConfig();
        EXPECT_EQ(config.configData.at(c.key), c.storedByInputMethod) << c.key;
        fs::remove(folder_ / "config.plist");
    }
}

// A "config.plist" that exists but cannot be read when a save comes is never
// overwritten: it may still hold the user's settings. The side files are written and
// the post is sent.
TEST_F(ConfigManagerTest, SaveNeverOverwritesAnUnreadableConfig) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"garbage", "not a plist"},
        {"truncated xml", "<?xml version=\"1.0\"?><plist><dict><key>FontSize</key><integer>18"},
        {"array root", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>"},
    };
    for (const auto& c : cases) {
        const fs::path config = folder_ / "config.plist";
        fs::remove(config);
        fs::remove(folder_ / "PunctuationMapping.plist");
        ConfigManager manager(folder_);
        // Damaged after the last load.
        ASSERT_TRUE(plat::writeFileAtomically(config, c.bytes)) << c.name;
        channel_->clear();
        manager.fontSize = 24;
        manager.puncMapDict["@"] = "＠";
        plat::LogCapture capture;
        manager.save();
        EXPECT_EQ(plat::readWholeFile(config), c.bytes) << c.name;
        EXPECT_TRUE(capture.contains("Not overwriting unreadable " + config.string())) << c.name;
        EXPECT_EQ(readMap("PunctuationMapping.plist").at("@"), "＠") << c.name;
        // The side file was written: the input method reloads it.
        EXPECT_EQ(channel_->log(), std::vector<std::string>{"configNeedsReload"}) << c.name;
    }
}

// A "config.plist" that is damaged or far too large when it is loaded is moved aside
// with a time stamp, once, and logged; the settings keep their defaults and the next
// save writes a sound file.
TEST_F(ConfigManagerTest, DamagedConfigIsSetAsideAtLoad) {
    const struct {
        const char* name;
        std::string bytes;
        std::uintmax_t sparseSize; // 0: the bytes as they are
        const char* reason;        // in the log
        const char* userReason;    // in the message
        bool folder = false;       // a folder (holding a file) in its place
    } cases[] = {
        {"garbage", "not a plist", 0, "not a property list", "不是属性列表"},
        {"empty", "", 0, "empty", "空的"},
        {"not UTF-8", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>FontSize</key>"
                      "<string>\xB4\xF3</string></dict></plist>", 0, "UTF-8", "不是 UTF-8 文本"},
        {"array root", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>", 0, "root", "不是字典"},
        {"200 MB", "", 200u * 1024 * 1024, "more than", "超过上限"},
        {"a folder", "", 0, "it is a folder", "文件夹", true},
    };
    for (const auto& c : cases) {
        const fs::path config = folder_ / "config.plist";
        if (c.folder) {
            taviro::test::plantSettingsFilePlace(config, taviro::test::SettingsFilePlace::folder);
        } else {
            ASSERT_TRUE(plat::writeFileAtomically(config, c.bytes)) << c.name;
        }
        if (c.sparseSize) fs::resize_file(config, c.sparseSize);
        plat::LogCapture capture;
        ConfigManager manager(folder_);
        EXPECT_FALSE(fs::exists(config)) << c.name;
        std::vector<fs::path> aside;
        for (const auto& entry : fs::directory_iterator(folder_))
            if (entry.path().filename().string().starts_with("config.plist.damaged-")) aside.push_back(entry.path());
        ASSERT_EQ(aside.size(), 1u) << c.name;
        if (c.folder) {
            EXPECT_EQ(plat::readWholeFile(aside[0] / "inside"), "kept") << c.name;
        } else {
            EXPECT_EQ(fs::file_size(aside[0]), c.sparseSize ? c.sparseSize : c.bytes.size()) << c.name;
        }
        if (!c.sparseSize && !c.folder) {
            EXPECT_EQ(plat::readWholeFile(aside[0]), c.bytes) << c.name;
        }
        EXPECT_EQ(capture.lines().size(), 1u) << c.name;
        EXPECT_TRUE(capture.contains(c.reason)) << c.name;
        // Said in Chinese to the user; the English goes to the log only.
        const std::string message = manager.takeSetAsideMessage();
        EXPECT_NE(message.find(aside[0].filename().string()), std::string::npos) << c.name;
        EXPECT_NE(message.find(c.userReason), std::string::npos) << message;
        EXPECT_EQ(taviro::test::latinLeftIn(message, {aside[0].filename().string(), "config.plist", "UTF-8"}), "") << message;
        EXPECT_TRUE(manager.takeSetAsideMessage().empty()) << c.name;
        EXPECT_TRUE(manager.configData.empty()) << c.name;
        EXPECT_EQ(manager.fontSize, 16) << c.name;
        // Loading again finds nothing to set aside or report.
        manager.loadConfig();
        EXPECT_EQ(capture.lines().size(), 1u) << c.name;
        manager.save();
        EXPECT_EQ(readConfig().size(), 93u) << c.name;
        fs::remove_all(aside[0]);
        fs::remove(config);
    }
}

// An integer outside what its key can mean loads as the default.
TEST_F(ConfigManagerTest, OutOfRangeIntegersLoadAsDefaults) {
    writeConfig({{"CodeLength", -1}, {"FourCode", 9}, {"S2tType", -1}, {"FontSize", 0},
                 {"CandidateNumber", 3}, {"AssistCodePlan", -1}});
    ConfigManager config(folder_);
    EXPECT_EQ(config.codeLength, 4);
    EXPECT_EQ(config.fourCode, 0);
    EXPECT_EQ(config.s2tType, 0);
    EXPECT_EQ(config.fontSize, 16);
    EXPECT_EQ(config.candidateNumber, 3);
    EXPECT_EQ(config.assistCodePlan, -1);
}

TEST_F(ConfigManagerTest, SaveCreatesMissingFolder) {
    const fs::path folder = taviro::test::freshDir("nofolder") / "TaviroMac";
    ConfigManager config(folder);
    config.save();
    EXPECT_TRUE(fs::exists(folder / "config.plist"));
    EXPECT_TRUE(fs::exists(folder / "silence.plist"));
    EXPECT_TRUE(fs::exists(folder / "PunctuationMapping.plist"));
}

// Nothing was written: the input method is not asked to reload.
TEST_F(ConfigManagerTest, FailedWriteIsLoggedAndPostsNothing) {
    const fs::path blocker = taviro::test::freshDir("blocked") / "file";
    std::ofstream(blocker) << "x";
    ConfigManager config(blocker / "TaviroMac");  // a folder under a plain file cannot exist
    plat::LogCapture capture;
    config.save();
    EXPECT_TRUE(capture.contains("config.plist"));
    EXPECT_TRUE(capture.contains("PunctuationMapping.plist"));
    EXPECT_TRUE(channel_->log().empty());
    EXPECT_TRUE(config.hasPendingChanges());
}

TEST_F(ConfigManagerTest, PunctuationAndSilenceOperations) {
    ConfigManager config(folder_);
    config.save();
    const PlistValue configBefore = readConfig();
    channel_->clear();

    config.setPuncMapEntry("@", "＠");
    EXPECT_EQ(readMap("PunctuationMapping.plist").size(), 24u);
    config.setPuncMapEntry(",", ",");
    EXPECT_EQ(readMap("PunctuationMapping.plist").at(","), ",");
    for (const char* key : {"(", ")", "@"}) config.removePuncMapEntry(key);
    EXPECT_EQ(readMap("PunctuationMapping.plist").size(), 21u);
    config.resetPuncMap();
    EXPECT_EQ(readMap("PunctuationMapping.plist"), kelvane::defaultPuncMapDict());

    config.addSilenceApp("com.apple.spotlight", "Search");
    EXPECT_EQ(readMap("silence.plist").at("com.apple.spotlight"), "Search");
    config.removeSilenceApp("not.listed");
    EXPECT_EQ(readMap("silence.plist").size(), 3u);
    config.removeSilenceApp("com.apple.dt.Xcode");
    EXPECT_EQ(readMap("silence.plist").size(), 2u);

    EXPECT_EQ(channel_->log(), std::vector<std::string>(9, "configNeedsReload"));
    EXPECT_EQ(readConfig(), configBefore);  // none of them touches config.plist
}

TEST(DefaultPunctuationTest, TwentyThreePairs) {
    const kelvane::StringMap expected = {
        {",", "\uFF0C"}, {".", "\u3002"}, {"\\", "\u3001"}, {"/", "/"}, {"!", "\uFF01"},
        {"?", "\uFF1F"}, {"$", "\uFFE5"}, {"^", "\u2026\u2026"}, {"(", "\uFF08"}, {")", "\uFF09"},
        {"_", "\u2014\u2014"}, {":", "\uFF1A"}, {";", "\uFF1B"}, {"'", "\u2018"}, {"\"", "\u201C"},
        {"[", "\u3010"}, {"]", "\u3011"}, {"{", "\uFF5B"}, {"}", "\uFF5D"}, {"~", "\uFF5E"},
        {"`", "\u00B7"}, {"<", "\u300A"}, {">", "\u300B"}};
    EXPECT_EQ(kelvane::defaultPuncMapDict(), expected);
}

} // namespace
