#include "Settings/Tables/CustomPhraseEditor.h"

#include "ImportTestSupport.h"
#include "RecordingChannelFixture.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "Settings/Pages/PbarController.h"
#include "Settings/Functions/ModelManager.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <cmath>
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

    // Starts an import from the main queue and serves it until `done` ran.
    bool runImport(void (CustomPhraseEditor::*start)(const std::filesystem::path&, std::shared_ptr<PbarController>,
                                                      std::function<void(bool)>),
                   const std::filesystem::path& path) {
        plat::RunLoopDriver driver(plat::MainQueue::shared());
        int calls = 0;
        bool ok = false;
        sheet_ = PbarController::make();
        plat::MainQueue::shared().async([&] {
            (editor_.get()->*start)(path, sheet_, [&](bool result) {
                EXPECT_TRUE(plat::MainQueue::shared().isMainThread());
                ++calls;
                ok = result;
            });
        });
        driver.runUntil([&] { return calls > 0; }, std::chrono::seconds(30));
        EXPECT_EQ(calls, 1);
        return ok;
    }

    std::filesystem::path folder_;
    std::shared_ptr<PbarController> sheet_;
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

TEST_F(CustomPhraseEditorTest, TextLinesAndTheFirstBadLine) {
    struct Case {
        const char* text;
        std::vector<std::string> rows; // phrase/code/weight
        std::optional<std::string> bad;
    } cases[] = {
        {"你好\tnh\n\n//\tnote\n世界\tsj\t3\r\n\u5b57\tz\tabc", {"你好/nh/0", "世界/sj/3", "字/z/0"}, std::nullopt},
        {"\t\t", {"//0"}, std::nullopt},
        {"好\th\n坏\n后\thh\n", {}, std::string("坏")},
        {"a\tb\tc\td\n", {}, std::string("a\tb\tc\td")},
        {"", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto parsed = CustomPhraseEditor::parseText(c.text);
        std::vector<std::string> rows;
        for (const auto& r : parsed.rows) rows.push_back(r.table + "/" + r.code + "/" + std::to_string(int(r.weight)));
        EXPECT_EQ(rows, c.rows) << c.text;
        EXPECT_EQ(parsed.badLine, c.bad) << c.text;
    }
}

TEST_F(CustomPhraseEditorTest, ImportAddsRowsAndExportWritesThemBack) {
    editor_->addRow(std::string("旧"));
    channel_->clear();
    const auto parsed = CustomPhraseEditor::parseText("你好\tnh\t2\n世界\tsj\n");
    std::vector<double> progress;
    editor_->importRows(parsed.rows, [&](double p) { progress.push_back(p); });
    EXPECT_EQ(editor_->rows().size(), 3u);
    EXPECT_EQ(progress, (std::vector<double>{0.0}));
    EXPECT_EQ(posted(), kFullBracket);

    editor_->editCell(0, CustomPhraseEditor::weight, "-2.7");
    const auto file = folder_ / "out.txt";
    ASSERT_TRUE(editor_->exportTo(file));
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "旧\tCode Here!\t-2\n你好\tnh\t2\n世界\tsj\t0\n");
    EXPECT_FALSE(editor_->exportTo(folder_ / "missing" / "out.txt"));
}

TEST_F(CustomPhraseEditorTest, TextImportRunsBehindTheSheetAndFailuresSayWhy) {
    editor_->addRow(std::string("旧"));
    editor_->load();
    struct Case {
        std::string bytes;
        bool ok;
        std::string sheetText; // the reason left on the sheet
        std::vector<std::string> stored;
    } cases[] = {
        {"你好\tnh\t2\n\n//\tnote\n世界\tsj\n", true, "",
         {"Code Here!/旧/0", "nh/你好/2", "sj/世界/0"}},
        {"好\th\n// a note\n后\thh\n", false, "错误行：// a note\n正确的编码格式应该是： 字\\t码\\t位置",
         {"Code Here!/旧/0"}},
        {"\xff\xfe\xff\x00\x01", false, CustomPhraseEditor::kFileError, {"Code Here!/旧/0"}},
        {"\n\n", true, "", {"Code Here!/旧/0"}},
    };
    for (const auto& c : cases) {
        // Each case starts from the one phrase "旧".
        editor_->deleteRows({1, 2, 3});
        channel_->clear();
        const auto file = folder_ / "in.txt";
        writeFile(file, c.bytes);
        EXPECT_EQ(runImport(&CustomPhraseEditor::importFile, file), c.ok) << c.bytes;
        EXPECT_EQ(stored(), c.stored) << c.bytes;
        EXPECT_EQ(editor_->rows().size(), c.stored.size()) << c.bytes;
        EXPECT_EQ(sheet_->dismissed(), c.ok) << c.bytes;
        EXPECT_EQ(sheet_->doneEnabled(), !c.ok) << c.bytes;
        if (!c.ok) {
            EXPECT_EQ(sheet_->text(), c.sheetText);
        }
        // Only an import that writes makes a bracket, also when it adds no rows.
        EXPECT_EQ(posted(), c.ok ? kFullBracket : std::vector<std::string>{}) << c.bytes;
    }
    EXPECT_FALSE(runImport(&CustomPhraseEditor::importFile, folder_ / "absent.txt"));
    EXPECT_EQ(sheet_->text(), CustomPhraseEditor::kFileError);
}

TEST_F(CustomPhraseEditorTest, AnExportImportedAgainDoublesEveryRow) {
    editor_->addRow(std::string("甲"));
    editor_->addRow(std::string("乙"));
    editor_->editCell(1, CustomPhraseEditor::weight, "2.7");
    const auto file = folder_ / "round.txt";
    const auto exportTo = [&](const std::filesystem::path& path) {
        plat::RunLoopDriver driver(plat::MainQueue::shared());
        std::optional<bool> result;
        plat::MainQueue::shared().async([&] { editor_->exportFile(path, [&](bool ok) { result = ok; }); });
        driver.runUntil([&] { return result.has_value(); }, std::chrono::seconds(30));
        return result;
    };
    EXPECT_EQ(exportTo(file), true);
    EXPECT_EQ(readFile(file), "甲\tCode Here!\t0\n乙\tCode Here!\t2\n");
    EXPECT_EQ(exportTo(folder_ / "missing" / "out.txt"), false);

    EXPECT_TRUE(runImport(&CustomPhraseEditor::importFile, file));
    EXPECT_EQ(stored(), (std::vector<std::string>{"Code Here!/甲/0", "Code Here!/乙/2", "Code Here!/甲/0",
                                                  "Code Here!/乙/2"}));
    EXPECT_EQ(editor_->rows().size(), 4u);
}

TEST_F(CustomPhraseEditorTest, ADroppedListImportsAndAnythingElseClosesTheSheetQuietly) {
    const std::string list =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array><dict><key>shortcut</key>"
        "<string>nh</string><key>phrase</key><string>你好</string></dict></array></plist>";
    writeFile(folder_ / "list.plist", list);
    writeFile(folder_ / "text.txt", "你好\tnh\n");
    EXPECT_TRUE(runImport(&CustomPhraseEditor::importShortcutFile, folder_ / "list.plist"));
    EXPECT_EQ(stored(), (std::vector<std::string>{"nh/你好/0"}));
    EXPECT_TRUE(sheet_->dismissed());
    channel_->clear();
    EXPECT_FALSE(runImport(&CustomPhraseEditor::importShortcutFile, folder_ / "text.txt"));
    EXPECT_TRUE(sheet_->dismissed());
    EXPECT_EQ(sheet_->text(), "");
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(stored(), (std::vector<std::string>{"nh/你好/0"}));
}

// Entries of a dropped list without a shortcut or a phrase would be empty rows in
// custom.db: only the complete ones are stored.
TEST_F(CustomPhraseEditorTest, ADroppedListStoresOnlyCompleteEntries) {
    const auto entry = [](const char* shortcut, const char* phrase) {
        std::string dict = "<dict>";
        if (shortcut) dict += std::string("<key>shortcut</key><string>") + shortcut + "</string>";
        if (phrase) dict += std::string("<key>phrase</key><string>") + phrase + "</string>";
        return dict + "<key>note</key><string>x</string></dict>";
    };
    const std::string list = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>" +
                             entry("nh", "你好") + entry("sj", nullptr) + entry(nullptr, "世界") +
                             entry(nullptr, nullptr) + entry("", "空") + entry("kb", "") + entry("zj", "再见") +
                             "</array></plist>";
    writeFile(folder_ / "list.plist", list);
    EXPECT_TRUE(runImport(&CustomPhraseEditor::importShortcutFile, folder_ / "list.plist"));
    EXPECT_EQ(stored(), (std::vector<std::string>{"nh/你好/0", "zj/再见/0"}));
    EXPECT_EQ(editor_->rows().size(), 2u);
}

TEST_F(CustomPhraseEditorTest, ExportedWeightsAreWholeNumbersInRange) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double weight;
        const char* written;
    } cases[] = {{2.7, "2"},   {-1.5, "-1"}, {std::nan(""), "0"}, {inf, "0"}, {-inf, "0"},
                 {1e300, "9223372036854775807"}, {-1e300, "-9223372036854775808"}};
    for (const auto& c : cases) {
        CodeTable row;
        row.table = "字";
        row.code = "z";
        row.weight = c.weight;
        EXPECT_EQ(CustomPhraseEditor::exportText({row}), std::string("字\tz\t") + c.written + "\n") << c.weight;
    }
}

TEST_F(CustomPhraseEditorTest, ShortcutListsAreCheckedBeforeImport) {
    const auto write = [&](const char* name, const std::string& body) {
        std::ofstream(folder_ / name) << body;
        return folder_ / name;
    };
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">";
    const auto good = write("good.plist", head + "<array><dict><key>shortcut</key><string>nh</string><key>phrase</key>"
                                                 "<string>你好</string><key>x</key><string>y</string></dict></array></plist>");
    const auto list = CustomPhraseEditor::readShortcutList(good);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ((*list)[0].code, "nh");
    EXPECT_EQ((*list)[0].table, "你好");
    EXPECT_FALSE(CustomPhraseEditor::readShortcutList(write("dict.plist", head + "<dict/></plist>")));
    EXPECT_FALSE(CustomPhraseEditor::readShortcutList(
        write("number.plist", head + "<array><dict><key>shortcut</key><integer>1</integer></dict></array></plist>")));
    EXPECT_FALSE(CustomPhraseEditor::readShortcutList(folder_ / "absent.plist"));
    const auto big = folder_ / "big.plist";
    std::filesystem::copy_file(good, big);
    std::filesystem::resize_file(big, CustomPhraseEditor::kMaxDropBytes + 1);
    EXPECT_FALSE(CustomPhraseEditor::readShortcutList(big));
}

} // namespace
} // namespace kelvane
