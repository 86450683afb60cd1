#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "InputMethod/Core/Engine/InputDeletage.h"

namespace taviro {

// The shape-code strategy: custom phrases, user dictionary, main code table,
// full pinyin after a leading "z" and text replacements, asked in parallel
// and merged first-word-wins after at most the shape deadline (1.0 s).
class FourCodeInputStrategy : public InputDeletage {
public:
    explicit FourCodeInputStrategy(StrategyEnvironment environment = {});

    // The custom phrases of the latest buffer.
    std::vector<CodeTable> customCodeTable() const;

    // The most probable split of pinyin letters into syllables by the bundle's
    // syllable frequencies ("pyfreq.plist"); empty when no syllable starts the
    // text or there is no table.
    static std::vector<std::string> buildSentence(const std::string& text);
    static std::vector<std::string> buildSentence(const std::string& text,
                                                  const BundleTables::Frequencies* frequencies);
    // The bundle's table, null when missing.
    static std::shared_ptr<const BundleTables::Frequencies> pinyinFrequencies();

protected:
    // The strategy's own list for a buffer (the dispatcher adds English words).
    std::vector<CodeTable> strategyCandidates(const std::string& buffer, bool fourCodeProbe) override;

private:
    mutable std::mutex customMutex_;
    std::vector<CodeTable> customCodeTable_;
};

} // namespace taviro
