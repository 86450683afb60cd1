#include "InputMethod/TavCandidates/TouchBarCandidateController.h"
#include "Platform/Foundation/Plist.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace taviro {
namespace {

class BundleData : public ::testing::Test {
protected:
    void SetUp() override { setenv("TAVIRO_RESOURCES", TAVIRO_RESOURCE_DIR, 1); }
    void TearDown() override { unsetenv("TAVIRO_RESOURCES"); }
};

TEST_F(BundleData, HintTableListsWordsThatFollow) {
    const auto table = TouchBarCandidateController::readBundleHints();
    ASSERT_GT(table.size(), 5000u);
    for (const auto& key : {"你", "我", "今天", "中国"}) {
        const auto it = table.find(key);
        ASSERT_NE(it, table.end()) << key;
        EXPECT_FALSE(it->second.empty()) << key;
        EXPECT_LE(it->second.size(), 8u) << key;
    }
    const auto& china = table.at("中国");
    EXPECT_NE(std::find(china.begin(), china.end(), "人"), china.end());
}

TEST_F(BundleData, StripWithATouchBarReadsTheBundleTableInTheBackground) {
    plat::RecordingTouchBarHost host;
    TouchBarCandidateController::Environment env;
    env.host = &host;
    TouchBarCandidateController strip(env);  // the read starts here, on a worker
    const auto expected = TouchBarCandidateController::readBundleHints();
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(strip.smartHint(), expected);  // waits for the read
    EXPECT_EQ(&strip.smartHint(), &strip.smartHint());  // kept, not read again
}

TEST_F(BundleData, DescriptionLibrariesExplainCommonCharacters) {
    for (const auto& name : {"VoiceOverLib 2.plist", "VoiceOverLib.plist"}) {
        const auto library = plat::readStringMapFile(std::string(TAVIRO_RESOURCE_DIR) + "/" + name);
        ASSERT_TRUE(library) << name;
        EXPECT_GT(library->size(), 3000u) << name;
        for (const auto& c : {"你", "好", "中", "的"}) {
            const auto it = library->find(c);
            ASSERT_NE(it, library->end()) << name << " " << c;
            // "<word>的<character>": the character and its word are named.
            EXPECT_NE(it->second.find(std::string("的") + c), std::string::npos) << name << " " << it->second;
        }
    }
}

} // namespace
} // namespace taviro
