#include "EditorFixture.h"

#include "Settings/Editors/PuncMapEditer.h"

#include <filesystem>

namespace kelvane::test {
namespace {

namespace fs = std::filesystem;

class PuncMapEditorTest : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        editor = std::make_unique<PuncMapEditer>(*store);
    }
    // Loads the page over `map`, with nothing written yet.
    void open(StringMap map) {
        store->puncMapDict = std::move(map);
        editor->viewDidLoad();
        channel_->clear();
    }
    std::vector<std::string> keys() const { return editor->puncList(); }
    StringMap onDisk() const { return reread()->puncMapDict; }

    std::unique_ptr<PuncMapEditer> editor;
};

TEST_F(PuncMapEditorTest, ResetShowsTheDefaultKeysInCharacterCodeOrderAndCancelChangesNothing) {
    open({{"a", "甲"}});
    store->forceEngComma = true;
    editor->reset(false);
    EXPECT_EQ(keys(), std::vector<std::string>{"a"});
    EXPECT_TRUE(posted().empty());
    EXPECT_FALSE(fs::exists(store->puncMapPath()));

    editor->reset(true);
    const std::vector<std::string> expected = {"!", "\"", "$", "'", "(", ")", ",", ".", "/", ":", ";", "<",
                                               ">", "?", "[", "\\", "]", "^", "_", "`", "{", "}", "~"};
    EXPECT_EQ(keys(), expected);
    EXPECT_EQ(editor->cellText(0, 1), "！");
    EXPECT_EQ(editor->cellText(17, 1), "……");
    EXPECT_EQ(onDisk(), defaultPuncMapDict());
    EXPECT_EQ(reloads(), 1u);
    EXPECT_TRUE(store->forceEngComma);
}

TEST_F(PuncMapEditorTest, AddedRowIsEmptySelectedAndUnstored) {
    open({});
    EXPECT_EQ(editor->numberOfRows(), 0);
    editor->addRow();
    ASSERT_EQ(editor->numberOfRows(), 1);
    EXPECT_EQ(editor->cellText(0, 0), "");
    EXPECT_EQ(editor->cellText(0, 1), "");
    EXPECT_EQ(editor->selectedRow(), 0);
    EXPECT_TRUE(posted().empty());
    EXPECT_FALSE(fs::exists(store->puncMapPath()));
}

TEST_F(PuncMapEditorTest, DuplicateKeysAreRefusedButEmptyKeysAreNot) {
    open({{",", "，"}});
    editor->addRow();
    editor->addRow();
    EXPECT_EQ(editor->commitEdit(1, 0, "@"), PuncMapEditer::Edit::stored);
    EXPECT_EQ(editor->commitEdit(2, 0, "@"), PuncMapEditer::Edit::duplicateKey);
    EXPECT_EQ(editor->commitEdit(2, 0, ","), PuncMapEditer::Edit::duplicateKey);
    EXPECT_EQ(editor->cellText(2, 0), "");
    EXPECT_EQ(editor->commitEdit(2, 0, ""), PuncMapEditer::Edit::stored);
    EXPECT_EQ(keys(), (std::vector<std::string>{",", "@", ""}));
    // "@" and "" were stored (each with the empty text); the refusals wrote nothing.
    EXPECT_EQ(reloads(), 2u);
    EXPECT_EQ(onDisk(), (StringMap{{",", "，"}, {"@", ""}, {"", ""}}));
}

// A changed key takes its text along; the old key's entry goes unless a row still shows it.
struct RenameCase {
    const char* name;
    StringMap map;
    int extraRows;  // empty rows added before the edits
    std::vector<std::tuple<int, int, std::string>> edits;  // row, column, text
    std::vector<std::string> rows;
    StringMap stored;
};

class RenameKey : public PuncMapEditorTest, public ::testing::WithParamInterface<RenameCase> {};

TEST_P(RenameKey, KeepsTheMapInStepWithTheRows) {
    const RenameCase& c = GetParam();
    open(c.map);
    for (int i = 0; i < c.extraRows; ++i) editor->addRow();
    for (const auto& [row, column, text] : c.edits)
        EXPECT_EQ(editor->commitEdit(row, column, text), PuncMapEditer::Edit::stored);
    EXPECT_EQ(keys(), c.rows);
    EXPECT_EQ(store->puncMapDict, c.stored);
    EXPECT_EQ(onDisk(), c.stored);
    // One write and one announcement per edit.
    EXPECT_EQ(reloads(), c.edits.size());
    // The next opening of the page shows what was stored, and nothing else.
    const auto stored = reread();
    PuncMapEditer again(*stored);
    again.viewDidLoad();
    std::vector<std::string> storedKeys;
    for (const auto& [k, v] : c.stored) storedKeys.push_back(k);
    EXPECT_EQ(again.puncList(), storedKeys);
}

const RenameCase kRenameCases[] = {
    {"RenamedKeyDropsTheOldEntry", {{",", "，"}, {".", "。"}}, 0, {{0, 0, "<"}}, {"<", "."}, {{"<", "，"}, {".", "。"}}},
    {"UnchangedKeyRewritesItsOwnText", {{",", "，"}}, 0, {{0, 0, ","}}, {","}, {{",", "，"}}},
    {"TextTypedBeforeTheKeyMovesToTheKey", {}, 1, {{0, 1, "＠"}, {0, 0, "@"}}, {"@"}, {{"@", "＠"}}},
    {"EmptyKeyStaysWhileAnotherRowShowsIt", {}, 2, {{0, 1, "甲"}, {0, 0, "@"}}, {"@", ""}, {{"@", "甲"}, {"", "甲"}}},
    {"KeyClearedToEmptyKeepsItsText", {{",", "，"}}, 0, {{0, 0, ""}}, {""}, {{"", "，"}}},
    {"ValueMayBeLongOrEmpty", {{",", "，"}, {".", "。"}}, 0, {{0, 1, "，，，"}, {1, 1, ""}}, {",", "."},
     {{",", "，，，"}, {".", ""}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, RenameKey, ::testing::ValuesIn(kRenameCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PuncMapEditorTest, EditsWithoutARowDoNothingAndUseTheEditedRowAndColumn) {
    open(defaultPuncMapDict());
    for (std::optional<int> row : {std::optional<int>(), std::optional<int>(-1), std::optional<int>(23)})
        EXPECT_EQ(editor->commitEdit(row, 1, "X"), PuncMapEditer::Edit::ignored);
    EXPECT_TRUE(posted().empty());
    EXPECT_FALSE(fs::exists(store->puncMapPath()));

    // Row 6 shows ","; any column other than the first is the text.
    EXPECT_EQ(editor->commitEdit(6, 1, "，，"), PuncMapEditer::Edit::stored);
    EXPECT_EQ(editor->commitEdit(7, 2, "。。"), PuncMapEditer::Edit::stored);
    EXPECT_EQ(onDisk().at(","), "，，");
    EXPECT_EQ(onDisk().at("."), "。。");
    EXPECT_EQ(keys().size(), 23u);
}

TEST_F(PuncMapEditorTest, DeletingRowsRemovesTheirKeysHighestFirst) {
    open(defaultPuncMapDict());  // rows: ! " $ ' ( ) , ...
    editor->deleteRows({});
    EXPECT_TRUE(posted().empty());
    editor->deleteRows({2, 5});
    EXPECT_EQ(keys().size(), 21u);
    EXPECT_EQ(keys()[2], "'");
    EXPECT_EQ(keys()[4], ",");
    const StringMap after = onDisk();
    EXPECT_FALSE(after.count("$"));
    EXPECT_FALSE(after.count(")"));
    EXPECT_EQ(after.size(), 21u);
    EXPECT_EQ(reloads(), 2u);
    // An added row never given a key still costs a write when deleted.
    editor->addRow();
    editor->deleteRows({21});
    EXPECT_EQ(reloads(), 3u);
}

TEST_F(PuncMapEditorTest, ForceEnglishCommaDisablesTheTableAndSurvivesAReload) {
    open(defaultPuncMapDict());
    EXPECT_TRUE(editor->tableEnabled());
    editor->setForceEngComma(true);
    EXPECT_FALSE(editor->tableEnabled());
    EXPECT_EQ(reloads(), 1u);
    auto stored = reread();
    EXPECT_TRUE(stored->forceEngComma);
    PuncMapEditer again(*stored);
    again.viewDidLoad();
    EXPECT_FALSE(again.tableEnabled());
    again.setForceEngComma(false);
    EXPECT_TRUE(again.tableEnabled());
    EXPECT_EQ(again.puncList().size(), 23u);
}

// What the map edited here makes the input method commit.
TEST_F(PuncMapEditorTest, TheInputMethodCommitsTheEditedMap) {
    open(defaultPuncMapDict());
    const auto rowOf = [&](const std::string& key) {
        const auto& list = editor->puncList();
        return static_cast<int>(std::find(list.begin(), list.end(), key) - list.begin());
    };
    ASSERT_EQ(editor->commitEdit(rowOf("?"), 1, "¿"), PuncMapEditer::Edit::stored);
    ASSERT_EQ(editor->commitEdit(rowOf("$"), 0, "@"), PuncMapEditer::Edit::stored);
    editor->deleteRows({rowOf("!")});
    reloadInputMethod();
    session->typeScript("?");
    EXPECT_EQ(committed(), "¿");
    session->typeScript("@");
    EXPECT_EQ(committed(), "¿￥");
    session->typeScript("$!");
    EXPECT_EQ(committed(), "¿￥$!");
    session->typeScript("ni?");
    EXPECT_EQ(committed(), "¿￥$!你¿");

    editor->setForceEngComma(true);
    reloadInputMethod();
    session->typeScript("ni?");
    EXPECT_EQ(committed(), "你?");
}

} // namespace
} // namespace kelvane::test
