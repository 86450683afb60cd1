#include "InputMethod/Core/Engine/PinyinQuerySteps.h"

#include <unordered_set>

#include "InputMethod/Core/Database/Database.h"

namespace taviro {

namespace {
constexpr const char* kNoMainTable = "不使用主码表";
}

std::optional<PinyinQuerySteps::Records> PinyinQuerySteps::MainTableRows::rows(
    const StrategyEnvironment& env, const Settings& settings, const std::string& buffer, int limit,
    const QueryCancel& cancel) {
    if (settings.codeTableName == kNoMainTable) return Records{};
    Database& store = *env.database;
    std::call_once(exactOnce_, [&] {
        exact_ = store.codeTablePrefixQuery(buffer, false);
        exactRead_.store(true, std::memory_order_release);
    });
    const bool wantsPrefix = settings.revealCode || (exact_.empty() && settings.emptySlide);
    if (wantsPrefix) {
        if (cancel.isCancelled()) return std::nullopt;
        std::call_once(prefixOnce_, [&] {
            prefix_ = store.codeTablePrefixQuery(buffer, true);
            prefixRead_.store(true, std::memory_order_release);
        });
    }
    return share(settings, limit);
}

std::optional<PinyinQuerySteps::Records> PinyinQuerySteps::MainTableRows::rowsIfRead(const Settings& settings,
                                                                                     int limit) const {
    if (settings.codeTableName == kNoMainTable) return Records{};
    if (!exactRead_.load(std::memory_order_acquire)) return std::nullopt;
    const bool wantsPrefix = settings.revealCode || (exact_.empty() && settings.emptySlide);
    if (wantsPrefix && !prefixRead_.load(std::memory_order_acquire)) return std::nullopt;
    return share(settings, limit);
}

// One lookup's share of the rows read.
PinyinQuerySteps::Records PinyinQuerySteps::MainTableRows::share(const Settings& settings, int limit) const {
    Records list = exact_;
    if (settings.revealCode)
        append(list, capped(prefix_, limit));
    else if (list.empty() && settings.emptySlide)
        list = capped(prefix_, 1);
    return list;
}

PinyinQuerySteps::Records PinyinQuerySteps::userDictionaryRows(const StrategyEnvironment& env,
                                                               const std::string& buffer) {
    return env.database->userDictionaryByPy(buffer, 100);
}

PinyinQuerySteps::Records PinyinQuerySteps::userRowsAs(Records rows, bool markMainTable) {
    if (markMainTable)
        for (auto& r : rows) r.from |= CodeTableFromType::mainCodeTable;
    return rows;
}

PinyinQuerySteps::Records PinyinQuerySteps::capped(Records list, int limit) {
    if (limit >= 0 && list.size() > static_cast<std::size_t>(limit)) list.resize(static_cast<std::size_t>(limit));
    return list;
}

void PinyinQuerySteps::append(Records& to, const Records& from) { to.insert(to.end(), from.begin(), from.end()); }

void PinyinQuerySteps::appendUserAndMain(Records& to, Records user, Records main, const Settings& settings) {
    if (settings.codetableInUserDict) std::swap(user, main);
    append(to, main);
    append(to, user);
}

std::function<void()> PinyinQuerySteps::customPhraseTask(std::shared_ptr<const StrategyEnvironment> env,
                                                         std::string buffer, plat::SealedResults<Records> table,
                                                         std::size_t slot,
                                                         std::shared_ptr<const QueryCancel> cancel) {
    return [env = std::move(env), buffer = std::move(buffer), table, slot, cancel = std::move(cancel)] {
        if (!InputDeletage::sourceMayRun(*env, "customPhrase", *cancel)) return;
        table.offer(slot, env->database->customPhrases(buffer));
    };
}

PinyinQuerySteps::Records PinyinQuerySteps::mergeKeyed(std::vector<std::optional<Records>>& got,
                                                       std::size_t topKey, std::size_t customSlot) {
    const Records custom = got[customSlot] ? std::move(*got[customSlot]) : Records{};
    std::unordered_set<std::string> seen;
    for (const auto& c : custom) seen.insert(c.table);
    Records result;
    for (std::size_t key = topKey + 1; key-- > 0;) {
        if (key == customSlot || !got[key]) continue;
        for (auto& r : *got[key])
            if (seen.insert(r.table).second) result.push_back(std::move(r));
    }
    placeCustomPhrases(result, custom);
    return result;
}

bool PinyinQuerySteps::Sentence::claim() {
    std::lock_guard lk(m_);
    if (claimed_) return false;
    claimed_ = true;
    return true;
}

void PinyinQuerySteps::Sentence::publish(std::optional<CodeTable> value) {
    std::lock_guard lk(m_);
    value_ = std::move(value);
    filled_ = true;
    ready_.notify_all();
}

void PinyinQuerySteps::Sentence::fill(const Compute& compute) {
    if (claim()) publish(compute());
}

std::optional<CodeTable> PinyinQuerySteps::Sentence::get(const Compute& compute,
                                                         std::chrono::steady_clock::time_point deadline) {
    if (claim()) {
        auto value = compute();
        publish(value);
        return std::chrono::steady_clock::now() <= deadline ? value : std::nullopt;
    }
    std::unique_lock lk(m_);
    if (!ready_.wait_until(lk, deadline, [&] { return filled_; })) return std::nullopt;
    return value_;
}

PinyinQuerySteps::Records PinyinQuerySteps::phrasesThenSentence(const std::function<Records()>& phrases,
                                                                Sentence& sentence,
                                                                const Sentence::Compute& computeSentence,
                                                                std::function<Records()> prediction,
                                                                std::chrono::steady_clock::time_point deadline) {
    plat::SealedResults<Records> predicted(1);
    plat::TaskGroup side;
    if (prediction)
        side.async([predicted, prediction = std::move(prediction)] { predicted.offer(0, prediction()); });
    Records list = phrases();
    if (list.empty())
        if (auto s = sentence.get(computeSentence, deadline)) list.push_back(std::move(*s));
    side.waitUntil(deadline);
    if (auto got = std::move(predicted.seal()[0])) insertAtOrAppend(list, list.size() >= 2 ? 2 : list.size(), *got);
    return list;
}

} // namespace taviro
