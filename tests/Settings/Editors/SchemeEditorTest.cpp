// The double-pinyin scheme editor on a temporary user folder, with the input method's
// own scheme reader loading what it writes.
#include "Settings/Editors/SPEditorController.h"

#include "RecordingChannelFixture.h"
#include "InputMethod/Core/Double2Pinyin.h"
#include "InputMethod/Core/PyString.h"
#include "InputMethod/Core/Settings.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/BuiltinFiles.h"
#include "Settings/ConfigManager.h"
#include "Settings/InputMethodCommands.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using Table = SPEditorController::Table;
using Outcome = SPEditorController::SaveOutcome;

class SchemeEditorTest : public test::RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        const fs::path root = taviro::test::freshDir("schemeeditor");
        perUser_ = root / "TaviroMac";
        user_ = root / "塔维输入法";
        fs::create_directories(perUser_);
        config_ = std::make_unique<ConfigManager>(perUser_);
        editor_ = std::make_unique<SPEditorController>(*config_, user_);
    }

    fs::path keyMaps() const { return user_ / "KeyMaps"; }

    void writeScheme(const std::string& name, const plat::PlistValue& root) {
        fs::create_directories((keyMaps() / (name + ".plist")).parent_path());
        ASSERT_TRUE(plat::writePlistFile(keyMaps() / (name + ".plist"), root));
    }
    static plat::PlistValue scheme(const SPEditorController::StringTable& sheng,
                                   const SPEditorController::StringTable& yun,
                                   const SPEditorController::StringTable& special) {
        plat::PlistValue root;
        root["Version"] = "2.0";
        root["Sheng"] = plat::stringMapToPlist(sheng);
        root["Yun"] = plat::stringMapToPlist(yun);
        root["Special"] = plat::stringMapToPlist(special);
        return root;
    }
    std::optional<plat::PlistValue> saved(const std::string& name) const {
        return plat::readPlistFile(keyMaps() / (name + ".plist"), plat::PlistValue::Type::Dictionary);
    }
    static SPEditorController::StringTable section(const plat::PlistValue& root, const char* key) {
        SPEditorController::StringTable out;
        if (const auto* dict = root.find(key) ? root.find(key)->asDictionary() : nullptr)
            for (const auto& [k, v] : *dict) out[k] = v.asString("<not a string>");
        return out;
    }
    // Opens `name` as the active scheme would be opened.
    void open(const std::string& name) {
        config_->inputPlanName = name;
        editor_->viewDidLoad();
    }
    static int row(const std::string& key) {
        const auto& keys = SPEditorController::alphaKeys();
        return int(std::find(keys.begin(), keys.end(), key) - keys.begin());
    }
    // What the input method's reader makes of a buffer, one set of spellings per syllable.
    static std::vector<std::set<std::string>> typed(const fs::path& schemeFile, const std::string& keys) {
        taviro::Double2Pinyin reader(schemeFile);
        taviro::Settings settings;
        settings.quanPin = false;
        std::vector<std::set<std::string>> out;
        for (const auto& codes : reader.convertDoublePinyin(keys, settings)) {
            std::set<std::string> texts;
            for (int c : codes) texts.insert(std::string(taviro::PyString::syllableTextForCode(c)));
            out.push_back(texts);
        }
        return out;
    }
    using Spellings = std::vector<std::set<std::string>>;

    fs::path perUser_, user_;
    std::unique_ptr<ConfigManager> config_;
    std::unique_ptr<SPEditorController> editor_;
};

// A built-in scheme opened, one final changed and saved: reopened it shows the change, and
// once chosen on the double-pinyin page the input method converts the edited key anew.
TEST_F(SchemeEditorTest, EditedBuiltInSchemeConvertsAsEditedInTheInputMethod) {
    BuiltinFiles::install(BuiltinFiles::Page::ShuangPin, KELVANE_RESOURCE_DIR, user_);
    const fs::path original = keyMaps() / "自然码.plist";
    ASSERT_TRUE(fs::is_regular_file(original)) << "the built-in schemes are made by the full build";
    ASSERT_EQ(typed(original, "nihk"), (Spellings{{"ni"}, {"hao"}}));

    open("自然码");
    const auto& list = editor_->spList();
    EXPECT_NE(std::find(list.begin(), list.end(), "自然码"), list.end());
    EXPECT_EQ(editor_->fileListText(), "自然码");
    EXPECT_EQ(editor_->objectValue(Table::Plan, "y", row("k")), "ao");
    EXPECT_EQ(editor_->objectValue(Table::Plan, "s", row("u")), "sh");
    EXPECT_EQ(editor_->objectValue(Table::Special, "py", 0), "a"); // "aa", first in code order

    EXPECT_FALSE(editor_->controlTextDidEndEditing(Table::Plan, row("k"), 2, "ou"));
    editor_->setBootButtonFieldText("O");
    editor_->bootButtonChanged();
    ASSERT_EQ(editor_->save().outcome, Outcome::Saved);
    EXPECT_TRUE(posted().empty()); // the input method keeps its copy until the scheme is chosen

    SPEditorController again(*config_, user_);
    config_->inputPlanName = "自然码";
    again.viewDidLoad();
    EXPECT_EQ(again.objectValue(Table::Plan, "y", row("k")), "ou");
    EXPECT_EQ(again.bootButton(), "O");
    EXPECT_EQ(again.mapDict().find("Version")->asString(), "2.0");

    ASSERT_TRUE(InputMethodCommands::selectDoublePinyinScheme(*config_, "自然码", perUser_, user_));
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "needReloadPlan"}));
    EXPECT_EQ(typed(perUser_ / "spScheme.plist", "nihk"), (Spellings{{"ni"}, {"hou"}}));
    // The guide key stands for the missing initial.
    EXPECT_EQ(typed(perUser_ / "spScheme.plist", "Oj"), (Spellings{{"an"}}));
}

// What save writes for each kind of value.
TEST_F(SchemeEditorTest, SaveTurnsSpacesIntoSeparatorsAndDropsEmptyValuesAndThePlaceholder) {
    struct Case {
        const char* what;
        std::string yun;   // typed into the finals of "q"
        std::optional<std::string> saved;
    };
    const std::vector<Case> cases = {
        {"one space", "zh ch", "zh|ch"},   {"two spaces", "a  b", "a||b"}, {"leading space", " iu", "|iu"},
        {"only a space", " ", "|"},         {"empty", "", std::nullopt},   {"bars stay", "ong|iong", "ong|iong"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        editor_->clearAll();
        editor_->controlTextDidEndEditing(Table::Plan, row("q"), 2, c.yun);
        ASSERT_EQ(editor_->save(true).outcome, Outcome::Saved);
        const auto root = saved("new");
        ASSERT_TRUE(root);
        const auto yun = section(*root, "Yun");
        if (c.saved) EXPECT_EQ(yun, (SPEditorController::StringTable{{"q", *c.saved}}));
        else EXPECT_TRUE(yun.empty());
    }

    // The placeholder row is left out while unchanged; "code" with a real pinyin is kept.
    editor_->clearAll();
    editor_->spAdd();
    ASSERT_EQ(editor_->save(true).outcome, Outcome::Saved);
    EXPECT_TRUE(section(*saved("new"), "Special").empty());
    editor_->spAdd();
    editor_->controlTextDidEndEditing(Table::Special, 0, 1, "e");
    ASSERT_EQ(editor_->save(true).outcome, Outcome::Saved);
    EXPECT_EQ(section(*saved("new"), "Special"), (SPEditorController::StringTable{{"code", "e"}}));
}

TEST_F(SchemeEditorTest, GuideKeyIsCheckedAndReplacesTheInitialOfItsKey) {
    struct Case {
        const char* typed;
        bool accepted;
    };
    const std::vector<Case> cases = {{"O", true}, {"a", true}, {"", true},  {"o1", false},
                                     {"1", false}, {"é", false}, {";", false}, {"ab", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        editor_->clearAll();
        editor_->setBootButtonFieldText("v");
        editor_->bootButtonChanged();
        editor_->setBootButtonFieldText(c.typed);
        editor_->bootButtonChanged();
        EXPECT_EQ(editor_->bootButton(), c.accepted ? c.typed : "v");
        EXPECT_EQ(editor_->bootButtonFieldText(), editor_->bootButton());
    }

    // A key that also types an initial keeps only its empty guide-key value.
    editor_->clearAll();
    editor_->controlTextDidEndEditing(Table::Plan, row("o"), 1, "zh");
    editor_->controlTextDidEndEditing(Table::Plan, row("u"), 1, "sh");
    editor_->setBootButtonFieldText("o");
    editor_->bootButtonChanged();
    ASSERT_EQ(editor_->save(true).outcome, Outcome::Saved);
    EXPECT_EQ(section(*saved("new"), "Sheng"), (SPEditorController::StringTable{{"o", ""}, {"u", "sh"}}));
}

// A field left holding a bad guide key is checked again at save: nothing is written,
// the field shows the guide key in force and the editor stays open with an alert.
TEST_F(SchemeEditorTest, SaveRechecksTheGuideKeyField) {
    editor_->clearAll();
    editor_->setBootButtonFieldText("z");
    editor_->bootButtonChanged();
    editor_->setBootButtonFieldText("z1");
    const auto result = editor_->save();
    EXPECT_EQ(result.outcome, Outcome::Refused);
    EXPECT_FALSE(result.alert.message.empty());
    EXPECT_EQ(editor_->bootButtonFieldText(), "z");
    EXPECT_FALSE(fs::exists(keyMaps() / "new.plist"));
    ASSERT_EQ(editor_->save().outcome, Outcome::Saved);
    EXPECT_EQ(section(*saved("new"), "Sheng"), (SPEditorController::StringTable{{"z", ""}}));
}

// The folder is made with its parents, for "KeyMaps" and for subfolders of it.
TEST_F(SchemeEditorTest, SaveCreatesTheFolderAndSubfolders) {
    ASSERT_FALSE(fs::exists(user_));
    open("乱码");
    EXPECT_TRUE(editor_->spList().empty());
    EXPECT_EQ(editor_->fileListText(), "乱码");
    EXPECT_EQ(editor_->numberOfRows(Table::Special), 0);
    ASSERT_EQ(editor_->save().outcome, Outcome::Saved);
    EXPECT_TRUE(fs::is_regular_file(keyMaps() / "乱码.plist"));

    editor_->setFileListText("sub/deeper/abc");
    ASSERT_EQ(editor_->save().outcome, Outcome::Saved);
    EXPECT_TRUE(fs::is_regular_file(keyMaps() / "sub" / "deeper" / "abc.plist"));
    open("sub/deeper/abc");
    EXPECT_EQ(editor_->mapName(), "sub/deeper/abc");
    EXPECT_NE(std::find(editor_->spList().begin(), editor_->spList().end(), "sub/deeper/abc"), editor_->spList().end());
    // Nothing but the schemes is left in the folder (no temporary files).
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(keyMaps()))
        if (e.is_regular_file()) files.push_back(e.path().lexically_relative(keyMaps()).generic_string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"sub/deeper/abc.plist", "乱码.plist"}));
}

TEST_F(SchemeEditorTest, NamesThatLeaveTheFolderAreRefused) {
    writeScheme("inside", scheme({{"u", "sh"}}, {}, {}));
    const fs::path outside = user_ / "outside.plist";
    for (std::string name : {"/" + (user_ / "outside").string(), std::string("../outside"), std::string("a/../../outside"),
                             std::string("..")}) {
        SCOPED_TRACE(name);
        open("inside");
        editor_->setFileListText(name);
        const auto result = editor_->save(true);
        EXPECT_EQ(result.outcome, Outcome::Refused);
        EXPECT_EQ(result.alert.buttons, (std::vector<std::string>{"好"}));
        EXPECT_FALSE(fs::exists(outside));
        // Reloading such a name keeps the open document.
        EXPECT_TRUE(editor_->reload());
        EXPECT_EQ(editor_->objectValue(Table::Plan, "s", row("u")), "sh");
    }
    // Nor is a file outside read when the settings name one.
    fs::create_directories(user_);
    ASSERT_TRUE(plat::writePlistFile(outside, scheme({{"u", "zh"}}, {}, {})));
    open("../outside");
    EXPECT_EQ(editor_->objectValue(Table::Plan, "s", row("u")), std::nullopt);
}

// A failed write is reported and the editor stays open with its document.
TEST_F(SchemeEditorTest, FailedWriteKeepsTheEditorOpenWithAnAlert) {
    struct Case {
        const char* what;
        std::function<void(const fs::path& keyMaps)> prepare;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"KeyMaps is a file", [](const fs::path& k) { std::ofstream(k) << "x"; }, "abc"},
        {"the scheme's place is a folder", [](const fs::path& k) { fs::create_directories(k / "abc.plist"); }, "abc"},
        {"a subfolder's place is a file",
         [](const fs::path& k) {
             fs::create_directories(k);
             std::ofstream(k / "sub") << "x";
         },
         "sub/abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(user_);
        fs::create_directories(user_);
        c.prepare(keyMaps());
        editor_->clearAll();
        editor_->controlTextDidEndEditing(Table::Plan, row("u"), 1, "sh");
        editor_->setFileListText(c.name);
        const auto result = editor_->save(true);
        EXPECT_EQ(result.outcome, Outcome::Refused);
        EXPECT_NE(result.alert.message.find(c.name), std::string::npos);
        EXPECT_FALSE(result.alert.informative.empty());
        EXPECT_EQ(editor_->objectValue(Table::Plan, "s", row("u")), "sh");
    }
}

TEST_F(SchemeEditorTest, OverwritingAnotherExistingSchemeAsksFirst) {
    writeScheme("mine", scheme({{"u", "sh"}}, {}, {}));
    writeScheme("theirs", scheme({{"i", "ch"}}, {}, {}));
    open("mine");
    // The open scheme itself is saved without a question.
    ASSERT_EQ(editor_->save().outcome, Outcome::Saved);

    editor_->didSelectFile("theirs");
    auto result = editor_->save();
    ASSERT_EQ(result.outcome, Outcome::NeedsConfirmation);
    EXPECT_EQ(result.alert.buttons.size(), 2u);
    EXPECT_EQ(section(*saved("theirs"), "Sheng"), (SPEditorController::StringTable{{"i", "ch"}}));
    ASSERT_EQ(editor_->save(true).outcome, Outcome::Saved);
    EXPECT_EQ(section(*saved("theirs"), "Sheng"), (SPEditorController::StringTable{{"u", "sh"}}));
    // Now it is the open scheme: no second question.
    EXPECT_EQ(editor_->save().outcome, Outcome::Saved);

    // A new scheme named after an existing file asks too; a new name does not.
    editor_->clearAll();
    writeScheme("new", scheme({}, {{"a", "a"}}, {}));
    EXPECT_EQ(editor_->save().outcome, Outcome::NeedsConfirmation);
    editor_->setFileListText("fresh");
    EXPECT_EQ(editor_->save().outcome, Outcome::Saved);
    // An empty name does nothing.
    editor_->setFileListText("");
    EXPECT_EQ(editor_->save().outcome, Outcome::Ignored);
}

// Values that are not strings are skipped on load, so the saved file's tables are all
// strings and the input method takes them (it ignores a table holding anything else).
TEST_F(SchemeEditorTest, NonStringValuesAreSkippedOnLoad) {
    plat::PlistValue root = scheme({{"u", "sh"}}, {{"k", "ou"}}, {{"ea", "a"}});
    root["Sheng"]["x"] = 3;
    root["Yun"]["y"] = plat::PlistValue::dictionary();
    root["Special"]["oo"] = true;
    root["Author"] = "someone"; // another key travels along
    writeScheme("odd", root);
    EXPECT_EQ(typed(keyMaps() / "odd.plist", "uk"), (Spellings{{}})); // the reader skipped both tables

    open("odd");
    EXPECT_EQ(editor_->objectValue(Table::Plan, "s", row("x")), std::nullopt);
    EXPECT_EQ(editor_->objectValue(Table::Plan, "y", row("y")), std::nullopt);
    EXPECT_EQ(editor_->numberOfRows(Table::Special), 1);
    ASSERT_EQ(editor_->save().outcome, Outcome::Saved);
    const auto written = saved("odd");
    ASSERT_TRUE(written);
    EXPECT_EQ(section(*written, "Sheng"), (SPEditorController::StringTable{{"u", "sh"}}));
    EXPECT_EQ(section(*written, "Special"), (SPEditorController::StringTable{{"ea", "a"}}));
    EXPECT_EQ(written->find("Author")->asString(), "someone");
    EXPECT_EQ(typed(keyMaps() / "odd.plist", "uk"), (Spellings{{"shou"}}));

    // The older flat form: its strings become the special table of a version-2.0 scheme.
    plat::PlistValue flat;
    flat["ea"] = "a";
    flat["n"] = 1;
    writeScheme("flat", flat);
    open("flat");
    EXPECT_EQ(editor_->specialCodes(), (std::vector<std::string>{"ea"}));
    ASSERT_EQ(editor_->save().outcome, Outcome::Saved);
    EXPECT_EQ(saved("flat")->find("Version")->asString(), "2.0");
    EXPECT_EQ(section(*saved("flat"), "Special"), (SPEditorController::StringTable{{"ea", "a"}}));
    EXPECT_TRUE(section(*saved("flat"), "Sheng").empty());
}

TEST_F(SchemeEditorTest, PlanTableShowsTheKeyRowAndStoresEditsOfItsTwoColumns) {
    editor_->clearAll();
    ASSERT_EQ(editor_->numberOfRows(Table::Plan), 27);
    std::string keys;
    for (int r = 0; r < 27; ++r) keys += *editor_->objectValue(Table::Plan, "key", r);
    EXPECT_EQ(keys, "qwertyuiopasdfghjklzxcvbnm;");
    EXPECT_EQ(editor_->objectValue(Table::Plan, "s", 0), std::nullopt);

    editor_->controlTextDidEndEditing(Table::Plan, row("d"), 2, "uang|iang");
    EXPECT_EQ(editor_->objectValue(Table::Plan, "y", row("d")), "uang|iang");
    editor_->controlTextDidEndEditing(Table::Plan, row("v"), 1, "zh");
    editor_->controlTextDidEndEditing(Table::Plan, row("v"), 1, "");
    EXPECT_EQ(editor_->objectValue(Table::Plan, "s", row("v")), ""); // kept, empty
    editor_->controlTextDidEndEditing(Table::Plan, row("v"), 0, "x"); // the key column
    editor_->controlTextDidEndEditing(Table::Plan, row(";"), 3, "x"); // no such column
    EXPECT_EQ(editor_->objectValue(Table::Plan, "key", row("v")), "v");
    const auto doc = editor_->mapDict();
    EXPECT_EQ(section(doc, "Sheng"), (SPEditorController::StringTable{{"v", ""}}));
    EXPECT_EQ(section(doc, "Yun"), (SPEditorController::StringTable{{"d", "uang|iang"}}));
}

TEST_F(SchemeEditorTest, SpecialTableKeepsCodeOrderAndRefusesDuplicateCodes) {
    writeScheme("s", scheme({}, {}, {{"oo", "o"}, {"ea", "a"}, {"ee", "e"}}));
    open("s");
    EXPECT_EQ(editor_->specialCodes(), (std::vector<std::string>{"ea", "ee", "oo"}));
    EXPECT_EQ(editor_->objectValue(Table::Special, "py", 2), "o");

    // A rename keeps the pinyin and moves the row to its place.
    EXPECT_FALSE(editor_->controlTextDidEndEditing(Table::Special, 2, 0, "ao"));
    EXPECT_EQ(editor_->specialCodes(), (std::vector<std::string>{"ao", "ea", "ee"}));
    EXPECT_EQ(editor_->objectValue(Table::Special, "py", 0), "o");

    struct Case {
        const char* what;
        int row, column;
        std::string text;
        bool alert;
    };
    const std::vector<Case> unchanged = {
        {"another row's code", 1, 0, "ee", true}, {"its own code", 1, 0, "ea", true},
        {"empty code", 1, 0, "", false},          {"empty pinyin", 1, 1, "", false},
        {"no selected row", -1, 1, "x", false},   {"a row past the end", 3, 0, "zz", false},
        {"no such column", 1, 2, "x", false},
    };
    const auto before = editor_->mapDict();
    for (const auto& c : unchanged) {
        SCOPED_TRACE(c.what);
        const auto alert = editor_->controlTextDidEndEditing(Table::Special, c.row, c.column, c.text);
        EXPECT_EQ(alert.has_value(), c.alert);
        if (alert) {
            EXPECT_EQ(alert->message, "同编码映射请写在同一条中用竖线“|”分隔。");
        }
        EXPECT_EQ(editor_->mapDict(), before);
    }
    // No selected row in the plan table either.
    editor_->controlTextDidEndEditing(Table::Plan, -1, 1, "zh");
    EXPECT_EQ(editor_->mapDict(), before);
}

TEST_F(SchemeEditorTest, AddAndDeleteSpecialRows) {
    editor_->clearAll();
    EXPECT_EQ(editor_->numberOfRows(Table::Special), 0);
    editor_->spAdd();
    editor_->controlTextDidEndEditing(Table::Special, 0, 1, "ke");
    editor_->spAdd();
    EXPECT_EQ(editor_->specialCodes(), (std::vector<std::string>{"code"}));
    EXPECT_EQ(editor_->objectValue(Table::Special, "py", 0), "pinyin");

    editor_->controlTextDidEndEditing(Table::Special, 0, 0, "ea");
    editor_->spAdd();
    editor_->controlTextDidEndEditing(Table::Special, 0, 0, "oo");
    editor_->spAdd();
    EXPECT_EQ(editor_->specialCodes(), (std::vector<std::string>{"code", "ea", "oo"}));
    editor_->spDel({});
    EXPECT_EQ(editor_->numberOfRows(Table::Special), 3);
    editor_->spDel({0, 2, 7});
    EXPECT_EQ(editor_->specialCodes(), (std::vector<std::string>{"ea"}));
}

// Loading replaces everything: the tables, the name and the guide key.
TEST_F(SchemeEditorTest, ReloadOpensTheNamedSchemeAndClearAllStartsANewOne) {
    writeScheme("a", scheme({{"o", ""}, {"u", "sh"}}, {}, {}));
    writeScheme("b", scheme({{"u", "zh"}}, {}, {}));
    writeScheme("a_rev", scheme({}, {}, {}));
    open("a");
    EXPECT_EQ(editor_->spList(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(editor_->bootButton(), "o");

    editor_->didSelectFile("b");
    EXPECT_EQ(editor_->mapName(), "b");
    EXPECT_EQ(editor_->objectValue(Table::Plan, "s", row("u")), "sh"); // nothing loaded yet
    EXPECT_FALSE(editor_->reload());
    EXPECT_EQ(editor_->objectValue(Table::Plan, "s", row("u")), "zh");
    EXPECT_EQ(editor_->bootButton(), ""); // b has no guide key
    EXPECT_EQ(editor_->bootButtonFieldText(), "");

    editor_->clearAll();
    EXPECT_EQ(editor_->fileListText(), "new");
    EXPECT_EQ(editor_->mapName(), "new");
    EXPECT_EQ(editor_->objectValue(Table::Plan, "s", row("u")), std::nullopt);
    ASSERT_EQ(editor_->save().outcome, Outcome::Saved);
    const auto root = saved("new");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->find("Version")->asString(), "2.0");
    for (const char* key : {"Sheng", "Yun", "Special"}) {
        ASSERT_TRUE(root->find(key) && root->find(key)->isDictionary()) << key;
        EXPECT_EQ(root->find(key)->size(), 0u) << key;
    }
    EXPECT_TRUE(posted().empty());
}

} // namespace
} // namespace kelvane
