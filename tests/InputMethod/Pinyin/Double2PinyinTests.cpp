#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Double2Pinyin.h"
#include "InputMethod/Core/NotificationNames.h"
#include "InputMethod/Core/PyString.h"
#include "InputMethod/Core/Settings.h"
#include "SyllableCodes.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <atomic>
#include <initializer_list>
#include <thread>

namespace taviro {
namespace {
namespace fs = std::filesystem;
using Codes = std::vector<std::vector<int>>;

const fs::path kXiaohe = fs::path(TAVIRO_TEST_DATA_DIR) / "xiaohe.plist";

using test::code;
using test::codes;

Settings doublePinyin(std::initializer_list<bool Settings::*> options = {}) {
    Settings s;
    s.quanPin = false;
    for (auto option : options) s.*option = true;
    return s;
}

plat::PlistValue section(std::initializer_list<std::pair<const char*, const char*>> entries) {
    plat::PlistValue dict = plat::PlistValue::dictionary();
    for (const auto& [key, value] : entries) dict[key] = value;
    return dict;
}

plat::PlistValue schemeFile(plat::PlistValue special, plat::PlistValue sheng,
                            plat::PlistValue yun) {
    plat::PlistValue root = plat::PlistValue::dictionary();
    root["Version"] = "2.0";
    if (!special.isNull()) root["Special"] = std::move(special);
    if (!sheng.isNull()) root["Sheng"] = std::move(sheng);
    if (!yun.isNull()) root["Yun"] = std::move(yun);
    return root;
}

fs::path writeScheme(const plat::PlistValue& root) {
    fs::path path = taviro::test::freshDir("scheme") / "spScheme.plist";
    EXPECT_TRUE(plat::writePlistFile(path, root));
    return path;
}

TEST(Double2Pinyin, SectionConversion) {
    const struct {
        const char* value;
        std::vector<int> expected;
    } cases[] = {
        {"zh", codes({"zh"})},
        {"iong|ong", {YunMu::iong, YunMu::ong}},
        {"ang", {YunMu::ang}},
        {"uan|van", {YunMu::uan, YunMu::uan}},
        {"ve", {YunMu::ue}},
        {"vn", {YunMu::un}},
        {"ui|v", {YunMu::ui, YunMu::v}},
        {"lv", codes({"lv"})},
        {"yuan|van", {code("yuan"), YunMu::uan}},
        {"", {0}},
        {"xyz", {0}},
        {"|", {0}},
        {"Zh", {0}},
        {" zh", {0}},
        {"a||e|", {YunMu::a, YunMu::e}},
        {"i", {YunMu::i}},
    };
    for (const auto& c : cases) {
        auto table = Double2Pinyin::codesFromSchemeDictionary({{"k", c.value}});
        EXPECT_EQ(table.at("k"), c.expected) << '"' << c.value << '"';
    }
}

TEST(Double2Pinyin, LoadsSchemeFile) {
    Double2Pinyin d2p(kXiaohe);
    auto scheme = d2p.scheme();
    EXPECT_EQ(scheme->sheng.size(), 23u);
    EXPECT_EQ(scheme->yun.size(), 26u);
    EXPECT_EQ(scheme->special.size(), 12u);
    EXPECT_EQ(scheme->sheng.at("v"), codes({"zh"}));
    EXPECT_EQ(scheme->yun.at("r"), (std::vector<int>{YunMu::uan, YunMu::uan}));
    EXPECT_EQ(scheme->yun.at("t"), (std::vector<int>{YunMu::ue, YunMu::ue}));
    EXPECT_EQ(scheme->special.at("ah"), codes({"ang"}));
}

TEST(Double2Pinyin, RejectedFilesChangeNothing) {
    auto full = schemeFile(section({{"aa", "a"}}), section({{"b", "b"}}), section({{"a", "a"}}));
    auto wrongVersion = [&](plat::PlistValue version) {
        auto root = schemeFile(section({}), section({}), section({}));
        root["Version"] = std::move(version);
        return root;
    };
    plat::PlistValue noVersion = full;
    noVersion.erase("Version");
    const plat::PlistValue rejected[] = {wrongVersion(2.0), wrongVersion("2.0 "),
                                         wrongVersion("2"), noVersion,
                                         plat::PlistValue::Array{plat::PlistValue("2.0")}};
    for (const auto& root : rejected) {
        fs::path path = writeScheme(full);
        Double2Pinyin d2p(path);
        ASSERT_EQ(d2p.scheme()->sheng.size(), 1u);
        ASSERT_TRUE(plat::writePlistFile(path, root));
        d2p.loadScheme();
        EXPECT_EQ(d2p.scheme()->sheng.size(), 1u);
        EXPECT_EQ(d2p.scheme()->special.size(), 1u);
        EXPECT_EQ(d2p.scheme()->yun.size(), 1u);
    }
    Double2Pinyin none(taviro::test::freshDir("none") / "spScheme.plist");
    EXPECT_TRUE(none.scheme()->sheng.empty() && none.scheme()->yun.empty() &&
                none.scheme()->special.empty());
}

TEST(Double2Pinyin, MissingOrMistypedSectionKeepsItsTable) {
    auto xiaohe = plat::readPlistFile(kXiaohe);
    ASSERT_TRUE(xiaohe.has_value());
    fs::path path = writeScheme(*xiaohe);
    Double2Pinyin d2p(path);
    const auto before = d2p.scheme();

    // Only "Sheng": the other two tables keep the previous scheme's entries.
    ASSERT_TRUE(plat::writePlistFile(path, schemeFile({}, section({{"q", "zh"}, {"Q", "ch"}}), {})));
    d2p.loadScheme();
    auto after = d2p.scheme();
    EXPECT_EQ(after->sheng.size(), 2u);
    EXPECT_EQ(after->sheng.at("q"), codes({"zh"}));
    EXPECT_EQ(after->sheng.at("Q"), codes({"ch"}));
    EXPECT_EQ(after->yun, before->yun);
    EXPECT_EQ(after->special, before->special);

    // A "Special" holding one number is ignored as a whole; "Yun" still loads.
    auto special = section({{"aa", "e"}});
    special["ab"] = 3;
    ASSERT_TRUE(plat::writePlistFile(path, schemeFile(special, {}, section({{"j", "an"}}))));
    d2p.loadScheme();
    EXPECT_EQ(d2p.scheme()->special, before->special);
    EXPECT_EQ(d2p.scheme()->yun.size(), 1u);
    EXPECT_EQ(d2p.scheme()->sheng, after->sheng);
}

TEST(Double2Pinyin, ReloadsOnNotification) {
    ASSERT_TRUE(plat::Paths::ensurePerUserFolder());
    const fs::path path = plat::Paths::perUserFile("spScheme.plist");
    ASSERT_TRUE(plat::writePlistFile(path, schemeFile({}, section({{"v", "zh"}}), {})));
    Double2Pinyin d2p;
    EXPECT_EQ(d2p.scheme()->sheng.at("v"), codes({"zh"}));
    {
        Double2Pinyin gone; // a destroyed instance is no longer called
    }
    ASSERT_TRUE(plat::writePlistFile(path, schemeFile({}, section({{"v", "sh"}}), {})));
    EXPECT_EQ(d2p.scheme()->sheng.at("v"), codes({"zh"}));
    plat::NotificationCenter::defaultCenter().post(NeedReloadPlan);
    EXPECT_EQ(d2p.scheme()->sheng.at("v"), codes({"sh"}));
    fs::remove(path);
}

TEST(Double2Pinyin, ConversionNeverMixesTwoSchemes) {
    // "vl" is zhuang under one scheme and shuai under the other; zhuai or
    // shuang would mean a conversion read one table of each.
    const auto a = schemeFile({}, section({{"v", "zh"}}), section({{"l", "uang"}}));
    const auto b = schemeFile({}, section({{"v", "sh"}}), section({{"l", "uai"}}));
    const fs::path path = writeScheme(a);
    Double2Pinyin d2p(path);
    const Settings settings = doublePinyin();
    const Codes zhuang{codes({"zhuang"})}, shuai{codes({"shuai"})};
    std::atomic<bool> stop{false};
    std::atomic<int> mixed{0};
    std::thread reader([&] {
        while (!stop.load()) {
            auto result = d2p.convertDoublePinyin("vl", settings);
            if (result != zhuang && result != shuai) ++mixed;
        }
    });
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(plat::writePlistFile(path, i % 2 ? a : b));
        d2p.loadScheme();
    }
    stop = true;
    reader.join();
    EXPECT_EQ(mixed.load(), 0);
}

TEST(Double2Pinyin, ConvertsKeyBuffers) {
    Double2Pinyin d2p(kXiaohe);
    const struct {
        const char* keys;
        Settings settings;
        Codes expected;
    } cases[] = {
        {"", doublePinyin(), {}},
        {"vlgo", Settings{}, {}}, // full pinyin on
        {"vl", doublePinyin(), {codes({"zhuang"})}},
        {"uinihc", doublePinyin(), {codes({"shi"}), codes({"ni"}), codes({"hao"})}},
        {"ah", doublePinyin(), {codes({"ang"})}},
        {"nih", doublePinyin(), {codes({"ni"}), codes({"h"})}},
        {"lt", doublePinyin(), {codes({"lue", "lue"})}},
        {"nv", doublePinyin(), {codes({"nv"})}},
        {"zi", doublePinyin({&Settings::z2zh}), {codes({"zi", "zhi"})}},
        {"zj", doublePinyin({&Settings::an2ang}), {codes({"zan", "zang"})}},
        {"lj", doublePinyin({&Settings::l2n, &Settings::an2ang}),
         {codes({"lan", "lang", "nan", "nang"})}},
        {"fqni", doublePinyin(), {{}, {}}},
        {"nifqni", doublePinyin(), {codes({"ni"}), {}, {}}},
        {"nifqn", doublePinyin(), {codes({"ni"}), {}, {}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(d2p.convertDoublePinyin(c.keys, c.settings), c.expected) << c.keys;
}

TEST(Double2Pinyin, SpecialZeroInitialAndFallbacks) {
    // "Special" wins over the two keys; a "Sheng" value of [0] is the zero
    // initial; keys the scheme lacks stand for themselves only as a bare
    // initial (first key) or a zero-initial syllable (second key).
    Double2Pinyin d2p(writeScheme(schemeFile(section({{"bj", "zhong"}, {"x", "xiong"}}),
                                             section({{"b", "b"}, {"o", ""}}),
                                             section({{"j", "an"}}))));
    const struct {
        const char* keys;
        Codes expected;
    } cases[] = {
        {"bj", {codes({"zhong"})}},
        {"oj", {codes({"an"})}},
        {"x", {codes({"xiong"})}},
        {"ba", {codes({"ba"})}},
        {"da", {codes({"da"})}},
        {"bd", {{}}},   // "d" is no final
        {"en", {{}}},   // "e" is no initial
        {"ej", {{}}},
        {"d", {codes({"d"})}},
        {"a", {codes({"a"})}},
        {"1", {{}}},
        {"b\xC3\xA9", {{}}}, // a two-byte key
    };
    for (const auto& c : cases)
        EXPECT_EQ(d2p.convertDoublePinyin(c.keys, doublePinyin()), c.expected) << c.keys;

    Double2Pinyin empty(taviro::test::freshDir("empty") / "spScheme.plist");
    EXPECT_EQ(empty.codesForKeyPair("b", "a", doublePinyin()), codes({"ba"}));
    EXPECT_EQ(empty.codesForKeyPair("b", "d", doublePinyin()), std::vector<int>{});
    EXPECT_EQ(empty.codesForKeyPair("e", "n", doublePinyin()), std::vector<int>{});
    EXPECT_EQ(empty.codesForKeyPair("zh", "a", doublePinyin()), codes({"zha"}));
}

TEST(Double2Pinyin, SingleKeySyllables) {
    Double2Pinyin d2p(kXiaohe);
    const struct {
        const char* keys;
        Codes expected;
    } cases[] = {
        {"", {}},
        {"vn", {codes({"zh"}), codes({"n"})}},
        {"ua", {codes({"sh"}), codes({"a"})}},
        {"1b", {{}, {}}},
        {"e", {codes({"e"})}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(d2p.convertDoublePinyinSyllables(c.keys), c.expected) << c.keys;
}

TEST(Double2Pinyin, SpellingsAndJoinedText) {
    Double2Pinyin d2p(kXiaohe);
    const struct {
        const char* keys;
        Settings settings;
        std::vector<std::string> spellings;
        std::string joined;
    } cases[] = {
        {"", doublePinyin(), {}, ""},
        {"vlgo", doublePinyin(), {"zhuang", "guo"}, "zhuang'guo"},
        {"vlgo", Settings{}, {}, ""},
        {"nih", doublePinyin(), {"ni", "h"}, "ni'h"},
        {"nifq", doublePinyin(), {"ni", ""}, "ni'"},
        {"fqni", doublePinyin(), {"", ""}, "'"},
        {"nifqni", doublePinyin(), {"ni", "", ""}, "nifqni"},
        {"zi", doublePinyin({&Settings::z2zh}), {"zi"}, "zi"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(d2p.doublePinyinSpellings(c.keys, c.settings), c.spellings) << c.keys;
        EXPECT_EQ(d2p.joinedPinyinRange(c.keys, c.settings), c.joined) << c.keys;
    }
}

TEST(Double2Pinyin, FollowsSharedSettings) {
    Double2Pinyin d2p(kXiaohe);
    auto& config = ConfigManager::shared();
    config.update([](Settings& s) { s.quanPin = true; });
    EXPECT_TRUE(d2p.convertDoublePinyin("vl").empty());
    config.update([](Settings& s) { s.quanPin = false; });
    EXPECT_EQ(d2p.joinedPinyinRange("vlgo"), "zhuang'guo");
    config.update([](Settings& s) { s.quanPin = true; });
}

} // namespace
} // namespace taviro
