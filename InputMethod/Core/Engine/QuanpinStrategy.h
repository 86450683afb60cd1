#pragma once
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "InputMethod/Core/Engine/InputDeletage.h"
#include "InputMethod/Core/Engine/PinyinQuerySteps.h"
#include "InputMethod/Core/Engine/SharedQueryValue.h"

namespace taviro {

// The full-pinyin strategy: SunPinyin splits the buffer into syllables; the
// whole list and its leading prefixes are looked up in parallel and merged
// longest first. Every record's code is the stretch of the buffer it covers,
// as typed, so committing it removes exactly those keys.
class QuanpinStrategy : public InputDeletage {
public:
    struct Query {
        std::string inputBuffer;
        std::vector<std::vector<std::string>> pinyin;  // one entry per syllable
        std::vector<std::string> spans;                 // spans[k-1]: the keys of the first k syllables
        std::shared_ptr<const Settings> settings;
        std::shared_ptr<const StrategyEnvironment> env;
        std::shared_ptr<const plat::SunpinyinWrapper> wrapper;
        std::shared_ptr<const BundleTables::Py2hz> py2hz;
        // The user-dictionary rows of the whole buffer, asked once per query
        // however many prefix lookups need them.
        std::shared_ptr<SharedQueryValue<std::vector<CodeTable>>> userRows =
            std::make_shared<SharedQueryValue<std::vector<CodeTable>>>();
        // The code-table rows of the whole buffer, read once per query.
        std::shared_ptr<PinyinQuerySteps::MainTableRows> mainRows = std::make_shared<PinyinQuerySteps::MainTableRows>();
        std::shared_ptr<PinyinQuerySteps::Sentence> sentence = std::make_shared<PinyinQuerySteps::Sentence>();
    };
    using QueryPtr = std::shared_ptr<const Query>;
    using CancelPtr = std::shared_ptr<const QueryCancel>;

    explicit QuanpinStrategy(StrategyEnvironment environment = {});

    std::vector<CodeTable> candidatesFromBuffer(const std::string& buffer);
    std::vector<std::vector<std::string>> pinyin() const;
    std::vector<CodeTable> candidateCache() const;
    void compositionEnded() override;

    // The keys of the buffer that the first syllables cover, apostrophes
    // after them included; spans[k-1] for k syllables, the last one the whole
    // buffer. Syllables that SunPinyin corrected ("uei" typed for "ui") are
    // matched in their typed form.
    static std::vector<std::string> syllableSpans(const std::string& buffer,
                                                  const std::vector<std::string>& syllables);

    // The list for the first `count` syllables. A caller that is itself a
    // worker may let the phrase source run on its own thread (`onWorker`);
    // that source still counts only when it is done by the deadline.
    static std::vector<CodeTable> lookup(const QueryPtr& q, std::size_t count, int limit, const CancelPtr& parent,
                                         bool onWorker = false);
    static std::optional<CodeTable> sentenceCandidates(const Query& q, const std::string& buffer);

protected:
    std::vector<CodeTable> strategyCandidates(const std::string& buffer, bool fourCodeProbe) override;

private:
    void applyFuzzyOptions();
    static std::vector<CodeTable> assembleCandidates(const QueryPtr& q, std::size_t count, int limit,
                                                     const CancelPtr& cancel,
                                                     std::chrono::steady_clock::time_point deadline);

    mutable std::mutex mutex_;  // guards pinyin_ and candidateCache_
    std::vector<std::vector<std::string>> pinyin_;
    std::vector<CodeTable> candidateCache_;
};

} // namespace taviro
