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

// The default strategy: double pinyin with SunPinyin sentences and assist
// codes. Prefixes of the buffer are looked up in parallel and merged
// first-word-wins, longest prefix first, custom phrases at their positions.
class SunpyInputStrategy : public InputDeletage {
public:
    // What every task of one query reads, captured when the query starts.
    struct Query {
        std::string inputBuffer;
        std::shared_ptr<const Settings> settings;
        std::vector<CodeTable> previous;  // the list shown before this key
        std::shared_ptr<const StrategyEnvironment> env;
        std::shared_ptr<Double2Pinyin> d2f;
        std::shared_ptr<const plat::SunpinyinWrapper> wrapper;
        std::shared_ptr<const BundleTables::Py2hz> py2hz;
        // The user-dictionary rows of the whole buffer, asked once per query
        // however many prefix lookups need them.
        std::shared_ptr<SharedQueryValue<std::vector<CodeTable>>> userRows =
            std::make_shared<SharedQueryValue<std::vector<CodeTable>>>();
        std::shared_ptr<const BundleTables::Frequencies> frequencies;
        // The code-table rows of the whole buffer, read once per query.
        std::shared_ptr<PinyinQuerySteps::MainTableRows> mainRows = std::make_shared<PinyinQuerySteps::MainTableRows>();
        std::shared_ptr<PinyinQuerySteps::Sentence> sentence = std::make_shared<PinyinQuerySteps::Sentence>();
    };
    using QueryPtr = std::shared_ptr<const Query>;
    using CancelPtr = std::shared_ptr<const QueryCancel>;

    explicit SunpyInputStrategy(StrategyEnvironment environment = {});

    // The strategy's list for the buffer; the previous non-empty list when
    // nothing arrives in time.
    std::vector<CodeTable> candidates(const std::string& buffer);
    // The last non-empty list returned.
    std::vector<CodeTable> candidateCache() const;
    void compositionEnded() override;

    // The list of one buffer (the whole input or a prefix of it); empty for a
    // limit below 1. A caller that is itself a worker may let the phrase
    // source run on its own thread (`onWorker`); that source still counts
    // only when it is done by the deadline.
    static std::vector<CodeTable> lookup(const QueryPtr& q, const std::string& buffer, int limit,
                                         const CancelPtr& parent, bool onWorker = false);
    // Candidates of the pinyin part that carry a character of the assist code.
    static std::vector<CodeTable> filterBySideCode(const QueryPtr& q, const CancelPtr& parent);
    // The SunPinyin sentence of the keys.
    static std::optional<CodeTable> sentenceCandidates(const Query& q, const std::string& buffer);

protected:
    std::vector<CodeTable> strategyCandidates(const std::string& buffer, bool fourCodeProbe) override;

private:
    void applyFuzzyOptions();
    static std::vector<CodeTable> phraseLookup(const QueryPtr& q, const std::string& buffer, int limit,
                                               const CancelPtr& cancel,
                                               std::chrono::steady_clock::time_point deadline);
    static std::vector<CodeTable> fullSpellLookup(const Query& q, const std::string& buffer,
                                                  const QueryCancel& cancel);

    mutable std::mutex cacheMutex_;
    std::vector<CodeTable> candidateCache_;
};

} // namespace taviro
