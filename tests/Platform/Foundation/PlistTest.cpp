#include "Platform/Foundation/Plist.h"

#include "Platform/Foundation/FileUtil.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

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
