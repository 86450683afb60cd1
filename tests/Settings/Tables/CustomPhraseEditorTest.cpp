#include "Settings/Tables/CustomPhraseEditor.h"

#include "RecordingChannelFixture.h"
#include "Settings/Functions/ModelManager.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <limits>

namespace kelvane {
namespace {

using namespace kelvane::test;

class CustomPhraseEditorTest : public RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        folder_ = taviro::test::freshDir("custom");
        store_ = std::make_unique<ModelManager>(folder_);
        editor_ = std::make_unique<CustomPhraseEditor>(*store_);
    }
    // What the file holds, as code/phrase/weight.
    std::vector<std::string> stored() {
        std::vector<std::string> out;
        for (const auto& r : ModelManager(folder_).loadCodeTable())
            out.push_back(r.code + "/" + r.table + "/" + std::to_string(int(r.weight)));
        return out;
    }
    std::vector<std::string> brackets(size_t n) const {
        std::vector<std::string> out;
        for (size_t i = 0; i < n; ++i) out.insert(out.end(), kFullBracket.begin(), kFullBracket.end());
        return out;
    }

    std::filesystem::path folder_;
    std::unique_ptr<ModelManager> store_;
    std::unique_ptr<CustomPhraseEditor> editor_;
};

TEST_F(CustomPhraseEditorTest, WeightsMustBeWholeFiniteNumbers) {
    struct Case {
        const char* text;
        std::optional<double> value;
    } cases[] = {{"12", 12},          {"-3", -3},           {"1.5", 1.5},         {"1e3", 1000},
                 {" 12", std::nullopt}, {"12 ", std::nullopt}, {"十二", std::nullopt}, {"abc", std::nullopt},
                 {"", std::nullopt},   {"inf", std::nullopt}, {"nan", std::nullopt}, {"1e999", std::nullopt},
                 {"12abc", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(CustomPhraseEditor::parseWeight(c.text), c.value) << c.text;
}

TEST_F(CustomPhraseEditorTest, AddEditAndDeleteReachTheFile) {
    editor_->load();
    EXPECT_TRUE(editor_->rows().empty());
    EXPECT_EQ(editor_->selectedRow(), -1);
    EXPECT_TRUE(posted().empty());

    editor_->addRow(std::nullopt);
    editor_->addRow(std::string("粘贴的字"));
    editor_->addRow(std::string("第三"));
    EXPECT_EQ(editor_->selectedRow(), 2);
    EXPECT_EQ(editor_->cellText(1, CustomPhraseEditor::phrase), "粘贴的字");
    EXPECT_NE(editor_->rows()[0].rowid, 0);

    // Each edit writes the row it names, right after its insertion.
    EXPECT_TRUE(editor_->editCell(1, CustomPhraseEditor::code, "zt"));
    EXPECT_TRUE(editor_->editCell(0, CustomPhraseEditor::weight, "2.5"));
    EXPECT_EQ(editor_->cellText(0, CustomPhraseEditor::weight), "2.5");
    EXPECT_FALSE(editor_->editCell(0, CustomPhraseEditor::code, ""));
    EXPECT_FALSE(editor_->editCell(0, CustomPhraseEditor::weight, "abc"));
    EXPECT_FALSE(editor_->editCell(7, CustomPhraseEditor::code, "x"));
    EXPECT_EQ(stored(), (std::vector<std::string>{"Code Here!/这里写字/2", "zt/粘贴的字/0", "Code Here!/第三/0"}));
    EXPECT_EQ(posted(), brackets(5));

    channel_->clear();
    editor_->deleteRows({0, 2});
    EXPECT_EQ(stored(), (std::vector<std::string>{"zt/粘贴的字/0"}));
    EXPECT_EQ(editor_->rows().size(), 1u);
    editor_->deleteRows({});
    EXPECT_EQ(editor_->rows().size(), 1u);
    EXPECT_EQ(posted(), brackets(2));
}

} // namespace
} // namespace kelvane
