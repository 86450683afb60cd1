#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Settings.h"
#include "InputMethod/Core/SettingsFiles.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Plist.h"
#include "support/SettingsFilePlaces.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace taviro {
namespace {
namespace fs = std::filesystem;
using plat::PlistValue;

using Default = std::variant<bool, std::int64_t, std::string>;
struct Row {
    const char* key;
    Default def;
};

// The option table as "config.plist" knows it: key spellings, types, defaults.
const Row kExpected[] = {
    {"FourCode", std::int64_t{0}},
    {"ShiftToBoot", true},
    {"EmojiMode", std::int64_t{0}},
    {"DoubleSpace", true},
    {"MoveCusorWhenInput", false},
    {"NeedUpdateExpandDatabase", false},
    {"InputPlanName", std::string("智能ABC")},
    {"AssistPlanName", std::string("不使用辅码")},
    {"CodeTableName", std::string("不使用主码表")},
    {"MixEnglishInput", true},
    {"RevealCode", false},
    {"AssistCodePlan", std::int64_t{-1}},
    {"CustomCodeTableVersion", std::int64_t{-1}},
    {"CodeTableVersion", std::int64_t{-1}},
    {"S2T", false},
    {"An2ang", false},
    {"In2ing", false},
    {"En2eng", false},
    {"Z2zh", false},
    {"C2ch", false},
    {"S2sh", false},
    {"F2h", false},
    {"R2l", false},
    {"L2n", false},
    {"StopTextReplacement", false},
    {"BufferDisplayMode", std::int64_t{0}},
    {"UserDict", true},
    {"LockUpperCase", false},
    {"DisableDatabase", false},
    {"CleanUserDict", false},
    {"LightAlpha", false},
    {"MoveBack", true},
    {"AutoBlank", false},
    {"WordFirst", true},
    {"NoEmoji", false},
    {"BootButtonName", std::string("BootButtons.plist")},
    {"RevealAssist", false},
    {"EmptySlide", true},
    {"SkinColor", std::int64_t{0}},
    {"S2tType", std::int64_t{0}},
    {"SJRQXQ", true},
    {"SuperSP", true},
    {"KeyLogger", false},
    {"ExtendedDict", false},
    {"QuanPin", true},
    {"CodeLength", std::int64_t{4}},
    {"CodetableInUserDict", false},
    {"EmptyClean", false},
    {"VoiceOverWordOnly", false},
    {"Gn2ng", false},
    {"Mg2ng", false},
    {"Uen2un", false},
    {"Iou2iu", false},
    {"Uei2ui", false},
    {"Thinking", false},
    {"DjPage", true},
    {"KhPage", false},
    {"JdPage", false},
    {"VerticalCandidates", false},
    {"Silence", false},
    {"FontSize", std::int64_t{16}},
    {"ForceEngComma", false},
    {"ZRepeat", false},
    {"ZFullSpell", false},
    {"SelectNoBG", false},
    {"TabPage", false},
    {"DisableBootButton", false},
    {"StatusHint", false},
    {"CandidateNumber", std::int64_t{0}},
    {"ControlSwitchMode", false},
    {"ShiftSwitchMode", true},
    {"CloseBootButtonSecond", false},
    {"ExtraCode", std::string("")},
    {"ForceQwerty", false},
    {"SpaceClean", false},
    {"CandidateFontName", std::string("")},
    {"CandidateFontColorLight", std::int64_t{0}},
    {"CandidateFontColorDark", std::int64_t{16777215}},
    {"VoiceOverLibVersion", std::int64_t{0}},
    {"UploadCrashLog", true},
    {"PersistedEnMode", false},
    {"ExpDicVersion", std::int64_t{0}},
    {"EnglishDBVersion", std::int64_t{0}},
};

Default valueIn(const OptionSpec& option, const Settings& s) {
    switch (option.type) {
    case OptionType::Bool: return s.*option.boolField;
    case OptionType::Int: return s.*option.intField;
    case OptionType::String: return s.*option.stringField;
    }
    return {};
}

Default tableDefault(const OptionSpec& option) {
    switch (option.type) {
    case OptionType::Bool: return option.boolDefault;
    case OptionType::Int: return option.intDefault;
    case OptionType::String: return std::string(option.stringDefault);
    }
    return {};
}

PlistValue asPlist(const Default& d) {
    return std::visit([](const auto& v) { return PlistValue(v); }, d);
}

PlistValue readDict(const fs::path& path) {
    auto root = plat::readPlistFile(path, PlistValue::Type::Dictionary);
    EXPECT_TRUE(root.has_value()) << path;
    return root.value_or(PlistValue());
}

PlistValue stringDict(std::initializer_list<std::pair<const char*, const char*>> entries) {
    PlistValue dict = PlistValue::dictionary();
    for (const auto& [k, v] : entries) dict[k] = v;
    return dict;
}

struct Folder {
    fs::path path = taviro::test::freshDir("config");
    fs::path config() const { return path / "config.plist"; }
    fs::path silence() const { return path / silenceFileName(); }
    fs::path punc() const { return path / punctuationMappingFileName(); }
};

TEST(Settings, OptionTableMatchesKeysTypesAndDefaults) {
    ASSERT_EQ(std::size(kSettingsOptions), std::size(kExpected));
    const Settings fresh;
    int trueCount = 0;
    for (const auto& row : kExpected) {
        const OptionSpec* found = findOption(row.key);
        ASSERT_NE(found, nullptr) << row.key;
        const auto& option = *found;
        EXPECT_EQ(static_cast<std::size_t>(option.type), row.def.index()) << row.key;
        EXPECT_EQ(tableDefault(option), row.def) << row.key;
        EXPECT_EQ(valueIn(option, fresh), row.def) << row.key;
        EXPECT_EQ(option.loaded, std::string_view(row.key) != "MoveCusorWhenInput") << row.key;
        if (row.def == Default(true)) ++trueCount;
    }
    EXPECT_EQ(trueCount, 13);
    EXPECT_EQ(findOption("Nope"), nullptr);
}

TEST(ConfigManager, NoFilesGivesDefaults) {
    Folder folder;
    ConfigManager config(folder.path);
    auto s = config.settings();
    EXPECT_EQ(*s, Settings{});
    EXPECT_EQ(s->silenceDict.size(), 4u);
    EXPECT_EQ(s->silenceDict.at("com.apple.Spotlight"), "Spotlight");
    EXPECT_EQ(s->puncMapDict.size(), 23u);
    EXPECT_EQ(s->puncMapDict.at("/"), "/");
    EXPECT_EQ(s->puncMapDict.at("^"), "……");
    EXPECT_EQ(s->puncMapDict.at("_"), "——");
    EXPECT_EQ(s->puncMapDict.at(","), "，");
    EXPECT_EQ(config.configData(), PlistValue::dictionary());
    EXPECT_EQ(config.configPath(), folder.config());
}

TEST(ConfigManager, LoadIsStrictAboutTypes) {
    Folder folder;
    PlistValue file = PlistValue::dictionary();
    file["FontSize"] = "18";            // wrong type: keeps 16
    file["QuanPin"] = 0;                // integer for a Bool: keeps true
    file["UserDict"] = false;           // loads
    file["CodeTableVersion"] = -1;      // loads -1
    file["AssistCodePlan"] = 7;         // loads
    file["CodeLength"] = 3.0;           // real for an Int: keeps 4
    file["InputPlanName"] = "小鹤双拼"; // loads
    file["ExtraCode"] = true;           // wrong type: keeps ""
    file["MoveCusorWhenInput"] = true;  // never loaded
    file["RevPlanName"] = "x";          // not ours
    ASSERT_TRUE(plat::writePlistFile(folder.config(), file));

    ConfigManager config(folder.path);
    auto s = config.settings();
    EXPECT_EQ(s->fontSize, 16);
    EXPECT_TRUE(s->quanPin);
    EXPECT_FALSE(s->userDict);
    EXPECT_EQ(s->codeTableVersion, -1);
    EXPECT_EQ(s->assistCodePlan, 7);
    EXPECT_EQ(s->codeLength, 4);
    EXPECT_EQ(s->inputPlanName, "小鹤双拼");
    EXPECT_EQ(s->extraCode, "");
    EXPECT_FALSE(s->moveCusorWhenInput);
    EXPECT_EQ(config.configData(), file);
}

// An integer outside what its key can mean loads as the default, not as stored
// (a negative code length made every key commit on its own).
TEST(ConfigManager, OutOfRangeIntegersLoadAsDefaults) {
    const struct {
        const char* key;
        std::int64_t stored;
        std::int64_t loaded;
    } cases[] = {
        {"CodeLength", -1, 4},       {"CodeLength", 0, 4},         {"CodeLength", 6, 6},
        {"FourCode", -1, 0},         {"FourCode", 5, 0},           {"FourCode", 4, 4},
        {"S2tType", 4, 0},           {"S2tType", 3, 3},            {"FontSize", -16, 16},
        {"FontSize", 0, 16},         {"FontSize", 24, 24},         {"CandidateNumber", -2, 0},
        {"CandidateNumber", 5, 5},   {"CodeTableVersion", -2, -1}, {"CodeTableVersion", 3, 3},
        {"CandidateFontColorDark", 0x1000000, 0xFFFFFF},
        {"CandidateFontColorLight", -1, 0},
        {"ExpDicVersion", -5, -5},  // no range: any integer
    };
    for (const auto& c : cases) {
        Folder folder;
        PlistValue file = PlistValue::dictionary();
        file[c.key] = c.stored;
        ASSERT_TRUE(plat::writePlistFile(folder.config(), file));
        ConfigManager config(folder.path);
        const OptionSpec* option = findOption(c.key);
        ASSERT_NE(option, nullptr) << c.key;
        EXPECT_EQ(config.settings().get()->*option->intField, c.loaded) << c.key << " " << c.stored;
        // A reload over a good value falls back the same way.
        config.update([&](Settings& s) { s.*option->intField = c.loaded + 1; });
        config.loadConfig();
        EXPECT_EQ(config.settings().get()->*option->intField, c.loaded) << c.key << " reload";
    }
}

TEST(ConfigManager, SaveKeepsWhatItDidNotChange) {
    Folder folder;
    PlistValue file = PlistValue::dictionary();
    file["FontSize"] = "18";
    file["QuanPin"] = 0;
    file["CodeTableVersion"] = -1;
    file["CustomCodeTableVersion"] = -1;
    file["MoveCusorWhenInput"] = true;
    file["RevPlanName"] = "不使用映射提示";
    file["LockPunc"] = true;
    file["Nested"] = PlistValue::Array{PlistValue(1), PlistValue("two")};
    file["S2T"] = false;
    file["CodeLength"] = -3;
    file["FourCode"] = 2;
    ASSERT_TRUE(plat::writePlistFile(folder.config(), file));

    ConfigManager config(folder.path);
    config.update([](Settings& s) { s.s2t = true; });
    config.saveConfig();

    PlistValue saved = readDict(folder.config());
    // Untouched entries stay exactly as they were.
    for (const char* key : {"CodeTableVersion", "CustomCodeTableVersion", "RevPlanName",
                            "LockPunc", "Nested", "FourCode"})
        EXPECT_EQ(*saved.find(key), *file.find(key)) << key;
    // A value the load could not take is replaced by the value loaded in its place.
    // "MoveCusorWhenInput", never loaded and never changed here, is the other
    // program's to keep.
    EXPECT_EQ(*saved.find("FontSize"), PlistValue(16));
    EXPECT_EQ(*saved.find("QuanPin"), PlistValue(true));
    EXPECT_EQ(*saved.find("CodeLength"), PlistValue(4));
    EXPECT_EQ(*saved.find("MoveCusorWhenInput"), PlistValue(true));
    EXPECT_EQ(*saved.find("S2T"), PlistValue(true));
    // Options the file lacked appear with their values.
    EXPECT_EQ(*saved.find("ShiftToBoot"), PlistValue(true));
    EXPECT_EQ(*saved.find("AssistCodePlan"), PlistValue(-1));
    for (const auto& option : kSettingsOptions) EXPECT_TRUE(saved.contains(std::string(option.key)));
    EXPECT_EQ(saved.size(), 83u + 3u);
    EXPECT_EQ(config.configData(), saved);
}

TEST(ConfigManager, SaveWithoutFilesWritesDefaults) {
    Folder folder;
    ConfigManager config(folder.path);
    config.saveConfig();
    PlistValue saved = readDict(folder.config());
    ASSERT_EQ(saved.size(), 83u);
    for (const auto& option : kSettingsOptions)
        EXPECT_EQ(*saved.find(std::string(option.key)), asPlist(tableDefault(option))) << option.key;
    EXPECT_EQ(readDict(folder.silence()).size(), 4u);
    EXPECT_EQ(readDict(folder.punc()).size(), 23u);
    // A fresh object reads back what was written.
    ConfigManager again(folder.path);
    EXPECT_EQ(*again.settings(), *config.settings());
}

TEST(ConfigManager, SaveMergesOverChangesMadeMeanwhile) {
    Folder folder;
    ConfigManager config(folder.path);
    config.saveConfig();

    // The preferences application edits the files after our load...
    PlistValue file = readDict(folder.config());
    file["FontSize"] = 24;
    file["Z2zh"] = true;
    file["RevPlanName"] = "abc";
    ASSERT_TRUE(plat::writePlistFile(folder.config(), file));
    PlistValue silence = readDict(folder.silence());
    silence["org.example.editor"] = "Editor";
    ASSERT_TRUE(plat::writePlistFile(folder.silence(), silence));

    // ...while we change other things.
    config.update([](Settings& s) {
        s.revealCode = true;
        s.silenceDict.erase("com.apple.Terminal");
        s.puncMapDict["/"] = "、";
    });
    config.saveConfig();

    PlistValue saved = readDict(folder.config());
    EXPECT_EQ(*saved.find("FontSize"), PlistValue(24));
    EXPECT_EQ(*saved.find("Z2zh"), PlistValue(true));
    EXPECT_EQ(*saved.find("RevPlanName"), PlistValue("abc"));
    EXPECT_EQ(*saved.find("RevealCode"), PlistValue(true));
    PlistValue savedSilence = readDict(folder.silence());
    EXPECT_TRUE(savedSilence.contains("org.example.editor"));
    EXPECT_FALSE(savedSilence.contains("com.apple.Terminal"));
    EXPECT_EQ(savedSilence.size(), 4u);
    EXPECT_EQ(*readDict(folder.punc()).find("/"), PlistValue("、"));

    // A second save without changes keeps what the other program wrote.
    file = readDict(folder.config());
    file["FontSize"] = 32;
    ASSERT_TRUE(plat::writePlistFile(folder.config(), file));
    config.saveConfig();
    EXPECT_EQ(*readDict(folder.config()).find("FontSize"), PlistValue(32));
}

TEST(ConfigManager, ListsLoadWithoutConfigFile) {
    const struct {
        const char* name;
        bool configIsGarbage;
    } cases[] = {{"missing config", false}, {"unreadable config", true}};
    for (const auto& c : cases) {
        Folder folder;
        if (c.configIsGarbage) {
            ASSERT_TRUE(plat::writeFileAtomically(folder.config(), "not a plist"));
        }
        ASSERT_TRUE(plat::writePlistFile(folder.silence(), stringDict({{"a.b", "AB"}})));
        ASSERT_TRUE(plat::writePlistFile(folder.punc(), stringDict({{",", ","}})));
        ConfigManager config(folder.path);
        auto s = config.settings();
        EXPECT_EQ(s->silenceDict, (StringMap{{"a.b", "AB"}})) << c.name;
        EXPECT_EQ(s->puncMapDict, (StringMap{{",", ","}})) << c.name;
        EXPECT_EQ(s->fontSize, 16) << c.name;
    }
}

TEST(ConfigManager, NeverOverwritesFilesItCouldNotRead) {
    Folder folder;
    ConfigManager config(folder.path);
    EXPECT_EQ(config.settings()->silenceDict, defaultSilenceDict());
    EXPECT_EQ(config.settings()->puncMapDict, defaultPuncMapDict());
    // Damaged after the load: the save leaves them for the next load to set aside.
    PlistValue arrayRoot = PlistValue::Array{PlistValue("x")};
    ASSERT_TRUE(plat::writePlistFile(folder.silence(), arrayRoot));
    PlistValue mixed = stringDict({{",", "，"}});
    mixed["."] = 3;
    ASSERT_TRUE(plat::writePlistFile(folder.punc(), mixed));
    ASSERT_TRUE(plat::writeFileAtomically(folder.config(), "not a plist"));
    config.update([](Settings& s) {
        s.s2t = true;
        s.silenceDict.clear();
        s.puncMapDict.clear();
    });
    EXPECT_FALSE(config.saveConfig());
    EXPECT_EQ(plat::readWholeFile(folder.config()), "not a plist");
    EXPECT_EQ(plat::readPlistFile(folder.silence()), arrayRoot);
    EXPECT_EQ(plat::readPlistFile(folder.punc()), mixed);
}

struct RecordingNotice : UserNotice {
    std::vector<std::string> posted;
    void post(const std::string& title, const std::string& text) override { posted.push_back(title + ": " + text); }
};

std::vector<fs::path> setAsideFiles(const fs::path& folder, const std::string& name = "config.plist") {
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(name + ".damaged-")) out.push_back(entry.path());
    return out;
}

// A "config.plist" that is damaged, empty, not UTF-8 or far too large is moved aside
// with a time stamp (the large one without being read); the settings start from their
// defaults, one line is logged and the user is told once, also when the message
// found at start-up waits for the notices to be set up.
TEST(ConfigManager, DamagedConfigIsSetAsideAndTheUserToldOnce) {
    const struct {
        const char* name;
        std::string bytes;
        std::uintmax_t sparseSize;
        const char* title;
        const char* userReason;
        bool folder = false; // a folder in its place
    } cases[] = {
        {"garbage", "not a plist", 0, "设置文件已损坏", "不是属性列表"},
        {"empty", "", 0, "设置文件已损坏", "空的"},
        {"truncated", "<?xml version=\"1.0\"?><plist><dict><key>FontSize</key><integer>18", 0, "设置文件已损坏",
         "不是属性列表"},
        {"not UTF-8", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>FontSize</key>"
                      "<string>\xFF\xFE</string></dict></plist>", 0, "设置文件已损坏", "不是 UTF-8 文本"},
        {"200 MB", "", 200u * 1024 * 1024, "设置文件过大", "超过上限"},
        {"a folder", "", 0, "设置文件无法使用", "文件夹", true},
    };
    for (const auto& c : cases) {
        Folder folder;
        if (c.folder) {
            test::plantSettingsFilePlace(folder.config(), test::SettingsFilePlace::folder);
        } else {
            ASSERT_TRUE(plat::writeFileAtomically(folder.config(), c.bytes)) << c.name;
        }
        if (c.sparseSize) fs::resize_file(folder.config(), c.sparseSize);
        ASSERT_TRUE(plat::writePlistFile(folder.silence(), stringDict({{"a.b", "AB"}})));
        plat::LogCapture log;
        ConfigManager config(folder.path);
        EXPECT_EQ(log.lines().size(), 1u) << c.name;
        EXPECT_FALSE(fs::exists(folder.config())) << c.name;
        const auto aside = setAsideFiles(folder.path);
        ASSERT_EQ(aside.size(), 1u) << c.name;
        if (c.folder) {
            EXPECT_EQ(plat::readWholeFile(aside[0] / "inside"), "kept") << c.name;
        } else {
            EXPECT_EQ(fs::file_size(aside[0]), c.sparseSize ? c.sparseSize : c.bytes.size()) << c.name;
        }
        if (!c.sparseSize && !c.folder) {
            EXPECT_EQ(plat::readWholeFile(aside[0]), c.bytes) << c.name;
        }
        // Defaults, and the lists beside it still load.
        auto s = config.settings();
        EXPECT_EQ(s->fontSize, 16) << c.name;
        EXPECT_EQ(s->silenceDict, (StringMap{{"a.b", "AB"}})) << c.name;

        auto notice = std::make_shared<RecordingNotice>();
        config.setUserNotice(notice);
        ASSERT_EQ(notice->posted.size(), 1u) << c.name;
        EXPECT_EQ(notice->posted[0].rfind(c.title, 0), 0u) << c.name;
        EXPECT_NE(notice->posted[0].find(aside[0].filename().string()), std::string::npos) << c.name;
        EXPECT_NE(notice->posted[0].find(c.userReason), std::string::npos) << notice->posted[0];
        EXPECT_EQ(test::latinLeftIn(notice->posted[0], {aside[0].filename().string(), "config.plist", "UTF-8"}), "")
            << notice->posted[0];
        // Nothing more to tell at the next load; a save writes a sound file.
        config.loadConfig();
        config.setUserNotice(notice);
        EXPECT_EQ(notice->posted.size(), 1u) << c.name;
        EXPECT_EQ(log.lines().size(), 1u) << c.name;
        EXPECT_TRUE(config.saveConfig()) << c.name;
        EXPECT_EQ(readDict(folder.config()).size(), 83u) << c.name;
    }
}

// A silence list or punctuation map file that is damaged, holds other values than
// strings or is far too large is moved aside with a time stamp (the large one without
// being read); its defaults stay, one line is logged and the user is told once. A file
// written afterwards loads, and a save leaves it as it is.
TEST(ConfigManager, DamagedOrOversizedListFileIsSetAsideAndTheUserToldOnce) {
    const struct {
        const char* name;
        std::string bytes;
        std::uintmax_t sparseSize;
        const char* title;
        bool folder = false; // a folder in its place
    } kinds[] = {
        {"garbage", "not a plist", 0, "设置文件已损坏"},
        {"array root", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>", 0,
         "设置文件已损坏"},
        {"integer value", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>,</key><integer>3</integer>"
                          "</dict></plist>", 0, "设置文件已损坏"},
        {"200 MB", "", 200u * 1024 * 1024, "设置文件过大"},
        {"a folder", "", 0, "设置文件无法使用", true},
    };
    for (const bool silence : {true, false})
        for (const auto& c : kinds) {
            SCOPED_TRACE(std::string(silence ? "silence list, " : "punctuation map, ") + c.name);
            Folder folder;
            const fs::path file = silence ? folder.silence() : folder.punc();
            if (c.folder) {
                test::plantSettingsFilePlace(file, test::SettingsFilePlace::folder);
            } else {
                ASSERT_TRUE(plat::writeFileAtomically(file, c.bytes));
            }
            if (c.sparseSize) fs::resize_file(file, c.sparseSize);
            ASSERT_TRUE(plat::writePlistFile(folder.config(), stringDict({{"InputPlanName", "mine"}})));
            plat::LogCapture log;
            ConfigManager config(folder.path);
            EXPECT_EQ(log.lines().size(), 1u);
            EXPECT_FALSE(fs::exists(file));
            const auto aside = setAsideFiles(folder.path, file.filename().string());
            ASSERT_EQ(aside.size(), 1u);
            if (c.folder) {
                EXPECT_EQ(plat::readWholeFile(aside[0] / "inside"), "kept");
            } else {
                EXPECT_EQ(fs::file_size(aside[0]), c.sparseSize ? c.sparseSize : c.bytes.size());
            }
            if (!c.sparseSize && !c.folder) {
                EXPECT_EQ(plat::readWholeFile(aside[0]), c.bytes);
            }
            auto s = config.settings();
            EXPECT_EQ(s->silenceDict, defaultSilenceDict());
            EXPECT_EQ(s->puncMapDict, defaultPuncMapDict());
            EXPECT_EQ(s->inputPlanName, "mine");

            auto notice = std::make_shared<RecordingNotice>();
            config.setUserNotice(notice);
            ASSERT_EQ(notice->posted.size(), 1u);
            EXPECT_EQ(notice->posted[0].rfind(c.title, 0), 0u) << notice->posted[0];
            EXPECT_NE(notice->posted[0].find(aside[0].filename().string()), std::string::npos) << notice->posted[0];

            // The other program writes the file anew: it loads, nobody is told again,
            // and this program's next save keeps it.
            const StringMap theirs{{"x", "X"}};
            ASSERT_TRUE(plat::writePlistFile(file, stringDict({{"x", "X"}})));
            config.loadConfig();
            EXPECT_EQ(silence ? config.settings()->silenceDict : config.settings()->puncMapDict, theirs);
            config.update([](Settings& s) { s.fontSize = 24; });
            EXPECT_TRUE(config.saveConfig());
            EXPECT_EQ(plat::readStringMapFile(file), theirs);
            EXPECT_EQ(notice->posted.size(), 1u);
            EXPECT_EQ(log.lines().size(), 1u);
            EXPECT_EQ(setAsideFiles(folder.path, file.filename().string()).size(), 1u);
        }
}

// A value changed and changed back between two saves is still written: the file may
// hold what the other program stored meanwhile, and only the file counts.
TEST(ConfigManager, AValueSetAgainIsWrittenWhateverThisObjectLastSaved) {
    Folder folder;
    ConfigManager config(folder.path);
    config.update([](Settings& s) { s.s2t = true; });
    ASSERT_TRUE(config.saveConfig());
    PlistValue file = readDict(folder.config());
    file["S2T"] = false;  // the other program, before our next save
    ASSERT_TRUE(plat::writePlistFile(folder.config(), file));
    config.update([](Settings& s) { s.s2t = false; });
    config.update([](Settings& s) { s.s2t = true; });
    ASSERT_TRUE(config.saveConfig());
    EXPECT_EQ(*readDict(folder.config()).find("S2T"), PlistValue(true));
}

TEST(ConfigManager, ReloadReplacesOnlyWhatTheFilesHold) {
    Folder folder;
    PlistValue file = PlistValue::dictionary();
    file["FontSize"] = 18;
    file["L2n"] = true;
    ASSERT_TRUE(plat::writePlistFile(folder.config(), file));
    ASSERT_TRUE(plat::writePlistFile(folder.silence(), PlistValue::dictionary()));

    ConfigManager config(folder.path);
    auto first = config.settings();
    EXPECT_EQ(first->fontSize, 18);
    EXPECT_TRUE(first->l2n);
    EXPECT_TRUE(first->silenceDict.empty());
    EXPECT_EQ(first->puncMapDict.size(), 23u);

    // The key vanishes from the file: the field keeps its last value.
    file.erase("FontSize");
    file["L2n"] = false;
    ASSERT_TRUE(plat::writePlistFile(folder.config(), file));
    config.loadConfig();
    auto second = config.settings();
    EXPECT_EQ(second->fontSize, 18);
    EXPECT_FALSE(second->l2n);
    // A snapshot taken before stays as it was.
    EXPECT_TRUE(first->l2n);

    // An empty silence list stays empty through a save.
    config.saveConfig();
    EXPECT_EQ(readDict(folder.silence()).size(), 0u);
}

TEST(ConfigManager, ReadersSeeWholeSnapshots) {
    Folder folder;
    ConfigManager config(folder.path);
    config.update([](Settings& s) {
        s.fontSize = 0;
        s.extraCode.clear();
        s.silenceDict.clear();
    });
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop.load()) {
            auto s = config.settings();
            // The writer always changes these three together.
            if (s->fontSize != static_cast<std::int64_t>(s->extraCode.size()) ||
                s->fontSize != static_cast<std::int64_t>(s->silenceDict.size()))
                ++torn;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        config.update([i](Settings& s) {
            const int n = i % 50;
            s.fontSize = n;
            s.extraCode.assign(static_cast<std::size_t>(n), 'x');
            s.silenceDict.clear();
            for (int k = 0; k < n; ++k) s.silenceDict[std::to_string(k)] = "app";
        });
    }
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

TEST(ConfigManager, SharedIsOneObject) {
    EXPECT_EQ(&ConfigManager::shared(), &ConfigManager::shared());
    EXPECT_EQ(ConfigManager::shared().configPath().filename(), "config.plist");
}

} // namespace
} // namespace taviro
