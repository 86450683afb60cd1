// Both programs read and write "config.plist": each settings store's option table is
// the shared key table's rows for that program, spelt, typed and defaulted alike.
#include "InputMethod/Core/Settings.h"
#include "Settings/ConfigManager.h"
#include "SharedLib/contract/ConfigPlistKeys.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using contract::ConfigKeyOwner;
using contract::ConfigKeyType;

template <class Option>
void expectSameRow(const contract::ConfigKey& row, const Option& option) {
    switch (row.type) {
    case ConfigKeyType::Bool: EXPECT_EQ(option.boolDefault, row.boolDefault) << row.key; break;
    case ConfigKeyType::Int: EXPECT_EQ(option.intDefault, row.intDefault) << row.key; break;
    case ConfigKeyType::String: EXPECT_EQ(option.stringDefault, row.stringDefault) << row.key; break;
    }
    EXPECT_EQ(static_cast<int>(option.type), static_cast<int>(row.type)) << row.key;
}

TEST(KeyTableCrossCheckTest, EachStoreHoldsExactlyItsRowsOfTheSharedTable) {
    std::size_t im = 0, prefs = 0;
    for (const auto& row : contract::kConfigPlistKeys) {
        const auto* imOption = taviro::findOption(row.key);
        const auto* prefOption = kelvane::findConfigOption(row.key);
        EXPECT_EQ(imOption != nullptr, row.owner != ConfigKeyOwner::PreferencesOnly) << row.key;
        EXPECT_EQ(prefOption != nullptr, row.owner != ConfigKeyOwner::InputMethodOnly) << row.key;
        if (imOption) expectSameRow(row, *imOption), ++im;
        if (prefOption) expectSameRow(row, *prefOption), ++prefs;
    }
    EXPECT_EQ(im, std::size(taviro::kSettingsOptions));
    EXPECT_EQ(prefs, std::size(kelvane::kConfigOptions));
    EXPECT_EQ(im, 83u);
    EXPECT_EQ(prefs, 93u);

    std::set<std::string_view> imOnly(std::begin(kelvane::kInputMethodOnlyKeys),
                                      std::end(kelvane::kInputMethodOnlyKeys));
    EXPECT_EQ(imOnly, (std::set<std::string_view>{"ExpDicVersion", "EnglishDBVersion"}));
}

TEST(KeyTableCrossCheckTest, KeysAreUniqueAndRangesNameIntKeys) {
    std::set<std::string_view> seen;
    for (const auto& row : contract::kConfigPlistKeys) EXPECT_TRUE(seen.insert(row.key).second) << row.key;
    for (const auto& range : contract::kConfigIntRanges) {
        const auto* row = contract::findConfigKey(range.key);
        ASSERT_NE(row, nullptr) << range.key;
        EXPECT_EQ(row->type, ConfigKeyType::Int) << range.key;
        EXPECT_TRUE(contract::intInRange(range.key, row->intDefault)) << range.key;
    }
}

} // namespace
