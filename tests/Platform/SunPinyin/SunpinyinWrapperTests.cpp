#include "Platform/SunPinyin/SunpinyinWrapper.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using plat::SunpinyinWrapper;
using Setter = void (SunpinyinWrapper::*)(bool);

class SunpinyinWrapperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SunpinyinWrapper::isAvailable())
            GTEST_SKIP() << "SunPinyin model data is not installed";
    }
};

TEST_F(SunpinyinWrapperTest, BestSentence)
{
    struct Case {
        const char* buffer;
        const char* sentence;
    } cases[] = {
        {"nihao", "你好"},
        {"zhongguoren", "中国人"},
        {"xi'an", "西安"},
        {"jintiantianqibucuo", "今天天气不错"},
        {"zhongg", "中国"},            // an unfinished last syllable still counts
        {"'nihao", "你好"},            // apostrophes at the ends separate nothing
        {"ni'hao'", "你好"},
    };
    SunpinyinWrapper wrapper;
    for (const auto& c : cases)
        EXPECT_EQ(wrapper.candidateWithBuffer(c.buffer), c.sentence) << c.buffer;
}

// Typing extends the engine's session key by key; every answer must equal the
// answer for the same buffer computed from scratch, also after backspaces and
// after another wrapper's options were in use.
TEST_F(SunpinyinWrapperTest, KeyByKeyMatchesFromScratch)
{
    const char* sentences[] = {"woaibeijingtiananmen", "jintiantianqibucuo", "xi'anshi", "zhongguorenmin"};
    SunpinyinWrapper typing;
    SunpinyinWrapper fresh;
    SunpinyinWrapper other;
    other.setZ2zh(true);
    other.updateFuzzConfig();
    for (const std::string sentence : sentences) {
        std::vector<std::string> typed;
        for (std::size_t n = 1; n <= sentence.size(); ++n)
            typed.push_back(typing.candidateWithBuffer(sentence.substr(0, n)));
        for (std::size_t n = sentence.size(); n >= 1; --n)  // backspacing
            EXPECT_EQ(typing.candidateWithBuffer(sentence.substr(0, n)), typed[n - 1]) << sentence.substr(0, n);
        for (std::size_t n = 1; n <= sentence.size(); ++n) {
            other.candidateWithBuffer("zongguo");
            fresh.candidateWithBuffer("q");
            EXPECT_EQ(fresh.candidateWithBuffer(sentence.substr(0, n)), typed[n - 1]) << sentence.substr(0, n);
        }
    }
}

TEST_F(SunpinyinWrapperTest, Syllables)
{
    struct Case {
        const char* buffer;
        std::vector<std::string> syllables;
    } cases[] = {
        {"xi'an", {"xi", "an"}},
        {"xian", {"xian"}},
        {"zhongguo", {"zhong", "guo"}},
        {"zhongguoren", {"zhong", "guo", "ren"}},
        {"nihaoa", {"ni", "hao", "a"}},
        // ü after l and n is spelt "ue", as the pinyin model spells it, whether
        // typed "ue" or "ve".
        {"lue", {"lue"}},
        {"nue", {"nue"}},
        {"lve", {"lue"}},
        {"nve", {"nue"}},
        {"celue", {"ce", "lue"}},
        {"nvelve", {"nue", "lue"}},
        {"lv", {"lv"}},
        {"jue", {"jue"}},
    };
    SunpinyinWrapper wrapper;
    for (const auto& c : cases)
        EXPECT_EQ(wrapper.pyStringFrom(c.buffer), c.syllables) << c.buffer;
}

// Buffers the engine is never given: nothing comes back, and nothing crashes.
TEST_F(SunpinyinWrapperTest, RefusedBuffers)
{
    std::string tooLong;
    while (tooLong.size() < 600)
        tooLong += "zhongguo";
    tooLong.resize(600);
    const std::string cases[] = {
        "", "'", "''", "NiHao", "ni hao", "ni1hao", "你好", tooLong,
        std::string(SunpinyinWrapper::kMaxKeys + 1, 'a'), std::string(512, 'a'),
    };
    SunpinyinWrapper wrapper;
    for (const auto& buffer : cases) {
        EXPECT_EQ(wrapper.candidateWithBuffer(buffer), "") << buffer.size() << " keys: " << buffer.substr(0, 12);
        EXPECT_TRUE(wrapper.pyStringFrom(buffer).empty()) << buffer.size() << " keys: " << buffer.substr(0, 12);
    }
    // The engine still answers afterwards.
    EXPECT_EQ(wrapper.candidateWithBuffer("nihao"), "你好");
}

TEST_F(SunpinyinWrapperTest, LongestAcceptedBuffer)
{
    std::string buffer;
    while (buffer.size() < SunpinyinWrapper::kMaxKeys)
        buffer += "zhongguo";
    buffer.resize(SunpinyinWrapper::kMaxKeys);
    SunpinyinWrapper wrapper;
    EXPECT_FALSE(wrapper.candidateWithBuffer(buffer).empty());
    EXPECT_FALSE(wrapper.pyStringFrom(buffer).empty());
}

TEST_F(SunpinyinWrapperTest, EachFuzzyPairChangesItsSentence)
{
    struct Case {
        const char* name;
        Setter setter;
        const char* buffer;
        const char* without;
        const char* with;
    } cases[] = {
        {"An2ang", &SunpinyinWrapper::setAn2ang, "langjing", "狼经", "蓝鲸"},
        {"In2ing", &SunpinyinWrapper::setIn2ing, "xingqing", "性情", "心情"},
        {"En2eng", &SunpinyinWrapper::setEn2eng, "zhenmen", "真门", "正门"},
        {"C2ch", &SunpinyinWrapper::setC2ch, "cifan", "此番", "吃饭"},
        {"Z2zh", &SunpinyinWrapper::setZ2zh, "zongguo", "宗国", "中国"},
        {"S2sh", &SunpinyinWrapper::setS2sh, "sanghai", "桑海", "上海"},
        {"F2h", &SunpinyinWrapper::setF2h, "huzhou", "湖州", "福州"},
        {"R2l", &SunpinyinWrapper::setR2l, "luxue", "路学", "入学"},
        {"L2n", &SunpinyinWrapper::setL2n, "lanhai", "蓝海", "男孩"},
    };
    for (const auto& c : cases) {
        SunpinyinWrapper wrapper;
        (wrapper.*c.setter)(true);
        EXPECT_EQ(wrapper.candidateWithBuffer(c.buffer), c.without) << c.name << ": stored, not yet committed";
        wrapper.updateAutoCorrection();
        EXPECT_EQ(wrapper.candidateWithBuffer(c.buffer), c.without) << c.name << ": the other commit";
        wrapper.updateFuzzConfig();
        EXPECT_EQ(wrapper.candidateWithBuffer(c.buffer), c.with) << c.name;
        (wrapper.*c.setter)(false);
        wrapper.updateFuzzConfig();
        EXPECT_EQ(wrapper.candidateWithBuffer(c.buffer), c.without) << c.name << ": turned off again";
    }
}

TEST_F(SunpinyinWrapperTest, LAndNWinOverRAndL)
{
    SunpinyinWrapper wrapper;
    wrapper.setR2l(true);
    wrapper.setL2n(true);
    wrapper.updateFuzzConfig();
    // "l" reads as "n" ("lvren" 女人), not as "r" ("luxue" stays 路学, 入学 with r-l alone).
    EXPECT_EQ(wrapper.candidateWithBuffer("lvren"), "女人");
    EXPECT_EQ(wrapper.candidateWithBuffer("luxue"), "路学");
}

TEST_F(SunpinyinWrapperTest, EachCorrectionPairChangesItsResult)
{
    struct Case {
        const char* name;
        Setter setter;
        const char* buffer;
        const char* without;
        const char* with;
        std::vector<std::string> syllablesWith;
    } cases[] = {
        {"Mg2ng", &SunpinyinWrapper::setMg2ng, "zhomgguo", "中哦蒙古国", "中国", {"zhong", "guo"}},
        {"Gn2ng", &SunpinyinWrapper::setGn2ng, "zhogn", "中哦功能", "中", {"zhong"}},
        {"Uei2ui", &SunpinyinWrapper::setUei2ui, "guei", "古诶", "贵", {"gui"}},
        {"Uen2un", &SunpinyinWrapper::setUen2un, "tuen", "图恩", "吞", {"tun"}},
        {"Iou2iu", &SunpinyinWrapper::setIou2iu, "liou", "力偶", "六", {"liu"}},
    };
    for (const auto& c : cases) {
        SunpinyinWrapper wrapper;
        (wrapper.*c.setter)(true);
        wrapper.updateFuzzConfig();
        EXPECT_EQ(wrapper.candidateWithBuffer(c.buffer), c.without) << c.name << ": the other commit";
        wrapper.updateAutoCorrection();
        EXPECT_EQ(wrapper.candidateWithBuffer(c.buffer), c.with) << c.name;
        EXPECT_EQ(wrapper.pyStringFrom(c.buffer), c.syllablesWith) << c.name;
    }
}

// The library holds one set of options per process; each wrapper still gets its own.
TEST_F(SunpinyinWrapperTest, WrappersKeepTheirOwnOptions)
{
    SunpinyinWrapper plain;
    SunpinyinWrapper fuzzy;
    fuzzy.setZ2zh(true);
    fuzzy.updateFuzzConfig();
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(plain.candidateWithBuffer("zongguo"), "宗国");
        EXPECT_EQ(fuzzy.candidateWithBuffer("zongguo"), "中国");
    }
}

TEST_F(SunpinyinWrapperTest, FourThreadsGiveTheSingleThreadAnswers)
{
    const std::vector<std::string> buffers = {
        "nihao", "zhongguoren", "xi'an", "zongguo", "jintiantianqibucuo", "lihao", "woaibeijingtiananmen", "liou",
    };
    SunpinyinWrapper shared;
    SunpinyinWrapper fuzzy;
    fuzzy.setZ2zh(true);
    fuzzy.setL2n(true);
    fuzzy.updateFuzzConfig();
    fuzzy.setIou2iu(true);
    fuzzy.updateAutoCorrection();

    struct Expected {
        std::string plainSentence, fuzzySentence;
        std::vector<std::string> syllables;
    };
    std::vector<Expected> expected;
    for (const auto& b : buffers)
        expected.push_back({shared.candidateWithBuffer(b), fuzzy.candidateWithBuffer(b), shared.pyStringFrom(b)});
    ASSERT_NE(expected[3].plainSentence, expected[3].fuzzySentence);

    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 10; ++round) {
                for (std::size_t i = 0; i < buffers.size(); ++i) {
                    const std::size_t k = (i + t) % buffers.size();
                    if (shared.candidateWithBuffer(buffers[k]) != expected[k].plainSentence)
                        ++mismatches[t];
                    if (fuzzy.candidateWithBuffer(buffers[k]) != expected[k].fuzzySentence)
                        ++mismatches[t];
                    if (shared.pyStringFrom(buffers[k]) != expected[k].syllables)
                        ++mismatches[t];
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST_F(SunpinyinWrapperTest, UserDataStaysInThePerUserFolder)
{
    const std::filesystem::path dir = SunpinyinWrapper::userDataDirectory();
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    ASSERT_NE(dataHome, nullptr);
    EXPECT_EQ(dir, std::filesystem::path(dataHome) / "TaviroMac" / "sunpinyin");
    EXPECT_TRUE(std::filesystem::is_directory(dir));
}

} // namespace
