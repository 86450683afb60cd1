#include "Platform/Text/TextFileReader.h"

#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

using plat::decodeText;
using plat::readTextFile;
using plat::splitFields;
using plat::splitLines;

std::string bytes(std::initializer_list<unsigned> list) {
    std::string s;
    for (unsigned b : list) s.push_back(static_cast<char>(b));
    return s;
}

struct DecodeCase {
    const char* name;
    std::string input;
    std::optional<std::string> expected;
};

class DecodeTextTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTextTest, Decodes) {
    const auto& c = GetParam();
    EXPECT_EQ(decodeText(c.input), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, DecodeTextTest,
    ::testing::Values(
        DecodeCase{"ascii", "abc\tdef\n", "abc\tdef\n"},
        DecodeCase{"utf8", "你好\tnihao\n", "你好\tnihao\n"},
        DecodeCase{"utf8_bom_dropped", "\xEF\xBB\xBF你好\tni\n", "你好\tni\n"},
        DecodeCase{"utf16le_bom", bytes({0xFF, 0xFE, 0x60, 0x4F, 0x7D, 0x59, 0x09, 0x00, 0x61, 0x00}),
                   "你好\ta"},
        DecodeCase{"utf16be_bom", bytes({0xFE, 0xFF, 0x4F, 0x60, 0x59, 0x7D, 0x00, 0x0A}), "你好\n"},
        DecodeCase{"utf16le_no_bom", bytes({0x60, 0x4F, 0x09, 0x00, 0x61, 0x00, 0x0A, 0x00}),
                   "你\ta\n"},
        DecodeCase{"utf16be_no_bom", bytes({0x4F, 0x60, 0x00, 0x09, 0x00, 0x61, 0x00, 0x0A}),
                   "你\ta\n"},
        DecodeCase{"gb18030",
                   bytes({0xC4, 0xE3, 0xBA, 0xC3, 0x09, 0xCA, 0xC0, 0xBD, 0xE7, 0x0A, 0xD6, 0xD0,
                          0xC8, 0x41, 0x0A}),
                   "你好\t世界\n中華\n"},
        DecodeCase{"big5",
                   bytes({0xA4, 0xA4, 0xB5, 0xD8, 0xA4, 0x48, 0xA5, 0xC1, 0x09, 0xBE, 0xC7, 0xB2,
                          0xDF, 0x0A}),
                   "中華人民\t學習\n"},
        // A short GBK table that the detector alone takes for UTF-8.
        DecodeCase{"gb18030_read_as_utf8_by_the_detector",
                   bytes({0xC8, 0xBB, 0x09, 0x61, 0x30, 0x0A, 0xB8, 0xB4, 0x09, 0x62, 0x31, 0x0A,
                          0xD6, 0xAA, 0x09, 0x63, 0x32, 0x0A, 0xD4, 0xB2, 0x09, 0x64, 0x33, 0x0A,
                          0xBB, 0xD8, 0x09, 0x61, 0x34, 0x0A, 0xBD, 0xF0, 0x09, 0x62, 0x35, 0x0A}),
                   "然\ta0\n复\tb1\n知\tc2\n圆\td3\n回\ta4\n金\tb5\n"},
        DecodeCase{"utf8_cut_inside_a_character", "你好\tnihao\n世界\tshijie\n\xE4\xBD\n", std::nullopt},
        DecodeCase{"invalid_bytes", "abc\x80\xFF" "def\n", std::nullopt},
        DecodeCase{"utf8_with_one_bad_byte", "你好\tnihao\n世界\tshijie\n\xFF\n", std::nullopt},
        DecodeCase{"stray_high_bytes", "ab\xFF\n", std::nullopt},
        // Windows' GBK: the euro sign at 0x80.
        DecodeCase{"gbk_euro", "\x80\t\xC5\xB7\xD4\xAA\n\xC4\xE3\tni\n", "€\t欧元\n你\tni\n"},
        DecodeCase{"binary_with_nul", bytes({0x00, 0x01, 0x02}), std::nullopt},
        DecodeCase{"utf8_bom_then_invalid", "\xEF\xBB\xBF\xFF", std::nullopt},
        DecodeCase{"utf16le_bom_odd_length", bytes({0xFF, 0xFE, 0x61}), std::nullopt},
        DecodeCase{"utf16_lone_surrogate", bytes({0xFF, 0xFE, 0x00, 0xD8, 0x61, 0x00}), std::nullopt},
        DecodeCase{"empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IsValidUtf8Test, RejectsMalformedSequences) {
    const std::pair<std::string, bool> cases[] = {
        {"", true},           {"abc", true},        {"\u00e9\u4f60\U0001F600", true},
        {"\xC0\xAF", false},  // overlong "/"
        {"\xE0\x80\xAF", false}, {"\xED\xA0\x80", false},  // overlong, surrogate
        {"\xF4\x90\x80\x80", false},                       // above U+10FFFF
        {"\xE4\xBD", false},  {"\x80", false},   {"\xFF", false},
    };
    for (const auto& [text, valid] : cases) EXPECT_EQ(plat::isValidUtf8(text), valid) << text;
}

TEST(ReadTextFileTest, MissingFileOrFolderGivesNone) {
    const auto dir = taviro::test::freshDir("read");
    EXPECT_EQ(readTextFile(dir / "absent.txt"), std::nullopt);
    EXPECT_EQ(readTextFile(dir), std::nullopt);
}

TEST(ReadTextFileTest, ReadsWholeFile) {
    const auto dir = taviro::test::freshDir("read");
    const std::string content = "\xEF\xBB\xBF" "词\tci\n" + std::string(100000, 'a') + "\n";
    std::ofstream(dir / "t.txt", std::ios::binary) << content;
    auto text = readTextFile(dir / "t.txt");
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, content.substr(3));
}

// Real tables and word lists in the encodings users save them in (see data/README.md).
struct FixtureCase {
    const char* file;
    plat::TextFileStatus status;
    const char* encoding;
    std::vector<std::string> lines;  // expected when the text is accepted
};

class EncodingFixtureTest : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(EncodingFixtureTest, JudgesTheWholeFile) {
    const auto& c = GetParam();
    const auto f = plat::readTextFile(std::filesystem::path(TAVIRO_TEST_DATA_DIR) / c.file, 1 << 20);
    EXPECT_EQ(f.status, c.status);
    EXPECT_EQ(f.encoding, c.encoding);
    if (c.status != plat::TextFileStatus::Ok) {
        EXPECT_TRUE(f.text.empty());
        return;
    }
    const auto views = splitLines(f.text);
    EXPECT_EQ(std::vector<std::string>(views.begin(), views.end()), c.lines);
}

const std::vector<std::string> kWubiLines = {"工\ta", "了\tb", "以\tc", "在\td", "有\te", "孔\tbnn",
                                             "巜\tbnn", "耴\tbnn", "\uE81D\tbnn", "孞\tbnu", "\U00021CFE\tbnv"};

INSTANTIATE_TEST_SUITE_P(
    RealTables, EncodingFixtureTest,
    ::testing::Values(
        // A private-use character (and a four-byte one) no longer sinks the table.
        FixtureCase{"wubi86-gb18030.txt", plat::TextFileStatus::Ok, "GB18030", kWubiLines},
        FixtureCase{"wubi86-utf16le-nobom.txt", plat::TextFileStatus::Ok, "UTF-16LE", kWubiLines},
        // One line in the user-defined area; eight short lines read as Big5 too.
        FixtureCase{"gbk-user-defined.txt", plat::TextFileStatus::Ok, "GB18030",
                    {"工\ta", "了\tb", "以\tc", "在\td", "有\te", "地\tf", "一\tg", "上\th", "\uE000\tzzz"}},
        // Big5's bracketed digits decode to private use (code page 950's extension row).
        FixtureCase{"cangjie5-big5.txt", plat::TextFileStatus::Ok, "Big5",
                    {"日\ta", "曰\ta", "昌\taa", "昍\taa", "晶\taaa", "暘\taamh", "晹\taaph", "暍\taapv",
                     "\uF7A0\tyyyhk"}},
        // Japanese and Korean are refused, not imported as GB18030 look-alikes (日本語 as 擔杮岅).
        FixtureCase{"japanese-shift_jis.txt", plat::TextFileStatus::UnsupportedEncoding, "SHIFT_JIS", {}},
        FixtureCase{"japanese-kanji-shift_jis.txt", plat::TextFileStatus::UnsupportedEncoding, "SHIFT_JIS", {}},
        FixtureCase{"korean-euc-kr.txt", plat::TextFileStatus::UnsupportedEncoding, "UHC", {}}),
    [](const auto& info) {
        std::string name = info.param.file;
        for (auto& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST(ReadTextFileTest, RefusesByStatusWithoutReading) {
    const auto dir = taviro::test::freshDir("status");
    std::ofstream(dir / "t.txt", std::ios::binary) << "你\tni\n好\thao\n";  // 15 bytes
    EXPECT_EQ(plat::readTextFile(dir / "t.txt", 15).status, plat::TextFileStatus::Ok);
    EXPECT_EQ(plat::readTextFile(dir / "t.txt", 14).status, plat::TextFileStatus::TooLarge);

    // A sparse gigabyte: refused by its size at once, never read into memory.
    std::ofstream(dir / "huge.txt").close();
    std::filesystem::resize_file(dir / "huge.txt", std::uintmax_t{1} << 30);
    EXPECT_EQ(plat::readTextFile(dir / "huge.txt", 64u << 20).status, plat::TextFileStatus::TooLarge);

    EXPECT_EQ(plat::readTextFile(dir / "absent.txt", 100).status, plat::TextFileStatus::Missing);
    EXPECT_EQ(plat::readTextFile(dir, 100).status, plat::TextFileStatus::Missing);
    std::ofstream(dir / "bin.txt", std::ios::binary) << std::string("\x00\x01\x02", 3);
    EXPECT_EQ(plat::readTextFile(dir / "bin.txt", 100).status, plat::TextFileStatus::Undecodable);
}

struct SplitCase {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
};

class SplitLinesTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitLinesTest, Splits) {
    const auto& c = GetParam();
    auto views = splitLines(c.text);
    std::vector<std::string> got(views.begin(), views.end());
    EXPECT_EQ(got, c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Terminators, SplitLinesTest,
    ::testing::Values(
        SplitCase{"empty", "", {}},
        SplitCase{"one_line_no_terminator", "a", {"a"}},
        SplitCase{"final_terminator_adds_no_line", "a\nb\n", {"a", "b"}},
        SplitCase{"crlf_is_one_terminator", "a\r\nb\r\n", {"a", "b"}},
        SplitCase{"lone_cr", "a\rb", {"a", "b"}},
        SplitCase{"cr_cr_lf", "a\r\r\nb", {"a", "", "b"}},
        SplitCase{"empty_lines_count", "a\n\nb", {"a", "", "b"}},
        SplitCase{"only_terminator", "\n", {""}},
        SplitCase{"unicode_terminators", "a\u2028b\u2029c\u0085d\ve\ff", {"a", "b", "c", "d", "e", "f"}},
        SplitCase{"bom_skipped", "\xEF\xBB\xBF你\tni\n", {"你\tni"}},
        SplitCase{"tabs_and_spaces_kept", " a\t b \n", {" a\t b "}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SplitFieldsTest, KeepsEmptyFields) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(splitFields(""), V{""});
    EXPECT_EQ(splitFields("a\t"), (V{"a", ""}));
    EXPECT_EQ(splitFields("a\tb\tc"), (V{"a", "b", "c"}));
    EXPECT_EQ(splitFields("ni''hao", '\''), (V{"ni", "", "hao"}));
}

} // namespace
