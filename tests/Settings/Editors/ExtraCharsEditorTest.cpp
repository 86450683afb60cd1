#include "EditorFixture.h"

#include "Settings/Editors/ExtraCodesController.h"

namespace kelvane::test {
namespace {

class ExtraCharsEditorTest : public EditorTest {
protected:
    // Loads the page over a stored text, with nothing posted yet.
    ExtraCodesController& open(const std::string& stored) {
        store->extraCode = stored;
        page = std::make_unique<ExtraCodesController>(*store);
        page->viewDidLoad();
        channel_->clear();
        return *page;
    }
    std::vector<bool> states() const {
        std::vector<bool> out;
        for (int tag = 1; tag <= 5; ++tag) out.push_back(page->boxState(tag));
        return out;
    }
    std::string onDisk() const { return reread()->extraCode; }

    std::unique_ptr<ExtraCodesController> page;
};

TEST_F(ExtraCharsEditorTest, BoxesFollowTheStoredTextAtLoad) {
    open(";,");
    EXPECT_EQ(page->fieldText(), ";,");
    EXPECT_EQ(states(), (std::vector<bool>{true, false, true, false, false}));
    open("'./x");
    EXPECT_EQ(states(), (std::vector<bool>{false, true, false, true, true}));
}

struct FilterCase {
    const char* name;
    const char* typed;
    const char* stored;
};

class FieldFilter : public ExtraCharsEditorTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(FieldFilter, StoresAndShowsTheFilteredText) {
    const FilterCase& c = GetParam();
    open("");
    page->controlTextDidEndEditing(c.typed);
    EXPECT_EQ(page->fieldText(), c.stored);
    EXPECT_EQ(onDisk(), c.stored);
    EXPECT_EQ(reloads(), 1u);
}

const FilterCase kFilterCases[] = {
    {"LettersAndRepeatsGo", "a1;b1;", "1;"},
    {"OnlyLettersGiveTheEmptyText", "abcXYZ", ""},
    {"SpaceAndFullWidthStay", " ，a ，", " ，"},
    {"ChineseAndDigitsStayInOrder", "9中9文0", "9中文0"},
    {"CombiningMarkStaysWithItsBase", "e\u0301e\u0301;", "e\u0301;"},
    {"FlagIsOneCharacter", "\U0001F1E8\U0001F1F3\U0001F1E8\U0001F1F3", "\U0001F1E8\U0001F1F3"},
};

INSTANTIATE_TEST_SUITE_P(Cases, FieldFilter, ::testing::ValuesIn(kFilterCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExtraCharsEditorTest, BoxesAppendOrRemoveTheirCharacter) {
    open("/1/");
    page->quickSetting(5, false);
    EXPECT_EQ(onDisk(), "1");
    page->quickSetting(5, true);
    EXPECT_EQ(page->fieldText(), "1/");
    EXPECT_EQ(onDisk(), "1/");
    EXPECT_EQ(reloads(), 2u);
    for (int tag : {0, 6, -1}) page->quickSetting(tag, true);
    EXPECT_EQ(reloads(), 2u);
    EXPECT_EQ(onDisk(), "1/");
}

TEST_F(ExtraCharsEditorTest, BoxAppendsEvenARepeatUntilTheFieldIsEditedAgain) {
    open("");
    page->controlTextDidEndEditing(";");
    EXPECT_FALSE(page->boxState(1));  // typing leaves the boxes as they were
    page->quickSetting(1, true);
    EXPECT_EQ(onDisk(), ";;");
    page->controlTextDidEndEditing(page->fieldText());
    EXPECT_EQ(onDisk(), ";");
    EXPECT_TRUE(page->boxState(1));
}

// Characters edited here join the input method's composition instead of selecting or
// mapping.
TEST_F(ExtraCharsEditorTest, EditedCharactersEnterTheCompositionBuffer) {
    open("");
    page->controlTextDidEndEditing("1x/");
    reloadInputMethod();
    session->typeScript("ni1/");
    EXPECT_EQ(engine.inputBuffer(), "ni1/");
    EXPECT_EQ(marked(), "ni1/");
    EXPECT_EQ(committed(), "");

    page->quickSetting(5, false);
    page->controlTextDidEndEditing("");
    reloadInputMethod();
    session->typeScript("ni1");
    EXPECT_EQ(committed(), "你");
}

} // namespace
} // namespace kelvane::test
