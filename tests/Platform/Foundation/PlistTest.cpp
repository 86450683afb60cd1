#include "Platform/Foundation/Plist.h"

#include "Platform/Foundation/FileUtil.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <cstring>
#include <limits>

namespace plat {

// Readable failure output.
void PrintTo(const PlistValue& v, std::ostream* os) { *os << plistToXml(v); }

namespace {

PlistValue sampleValue() {
    PlistValue root;
    root["布尔"] = true;
    root["假"] = false;
    root["整数"] = 42;
    root["负一"] = -1;
    root["最小"] = PlistValue(static_cast<std::int64_t>(INT64_MIN));
    root["实数"] = 2.5;
    root["负实数"] = -0.125;
    root["文字"] = "横排候选栏 & <tag> \"quoted\"";
    root["空文字"] = "";
    root["<&>\"'"] = "]]> <![CDATA[ &amp;"; // markup in keys and values
    root["空白"] = "  lead and trail  \n";
    root[""] = "empty key";
    root["数据"] = PlistValue::Data{0x00, 0xFF, 0x10, 0x7F};
    root["日期"] = PlistDate{1700000000}; // XML keeps whole seconds
    PlistValue arr;
    arr.append(1);
    arr.append("二");
    arr.append(PlistValue::dictionary());
    arr.append(PlistValue::array());
    root["数组"] = arr;
    root["嵌套"]["内层"]["键"] = "值";
    return root;
}

TEST(PlistValue, RoundTripsEveryKindThroughXmlAndBinary) {
    const PlistValue v = sampleValue();
    const std::string xml = plistToXml(v);
    ASSERT_FALSE(xml.empty());
    EXPECT_NE(xml.find("<integer>-1</integer>"), std::string::npos) << xml;
    const std::string bin = plistToBinary(v);
    ASSERT_EQ(bin.substr(0, 8), "bplist00");

    for (const std::string* bytes : {&xml, &bin}) {
        auto back = parsePlist(*bytes);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, v);
        EXPECT_EQ(back->find("负一")->getInteger(), -1);
        EXPECT_EQ(back->find("最小")->getInteger(), INT64_MIN);
        EXPECT_EQ(back->find("日期")->getDate()->secondsSince1970, 1700000000);
    }
}

TEST(PlistValue, FileRoundTripAndRootCheck) {
    const auto dir = taviro::test::freshDir("plist");
    const auto file = dir / "config.plist";
    ASSERT_TRUE(writePlistFile(file, sampleValue()));
    EXPECT_EQ(readPlistFile(file), sampleValue());
    EXPECT_TRUE(readPlistFile(file, PlistValue::Type::Dictionary).has_value());
    EXPECT_FALSE(readPlistFile(file, PlistValue::Type::Array).has_value());
    EXPECT_FALSE(readPlistFile(dir / "missing.plist").has_value());
    EXPECT_FALSE(readPlistFile(dir).has_value()); // a folder is not a file
}

TEST(PlistValue, StringMapFilesTakeOnlyDictionariesOfStrings) {
    const auto dir = taviro::test::freshDir("stringmap");
    const std::map<std::string, std::string> map = {{"com.example.app", "示例"}, {"", "&<>"}};
    ASSERT_TRUE(writePlistFile(dir / "good.plist", stringMapToPlist(map)));
    EXPECT_EQ(readStringMapFile(dir / "good.plist"), map);

    PlistValue mixed = stringMapToPlist(map);
    mixed["count"] = 3;
    const struct {
        const char* name;
        PlistValue value;
    } rejected[] = {
        {"a value that is not a string", mixed},
        {"an array root", PlistValue::array()},
        {"a string root", "text"},
    };
    for (const auto& c : rejected) {
        ASSERT_TRUE(writePlistFile(dir / "bad.plist", c.value)) << c.name;
        EXPECT_FALSE(readStringMapFile(dir / "bad.plist")) << c.name;
    }
    EXPECT_FALSE(readStringMapFile(dir / "missing.plist"));
    ASSERT_TRUE(writePlistFile(dir / "empty.plist", PlistValue::dictionary()));
    EXPECT_EQ(readStringMapFile(dir / "empty.plist"), (std::map<std::string, std::string>{}));
}

TEST(PlistValue, TypedAccessorsNeverThrow) {
    PlistValue v = sampleValue();
    const PlistValue* s = v.find("文字");
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(s->getBool());
    EXPECT_FALSE(s->getInteger());
    EXPECT_EQ(s->asInteger(7), 7);
    EXPECT_EQ(s->find("x"), nullptr);
    EXPECT_EQ(s->at(0), nullptr);
    EXPECT_EQ(v.find("整数")->getNumber(), 42.0);
    EXPECT_FALSE(v.find("整数")->getReal());
    EXPECT_EQ(v.find("数组")->at(1)->asString(), "二");
    EXPECT_EQ(v.find("数组")->at(9), nullptr);
    EXPECT_EQ(v.find("nope"), nullptr);
    EXPECT_TRUE(v.erase("整数"));
    EXPECT_FALSE(v.erase("整数"));
    EXPECT_NE(v, sampleValue());
}

} // namespace
} // namespace plat

namespace plat {
namespace {

struct GarbageCase {
    const char* label;
    std::string bytes;
};

std::vector<GarbageCase> garbageCases() {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    std::string truncatedBinary = plistToBinary(sampleValue());
    truncatedBinary.resize(truncatedBinary.size() / 2);
    std::string corruptTrailer = plistToBinary(sampleValue());
    for (std::size_t i = corruptTrailer.size() - 26; i < corruptTrailer.size(); ++i)
        corruptTrailer[i] = '\xFF';
    return {
        {"empty", ""},
        {"spaces", "   \n\t"},
        {"plain text", "EnMode = YES;"},
        {"json", "{\"a\": 1}"},
        {"html", "<html><body>hi</body></html>"},
        {"unclosed dict", head + "<dict><key>a</key><string>b</string>"},
        {"key without value", head + "<dict><key>a</key></dict></plist>"},
        {"value without key", head + "<dict><string>b</string></dict></plist>"},
        {"unknown element", head + "<dict><key>a</key><thing>1</thing></dict></plist>"},
        {"mismatched tags", head + "<array><string>x</array></string></plist>"},
        {"binary magic only", "bplist00"},
        {"truncated binary", truncatedBinary},
        {"corrupt binary trailer", corruptTrailer},
        {"nul bytes", std::string("\0\0\0\0<plist>", 11)},
        {"integer that is not a number", head + "<dict><key>a</key><integer>abc</integer></dict></plist>"},
        {"integer out of range", head + "<integer>-9223372036854775809</integer></plist>"},
        {"real that is not a number", head + "<real>1.5x</real></plist>"},
        {"bool with content", head + "<true>no</true></plist>"},
        {"bad base64", head + "<data>!!!!</data></plist>"},
        {"bad date", head + "<date>yesterday</date></plist>"},
        {"unknown entity", head + "<string>&nbsp;</string></plist>"},
        {"text between entries", head + "<array>x<string>a</string></array></plist>"},
        {"two roots", head + "<string>a</string><string>b</string></plist>"},
        {"trailing junk", head + "<string>a</string></plist>junk"},
        {"no plist element", "<?xml version=\"1.0\"?><dict></dict>"},
    };
}

TEST(PlistParse, GarbageGivesNullopt) {
    for (const auto& c : garbageCases()) {
        SCOPED_TRACE(c.label);
        EXPECT_FALSE(parsePlist(c.bytes).has_value());
    }
}

TEST(PlistParse, GarbageFilesGiveNullopt) {
    const auto dir = taviro::test::freshDir("garbage");
    for (const auto& c : garbageCases()) {
        SCOPED_TRACE(c.label);
        const auto file = dir / "config.plist";
        ASSERT_TRUE(writeFileAtomically(file, c.bytes));
        EXPECT_FALSE(readPlistFile(file, PlistValue::Type::Dictionary).has_value());
    }
}

TEST(PlistParse, WrongRootIsRejectedWhenARootTypeIsAsked) {
    const auto dir = taviro::test::freshDir("roots");
    struct Case {
        const char* label;
        PlistValue value;
    } cases[] = {
        {"array", PlistValue(PlistValue::Array{PlistValue("a")})},
        {"string", PlistValue("text")},
        {"integer", PlistValue(3)},
        {"bool", PlistValue(true)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto file = dir / "silence.plist";
        ASSERT_TRUE(writePlistFile(file, c.value));
        EXPECT_EQ(readPlistFile(file), c.value); // readable as what it is
        EXPECT_FALSE(readPlistFile(file, PlistValue::Type::Dictionary).has_value());
    }
}

TEST(PlistParse, DeepNestingDoesNotCrash) {
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 5000; ++i) xml += "<array>";
    for (int i = 0; i < 5000; ++i) xml += "</array>";
    xml += "</plist>";
    (void)parsePlist(xml); // either result is fine; it must return
    SUCCEED();
}

TEST(PlistParse, AcceptsTheUsualXmlShapes) {
    const std::string xml =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n<dict>\n"
        "\t<key>Version</key><string>2.0</string>\n"
        "\t<key>FontSize</key><integer>-3</integer>\n"
        "\t<key>Scale</key><real>1.5</real>\n"
        "\t<key>On</key><true/>\n\t<key>Off</key><false/>\n"
        "\t<key>Empty</key><dict/>\n"
        "\t<!-- a comment -->\n"
        "\t<key>Text</key><string>a&amp;b &lt;&#x4E2D;&#25991;<![CDATA[<raw>]]></string>\n"
        "\t<key>Bytes</key><data>\n\tAP8Q\n\tfw==\n</data>\n"
        "\t<key>When</key><date>2023-11-14T22:13:20Z</date>\n"
        "\t<key>Big</key><integer>0x10</integer>\n"
        "\t<key>Sheng</key><dict><key>zh</key><string>v</string></dict>\n"
        "</dict>\n</plist>\n";
    auto v = parsePlist(xml);
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->find("Version")->asString(), "2.0");
    EXPECT_EQ(v->find("FontSize")->getInteger(), -3);
    EXPECT_EQ(v->find("Scale")->getReal(), 1.5);
    EXPECT_EQ(v->find("On")->getBool(), true);
    EXPECT_EQ(v->find("Off")->getBool(), false);
    EXPECT_EQ(v->find("Empty")->size(), 0u);
    EXPECT_TRUE(v->find("Empty")->isDictionary());
    EXPECT_EQ(v->find("Sheng")->find("zh")->asString(), "v");
    EXPECT_EQ(v->find("Text")->asString(), "a&b <中文<raw>");
    EXPECT_EQ(v->find("Bytes")->getData(), (PlistValue::Data{0x00, 0xFF, 0x10, 0x7F}));
    EXPECT_EQ(v->find("When")->getDate()->secondsSince1970, 1700000000);
    EXPECT_EQ(v->find("Big")->getInteger(), 16);
}

TEST(PlistParse, BinaryKeepsSubsecondDates) {
    PlistValue v;
    v["d"] = PlistDate{1700000000.25};
    auto back = parsePlist(plistToBinary(v));
    ASSERT_TRUE(back.has_value());
    EXPECT_DOUBLE_EQ(back->find("d")->getDate()->secondsSince1970, 1700000000.25);
}

} // namespace
} // namespace plat

namespace plat {
namespace {

// A binary property list from raw object bytes, with one-byte offsets and
// references.
std::string bplist(const std::vector<std::string>& objects, std::uint8_t top = 0) {
    std::string out = "bplist00";
    std::string offsets;
    for (const auto& o : objects) {
        offsets += static_cast<char>(out.size());
        out += o;
    }
    const std::size_t tableAt = out.size();
    out += offsets;
    std::string trailer(32, '\0');
    trailer[6] = 1; // offset size
    trailer[7] = 1; // reference size
    trailer[15] = static_cast<char>(objects.size());
    trailer[23] = static_cast<char>(top);
    trailer[31] = static_cast<char>(tableAt);
    return out + trailer;
}

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s += static_cast<char>(c);
    return s;
}

TEST(PlistParse, HandMadeBinaryLists) {
    const std::string dictAB = bytes({0xD1, 1, 2});
    const std::string keyAB = bytes({0x52, 'a', 'b'});
    const std::string five = bytes({0x10, 5});
    PlistValue expectAB;
    expectAB["ab"] = 5;
    PlistValue expectNulKey;
    expectNulKey[std::string("a\0", 2)] = 5;

    struct Case {
        const char* label;
        std::string bytes;
        std::optional<PlistValue> expected;
    } cases[] = {
        {"dictionary", bplist({dictAB, keyAB, five}), expectAB},
        {"key with a nul byte", bplist({dictAB, bytes({0x52, 'a', 0}), five}), expectNulKey},
        {"utf-16 string", bplist({bytes({0x63, 0x4E, 0x2D, 0xD8, 0x3D, 0xDE, 0x00})}),
         PlistValue("中\xF0\x9F\x98\x80")},
        {"16-byte integer", bplist({bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0xFF, 0xFF})}),
         PlistValue(-1)},
        {"float real", bplist({bytes({0x22, 0x3F, 0xC0, 0, 0})}), PlistValue(1.5)},
        {"array refers to itself", bplist({bytes({0xA1, 0})}), std::nullopt},
        {"two arrays in a loop", bplist({bytes({0xA1, 1}), bytes({0xA1, 0})}), std::nullopt},
        {"reference out of range", bplist({bytes({0xD1, 1, 9}), keyAB}), std::nullopt},
        {"key that is not a string", bplist({bytes({0xD1, 1, 1}), five}), std::nullopt},
        {"uid", bplist({bytes({0x80, 1})}), std::nullopt},
        {"set", bplist({bytes({0xC0})}), std::nullopt},
        {"string longer than the file", bplist({bytes({0x5F, 0x10, 0x7F, 'a'})}), std::nullopt},
        {"array longer than the file", bplist({bytes({0xAF, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                     0xFF, 0xFF, 0})}),
         std::nullopt},
        {"lone surrogate", bplist({bytes({0x61, 0xD8, 0x00})}), std::nullopt},
        {"top object out of range", bplist({five}, 3), std::nullopt},
        {"non-ascii in an ascii string", bplist({bytes({0x51, 0xE4})}), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto got = parsePlist(c.bytes);
        EXPECT_EQ(got.has_value(), c.expected.has_value());
        if (got && c.expected) {
            EXPECT_EQ(*got, *c.expected);
        }
    }
}

// Past 64 KB the writer stores offsets in three bytes; such files are valid.
TEST(PlistParse, BinaryOfMoreThan64KilobytesRoundTrips) {
    PlistValue::Dictionary dict;
    for (int i = 0; i < 6000; ++i)
        dict.emplace("key" + std::to_string(i), PlistValue(PlistValue::Array{PlistValue("word" + std::to_string(i))}));
    const PlistValue value(std::move(dict));
    const std::string bin = plistToBinary(value);
    ASSERT_GT(bin.size(), 65536u);
    ASSERT_EQ(static_cast<unsigned char>(bin[bin.size() - 26]), 3u); // offset size in the trailer
    const auto back = parsePlist(bin);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, value);
}

} // namespace
} // namespace plat

namespace plat {
namespace {

std::string bigEndianDouble(double d) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    std::string out;
    for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>((bits >> shift) & 0xFF);
    return out;
}

// A binary list whose root is one date, seconds since 2001 as stored.
std::string binaryDate(double secondsSince2001) { return bplist({"\x33" + bigEndianDouble(secondsSince2001)}); }

constexpr double kEpoch2001 = 978307200.0;

// Values no writer can carry faithfully are refused whole, with a reason, and
// an existing file stays as it was; the nearest values that fit round-trip.
TEST(PlistWrite, RefusesWhatItCannotWriteFaithfully) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* label;
        PlistValue value;
        bool writable;
    } cases[] = {
        {"NaN date", PlistDate{nan}, false},
        {"infinite date", PlistDate{std::numeric_limits<double>::infinity()}, false},
        {"date after 2069", PlistDate{kEpoch2001 + 2147483648.0}, false},
        {"date before 1901", PlistDate{kEpoch2001 - 2147483649.0}, false},
        {"last second that fits", PlistDate{kEpoch2001 + 2147483647.0}, true},
        {"first second that fits", PlistDate{kEpoch2001 - 2147483648.0}, true},
        {"string with U+0000", PlistValue(std::string("a\0b", 3)), false},
        {"key with U+0000", [] {
             PlistValue d;
             d[std::string("k\0", 2)] = 1;
             return d;
         }(),
         false},
        {"NaN date deep inside", [nan] {
             PlistValue d;
             d["list"].append(PlistValue(PlistDate{nan}));
             return d;
         }(),
         false},
        {"string with U+0001", PlistValue(std::string("a\x01z")), true},
    };
    const auto dir = taviro::test::freshDir("plist-write");
    const auto path = dir / "config.plist";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        PlistValue root;
        root["v"] = c.value;
        ASSERT_TRUE(writePlistFile(path, PlistValue("before")));
        std::string error;
        EXPECT_EQ(writePlistFile(path, root, &error), c.writable) << error;
        EXPECT_EQ(plistToXml(root).empty(), !c.writable);
        EXPECT_EQ(plistToBinary(root).empty(), !c.writable);
        if (!c.writable) {
            EXPECT_NE(error.find("faithfully"), std::string::npos) << error;
            EXPECT_EQ(readPlistFile(path), PlistValue("before"));
        } else {
            EXPECT_EQ(readPlistFile(path), root);
            EXPECT_EQ(parsePlist(plistToBinary(root)), root);
        }
    }
}

// Dates read from binary lists keep their value, including the ones that no
// writer takes; a later write of them is refused, never undefined.
TEST(PlistParse, BinaryDatesAreReadAsStored) {
    const struct {
        const char* label;
        double stored;
        bool writable;
    } cases[] = {
        {"NaN", std::numeric_limits<double>::quiet_NaN(), false},
        {"year 2200", 6.3e9, false},
        {"year 1800", -6.3e9, false},
        {"2023", 7.2e8, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto v = parsePlist(binaryDate(c.stored));
        ASSERT_TRUE(v);
        ASSERT_TRUE(v->isDate());
        const double read = v->getDate()->secondsSince1970 - kEpoch2001;
        if (std::isnan(c.stored)) {
            EXPECT_TRUE(std::isnan(read));
        } else {
            EXPECT_DOUBLE_EQ(read, c.stored);
        }
        EXPECT_EQ(plistToXml(*v).empty(), !c.writable);
    }
}

TEST(PlistParse, XmlWithInvalidUtf8IsRefused) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>k</key>";
    const std::string tail = "</dict></plist>";
    const struct {
        const char* label;
        std::string body;
        bool valid;
    } cases[] = {
        {"valid text", "<string>中文</string>", true},
        {"lone continuation byte", "<string>a\x80z</string>", false},
        {"byte 0xFF", "<string>\xFF</string>", false},
        {"overlong NUL", "<string>\xC0\x80</string>", false},
        {"cut sequence", "<string>\xE4\xB8</string>", false},
        {"encoded surrogate", "<string>\xED\xA0\x80</string>", false},
        {"beyond U+10FFFF", "<string>\xF4\x90\x80\x80</string>", false},
        {"valid second key", "<string>x</string><key>\xC3\xA9</key><string>y</string>", true},
        {"invalid in a key", "<string>x</string><key>\xC3</key><string>y</string>", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(parsePlist(head + c.body + tail).has_value(), c.valid);
    }
}

// A locale whose decimal separator is a comma (as German or French), built
// for the test; the GUI program runs in the user's locale.
class CommaLocale : public ::testing::Test {
protected:
    void SetUp() override {
        const auto dir = taviro::test::freshDir("locales");
        {
            std::ofstream src(dir / "comma.src");
            src << "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\n"
                   "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"\"\ngrouping -1\nEND LC_NUMERIC\n";
        }
        const std::string cmd = "localedef -c -i '" + (dir / "comma.src").string() + "' -f ANSI_X3.4-1968 '" +
                                (dir / "comma").string() + "' >/dev/null 2>&1";
        if (std::system(cmd.c_str()), !std::filesystem::exists(dir / "comma" / "LC_NUMERIC"))
            GTEST_SKIP() << "localedef cannot build a locale here";
        ::setenv("LOCPATH", dir.c_str(), 1);
        if (!std::setlocale(LC_NUMERIC, "comma")) GTEST_SKIP() << "the built locale cannot be set";
        ASSERT_NE(std::strtod("0.5", nullptr), 0.5);  // the locale is in force
    }
    void TearDown() override {
        std::setlocale(LC_NUMERIC, "C");
        ::unsetenv("LOCPATH");
    }
};

TEST_F(CommaLocale, RealsAndDatesReadAndWriteWithADecimalPoint) {
    const std::string xml =
        "<plist version=\"1.0\"><dict>"
        "<key>Scale</key><real>1.5</real>"
        "<key>Tiny</key><real>0.00097782863099999989</real>"
        "<key>When</key><date>2023-11-14T22:13:20.5Z</date>"
        "</dict></plist>";
    auto v = parsePlist(xml);
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->find("Scale")->getReal(), 1.5);
    EXPECT_EQ(v->find("Tiny")->getReal(), 0.00097782863099999989);
    EXPECT_EQ(v->find("When")->getDate()->secondsSince1970, 1700000000.5);
    const PlistValue sample = sampleValue();
    for (const std::string& bytes : {plistToXml(sample), plistToBinary(sample)}) {
        auto back = parsePlist(bytes);
        ASSERT_TRUE(back.has_value()) << bytes;
        EXPECT_EQ(*back, sample);
    }
}

} // namespace
} // namespace plat
