#include "EditorFixture.h"

#include "InputMethod/ControllerDefaults.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/Editors/BootButtonsController.h"

#include <fstream>

namespace kelvane::test {
namespace {

namespace fs = std::filesystem;

class GuideButtonEditorTest : public EditorTest {
protected:
    fs::path folder() const { return userFolder / "BootButtons"; }
    void writeTable(const std::string& name, const BootButtonTable& table) {
        ASSERT_TRUE(writeBootButtonTable(folder() / name, table));
    }
    // Saves the settings (as any page does) so that "config.plist" exists.
    void saveSettings() {
        store->save();
        channel_->clear();
    }
    BootButtonsController& open() {
        page = std::make_unique<BootButtonsController>(*store, userFolder);
        page->viewDidLoad();
        channel_->clear();
        return *page;
    }
    std::optional<std::string> configValue(const std::string& key) const {
        const auto root = plat::readPlistFile(perUser / "config.plist", plat::PlistValue::Type::Dictionary);
        if (!root) return std::nullopt;
        const auto& dict = *root->asDictionary();
        const auto it = dict.find(key);
        if (it == dict.end() || !it->second.stringPtr()) return std::nullopt;
        return *it->second.stringPtr();
    }
    static int rowOf(const std::string& key) {
        const auto& keys = bootButtonRowKeys();
        return static_cast<int>(std::find(keys.begin(), keys.end(), key) - keys.begin());
    }

    std::unique_ptr<BootButtonsController> page;
};

TEST_F(GuideButtonEditorTest, ShippedDefaultTableIsTheInputMethodsBuiltInOne) {
    const BootButtonTable table = defaultBootButtons();
    ASSERT_EQ(table.size(), 54u);
    const std::pair<const char*, const char*> firsts[] = {
        {"a", "！"}, {"b", "%"}, {"c", "”"}, {"d", "、"}, {"e", "+"}, {"f", "#繁简切换"}, {"g", "·"},
        {"h", "《》#光标左移"}, {"i", "，"}, {"j", "“”#光标左移"}, {"k", "（）#光标左移"}, {"l", "【】#光标左移"},
        {"m", "‘’#光标左移"}, {"n", "#行尾"}, {"o", "←"}, {"p", "→"}, {"q", "#"}, {"r", "-"}, {"s", "……"},
        {"t", "="}, {"u", "#撤销上屏"}, {"v", "——"}, {"w", "？"}, {"x", "_"}, {"y", "@"}, {"z", "“"},
        {";", "；"}, {"'⇣", "‘"}};
    for (const auto& [key, value] : firsts) EXPECT_EQ(table.at(key), value) << key;
    for (char c = 'a'; c <= 'z'; ++c) EXPECT_EQ(table.at(std::string(1, c) + "⇣"), "") << c;
    EXPECT_EQ(table, BootButtonTable(taviro::ControllerDefaults::shortCutInputDic()));

    const auto& rows = bootButtonRowKeys();
    ASSERT_EQ(rows.size(), 52u);
    EXPECT_EQ(rows[0], "a");
    EXPECT_EQ(rows[1], "a⇣");
    EXPECT_EQ(rows[51], "z⇣");
}

TEST_F(GuideButtonEditorTest, MissingTableShowsTheDefaultAndTheFirstEditWritesItWhole) {
    fs::remove_all(userFolder);  // the folder is created with its parents
    open();
    EXPECT_TRUE(fs::is_directory(folder()));
    EXPECT_EQ(page->configTitles(), std::vector<std::string>{"BootButtons.plist"});
    EXPECT_EQ(page->cellText(rowOf("h"), 1), "《》#光标左移");
    EXPECT_EQ(page->cellText(rowOf("h"), 0), "h");
    EXPECT_FALSE(fs::exists(folder() / "BootButtons.plist"));

    EXPECT_TRUE(page->commitEdit(rowOf("a"), 1, "甲"));
    const auto stored = readBootButtonTable(folder() / "BootButtons.plist");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 54u);
    EXPECT_EQ(stored->at("a"), "甲");
    EXPECT_EQ(stored->at(";"), "；");
    EXPECT_EQ(stored->at("'⇣"), "‘");
    EXPECT_TRUE(posted().empty());  // the input method reads the file at its next guide key
}

TEST_F(GuideButtonEditorTest, EditsUseTheEditedRowOnlyAndKeepRowlessEntries) {
    writeTable("BootButtons.plist", {{"a", "甲"}, {";", "；；"}, {"'⇣", "’"}, {"extra", "x"}});
    open();
    EXPECT_EQ(page->cellText(rowOf("b"), 1), "");  // a key the file lacks shows as empty
    const BootButtonTable before = page->shortCutInputDic();
    // No row, rows out of range and the key column change nothing and write nothing.
    for (auto [row, column] : std::vector<std::pair<std::optional<int>, int>>{
             {std::nullopt, 1}, {-1, 1}, {52, 1}, {rowOf("a"), 0}})
        page->commitEdit(row, column, "X");
    EXPECT_EQ(page->shortCutInputDic(), before);
    EXPECT_EQ(*readBootButtonTable(folder() / "BootButtons.plist"), before);

    EXPECT_TRUE(page->commitEdit(rowOf("b⇣"), 1, "乙"));
    EXPECT_TRUE(page->commitEdit(rowOf("a"), 1, ""));  // cleared: the key stays, empty
    const auto stored = readBootButtonTable(folder() / "BootButtons.plist");
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, (BootButtonTable{{"a", ""}, {"b⇣", "乙"}, {";", "；；"}, {"'⇣", "’"}, {"extra", "x"}}));
}

TEST_F(GuideButtonEditorTest, ListsTablesDeeplyAndChoosingOneSavesThroughTheSettingsStore) {
    saveSettings();
    writeTable("mine.plist", {{"a", "我"}});
    writeTable("shared/other.plist", {{"a", "他"}});
    writeTable("BootButtons.plist", {{"a", "默"}});
    std::ofstream(folder() / "notes.txt") << "x";
    open();
    EXPECT_EQ(page->configTitles(), (std::vector<std::string>{"BootButtons.plist", "mine.plist", "shared/other.plist"}));
    EXPECT_EQ(page->selectedTitle(), 0);
    EXPECT_EQ(page->cellText(rowOf("a"), 1), "默");

    // Another page saves a setting while this one is open: the choice keeps it.
    store->extraCode = "1";
    store->save();
    channel_->clear();
    page->changeList("shared/other.plist");
    EXPECT_EQ(posted(), std::vector<std::string>{"configNeedsReload"});
    EXPECT_EQ(configValue("BootButtonName"), "shared/other.plist");
    EXPECT_EQ(configValue("ExtraCode"), "1");
    EXPECT_EQ(store->bootButtonName, "shared/other.plist");
    EXPECT_EQ(page->selectedTitle(), 2);
    EXPECT_EQ(page->cellText(rowOf("a"), 1), "他");
    EXPECT_TRUE(page->commitEdit(rowOf("c"), 1, "丙"));
    EXPECT_EQ(readBootButtonTable(folder() / "shared" / "other.plist")->at("c"), "丙");
    EXPECT_FALSE(readBootButtonTable(folder() / "mine.plist")->count("c"));
}

TEST_F(GuideButtonEditorTest, ChoosingATableWithoutAFileShowsTheDefaultAndWritesNothing) {
    saveSettings();
    writeTable("BootButtons.plist", {{"a", "默"}});
    open();
    page->changeList("new.plist");
    EXPECT_EQ(page->configName(), "new.plist");
    EXPECT_EQ(page->cellText(rowOf("a"), 1), "！");
    EXPECT_FALSE(fs::exists(folder() / "new.plist"));
}

struct RefusedCase {
    const char* name;
    std::optional<std::string> title;
};

class RefusedChoice : public GuideButtonEditorTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedChoice, ChangesNothing) {
    saveSettings();
    open();
    page->changeList(GetParam().title);
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(configValue("BootButtonName"), "BootButtons.plist");
    EXPECT_EQ(page->configName(), "BootButtons.plist");
}

const RefusedCase kRefusedCases[] = {
    {"NoSelection", std::nullopt},
    {"Empty", std::string()},
    {"Absolute", std::string("/tmp/evil.plist")},
    {"ParentFolder", std::string("../evil.plist")},
    {"ParentInside", std::string("shared/../../evil.plist")},
};

INSTANTIATE_TEST_SUITE_P(Cases, RefusedChoice, ::testing::ValuesIn(kRefusedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GuideButtonEditorTest, UnsafeStoredNameIsNotUsedForReadingOrWriting) {
    store->bootButtonName = "../outside.plist";
    saveSettings();
    BootButtonTable outside = {{"a", "外"}};
    ASSERT_TRUE(writeBootButtonTable(userFolder / "outside.plist", outside));
    open();
    EXPECT_EQ(page->configName(), "BootButtons.plist");
    EXPECT_EQ(page->cellText(rowOf("a"), 1), "！");
    EXPECT_TRUE(page->commitEdit(rowOf("a"), 1, "内"));
    EXPECT_EQ(*readBootButtonTable(userFolder / "outside.plist"), outside);
    EXPECT_EQ(readBootButtonTable(folder() / "BootButtons.plist")->at("a"), "内");
}

TEST_F(GuideButtonEditorTest, UnreadableSettingsDisableTheChoice) {
    fs::create_directories(perUser);
    std::ofstream(perUser / "config.plist") << "not a property list";
    open();
    EXPECT_FALSE(page->configListEnabled());
    page->changeList("mine.plist");
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(page->configName(), "BootButtons.plist");
    // The table itself is still edited.
    EXPECT_TRUE(page->commitEdit(rowOf("a"), 1, "甲"));
    EXPECT_EQ(readBootButtonTable(folder() / "BootButtons.plist")->at("a"), "甲");
}

TEST_F(GuideButtonEditorTest, UnreadableTableIsShownAsTheDefaultButNeverOverwritten) {
    fs::create_directories(folder());
    std::ofstream(folder() / "BootButtons.plist") << "damaged";
    open();
    EXPECT_EQ(page->cellText(rowOf("a"), 1), "！");
    EXPECT_FALSE(page->commitEdit(rowOf("a"), 1, "甲"));
    EXPECT_FALSE(page->lastError().empty());
    std::ifstream in(folder() / "BootButtons.plist");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "damaged");
}

// What the guide key offers is the table edited here.
TEST_F(GuideButtonEditorTest, TheGuideKeyOffersTheEditedTable) {
    saveSettings();
    open();
    ASSERT_TRUE(page->commitEdit(rowOf("a"), 1, "甲"));
    ASSERT_TRUE(page->commitEdit(rowOf("b⇣"), 1, "【】#光标左移"));
    start();
    session->typeScript(";a");
    EXPECT_EQ(committed(), "甲");
    session->typeScript("'b");
    EXPECT_EQ(committed(), "甲【】");
    EXPECT_EQ(session->services().calls(), std::vector<std::string>{"key:123"});

    writeTable("shared/other.plist", {{"a", "乙"}});
    open();
    page->changeList("shared/other.plist");
    reloadInputMethod();
    session->typeScript(";a");
    EXPECT_EQ(committed(), "乙");
}

} // namespace
} // namespace kelvane::test
