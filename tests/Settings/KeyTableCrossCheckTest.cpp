// Both programs read and write "config.plist": every key the input method's settings
// know must be spelt, typed and defaulted the same in the preferences application.
#include "InputMethod/Core/Settings.h"
#include "Settings/ConfigManager.h"

#include <gtest/gtest.h>

namespace {

TEST(KeyTableCrossCheckTest, SharedKeysAgreeInTypeAndDefault) {
    size_t shared = 0;
    for (const auto& im : taviro::kSettingsOptions) {
        const auto* pref = kelvane::findConfigOption(im.key);
        if (!pref) {
            // Only the input method's own keys may be missing here.
            EXPECT_NE(std::find(std::begin(kelvane::kInputMethodOnlyKeys),
                                std::end(kelvane::kInputMethodOnlyKeys), im.key),
                      std::end(kelvane::kInputMethodOnlyKeys))
                << im.key << " is unknown to the preferences application";
            continue;
        }
        ++shared;
        switch (im.type) {
        case taviro::OptionType::Bool:
            ASSERT_EQ(pref->type, kelvane::ConfigOptionType::Bool) << im.key;
            EXPECT_EQ(pref->boolDefault, im.boolDefault) << im.key;
            break;
        case taviro::OptionType::Int:
            ASSERT_EQ(pref->type, kelvane::ConfigOptionType::Int) << im.key;
            EXPECT_EQ(pref->intDefault, im.intDefault) << im.key;
            break;
        case taviro::OptionType::String:
            ASSERT_EQ(pref->type, kelvane::ConfigOptionType::String) << im.key;
            EXPECT_EQ(pref->stringDefault, im.stringDefault) << im.key;
            break;
        }
    }
    EXPECT_GT(shared, 0u);
}

} // namespace
