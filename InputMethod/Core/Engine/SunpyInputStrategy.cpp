#include "InputMethod/Core/Engine/SunpyInputStrategy.h"

#include <algorithm>

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Double2Pinyin.h"
#include "InputMethod/Core/Engine/EngineText.h"
#include "InputMethod/Core/Engine/FourCodeInputStrategy.h"
#include "InputMethod/Core/Engine/PinyinQuerySteps.h"
#include "InputMethod/Core/FuzzyPinyin.h"
#include "InputMethod/Core/PyString.h"
#include "InputMethod/Core/Settings.h"
#include "Platform/Dispatch/ConcurrentQueue.h"
#include "Platform/Dispatch/SealedResults.h"
#include "Platform/Dispatch/TaskGroup.h"
#include "Platform/SunPinyin/SunpinyinWrapper.h"

namespace taviro {

namespace {

constexpr const char* kNoMainTable = "不使用主码表";
constexpr const char* kNoAssist = "不使用辅码";
constexpr std::size_t kTextReplacementKey = 11;
constexpr std::size_t kLongInputKey = 10;
constexpr std::size_t kCustomSlot = 12;

using Records = std::vector<CodeTable>;
using Steps = PinyinQuerySteps;

Records characters(const BundleTables::Py2hz& table, const std::string& key, std::size_t cap = 0) {
    auto it = table.find(key);
    return it == table.end() ? Records{} : characterRecords(it->second, cap);
}

// The syllable of the first two keys with its fuzzy variants, as texts.
std::vector<std::vector<std::string>> firstSyllableGroups(const SunpyInputStrategy::Query& q,
                                                          const std::string& keys, bool fuzzy) {
    auto codes = q.d2f->convertDoublePinyin(keys, *q.settings);
    if (fuzzy) codes = expandFuzzySyllableCodes(codes, *q.settings);
    return PyString::syllableTextsForCodes(codes);
}

} // namespace

SunpyInputStrategy::SunpyInputStrategy(StrategyEnvironment environment) : InputDeletage(std::move(environment)) {
    applyFuzzyOptions();
}

void SunpyInputStrategy::applyFuzzyOptions() { startSunpinyinSetUp(false); }

std::vector<CodeTable> SunpyInputStrategy::candidateCache() const {
    std::lock_guard lk(cacheMutex_);
    return candidateCache_;
}

void SunpyInputStrategy::compositionEnded() {
    std::lock_guard lk(cacheMutex_);
    candidateCache_.clear();
}

std::vector<CodeTable> SunpyInputStrategy::strategyCandidates(const std::string& buffer, bool) {
    return candidates(buffer);
}

std::vector<CodeTable> SunpyInputStrategy::candidates(const std::string& buffer) {
    if (containsUpperAscii(buffer)) return {};

    auto query = std::make_shared<Query>();
    query->inputBuffer = buffer;
    query->env = environmentPtr();
    query->settings = query->env->settings();
    query->previous = candidateCache();
    query->d2f = d2f();
    query->wrapper = sunpinyinWrapper();
    query->py2hz = py2hzDic();
    query->frequencies = BundleTables::pinyinFrequencies(query->env->database->locations().resourceDir);
    const QueryPtr q = query;
    const Settings& s = *q->settings;
    const std::size_t n = characterCount(buffer);
    const auto cancel = std::make_shared<QueryCancel>();

    plat::SealedResults<Records> table(kCustomSlot + 1);
    if (n == 1) {
        table.offer(0, lookup(q, buffer, s.codeTableName == kNoMainTable ? 1 : 20, cancel));
        std::lock_guard lk(cacheMutex_);
        candidateCache_.clear();
    }

    plat::TaskGroup group;
    plat::ConcurrentQueue queue("subBufferQueue");
    // The whole buffer has a task of its own. The text replacements, the
    // custom phrases, the first syllable's characters and the shorter
    // prefixes (two, four or six keys; longest first) share another: the
    // prefixes' phrase reads queue on the same store anyway, and rows read by
    // the first lookup are taken at once by the others.
    if (n > 7)
        queue.async(group, [q, table, cancel] { table.offer(kLongInputKey, lookup(q, q->inputBuffer, 2, cancel, true)); });
    else if (n > 1)
        queue.async(group, [q, table, cancel, n] {
            table.offer(n, lookup(q, q->inputBuffer, n % 2 == 0 ? 30 : 1, cancel, true));
        });
    queue.async(group, [q, table, cancel, n, custom = Steps::customPhraseTask(q->env, q->inputBuffer, table,
                                                                                kCustomSlot, cancel)] {
        if (sourceMayRun(*q->env, "textReplacement", *cancel))
            table.offer(kTextReplacementKey, q->env->database->textReplacementPhrases(q->inputBuffer));
        custom();
        if (n > 1 && sourceMayRun(*q->env, "firstSyllable", *cancel)) {
            const auto groups = firstSyllableGroups(*q, characterPrefix(q->inputBuffer, 2), true);
            if (groups.size() == 1 && !groups[0].empty()) {
                Records list;
                for (const auto& syllable : groups[0]) Steps::append(list, characters(*q->py2hz, syllable));
                if (!list.empty()) table.offer(0, std::move(list));
            }
        }
        for (std::size_t length = std::min<std::size_t>((n - 1) / 2 * 2, 6); n > 2 && length >= 2; length -= 2)
            table.offer(length, lookup(q, characterPrefix(q->inputBuffer, length), 5, cancel, true));
    });
    // The whole buffer's sentence, needed when no phrase matches it, is
    // worked out here while the lookups run.
    if (n >= 3) q->sentence->fill([&] { return sentenceCandidates(*q, q->inputBuffer); });

    if (!group.waitUntil(plat::TaskGroup::Clock::now() + q->env->deadlines.query)) cancel->cancel();
    auto got = table.seal();
    Records result = Steps::mergeKeyed(got, kTextReplacementKey, kCustomSlot);

    std::lock_guard lk(cacheMutex_);
    if (result.empty()) return candidateCache_;
    candidateCache_ = result;
    return result;
}

std::vector<CodeTable> SunpyInputStrategy::lookup(const QueryPtr& q, const std::string& buffer, int limit,
                                                  const CancelPtr& parent, bool onWorker) {
    if (limit < 1) return {};
    const auto deadline = plat::TaskGroup::Clock::now() + q->env->deadlines.lookup;
    const Settings& s = *q->settings;
    const bool whole = buffer == q->inputBuffer;
    const std::size_t keys = characterCount(buffer);

    Records result;
    if (keys == 1 && s.codeTableName == kNoMainTable)
        result = characters(*q->py2hz, q->d2f->joinedPinyinRange(buffer, s));

    enum Slot : std::size_t { kSide, kUser, kMain, kPhrase, kSuperSP, kFullSpell, kSlots };
    plat::SealedResults<Records> slots(kSlots);
    const auto cancel = QueryCancel::child(parent);
    plat::TaskGroup group;
    plat::ConcurrentQueue queue("buttonQueue");
    const CancelPtr taskCancel = cancel;

    // Sources whose settings or buffer leave them out are not started at all.
    if (whole && keys >= (s.codeTableVersion == -1 ? 3u : 5u) && s.assistPlanName != kNoAssist)
        queue.async(group, [q, slots, taskCancel] { slots.offer(kSide, filterBySideCode(q, taskCancel)); });
    // Rows another lookup of the query has read already are taken at once.
    Steps::offerSharedRows(q, limit, false, slots, kUser, kMain, group, taskCancel);
    auto phraseSource = [q, slots, taskCancel, buffer, limit, deadline] {
        auto list = phraseLookup(q, buffer, limit, taskCancel, deadline);
        if (plat::TaskGroup::Clock::now() <= deadline) slots.offer(kPhrase, std::move(list));
    };
    if (s.superSP && whole)
        queue.async(group, [q, slots, taskCancel, buffer] {
            if (!sourceMayRun(*q->env, "superSP", *taskCancel)) return;
            slots.offer(kSuperSP, q->env->database->superSPWords(buffer, {}));
        });
    if (whole && s.zFullSpell && !buffer.empty() && buffer[0] == 'z')
        queue.async(group, [q, slots, taskCancel, buffer] {
            slots.offer(kFullSpell, fullSpellLookup(*q, buffer, *taskCancel));
        });

    if (keys >= 2) {
        if (onWorker)
            phraseSource();
        else
            queue.async(group, phraseSource);
    }

    if (!group.waitUntil(deadline)) cancel->cancel();
    auto got = slots.seal();
    auto take = [&](Slot slot) { return got[slot] ? std::move(*got[slot]) : Records{}; };
    if (got[kSide]) result = take(kSide);
    Records user = take(kUser), main = take(kMain), phrases = take(kPhrase), superSP = take(kSuperSP),
            fullSpell = take(kFullSpell);

    if (whole) loadAssistCache(phrases, q->inputBuffer, s, *q->env->database, cancel.get());

    std::optional<CodeTable> held;
    if (s.codeTableName == kNoMainTable && keys == 4 && !phrases.empty() && s.wordFirst &&
        s.assistPlanName != kNoAssist && characterCount(phrases.front().table) == 2) {
        held = phrases.front();
        phrases.erase(phrases.begin());
    }
    Steps::appendUserAndMain(result, std::move(user), std::move(main), s);
    if (!phrases.empty()) {
        fullSpell.insert(fullSpell.begin(), phrases.front());
        phrases.erase(phrases.begin());
    }
    Steps::append(result, fullSpell);
    Steps::append(result, phrases);
    if (held) result.insert(result.begin(), *held);
    insertAtOrAppend(result, result.empty() ? 0 : 1, superSP);
    return result;
}

std::vector<CodeTable> SunpyInputStrategy::phraseLookup(const QueryPtr& qp, const std::string& buffer, int limit,
                                                        const CancelPtr& cancel,
                                                        std::chrono::steady_clock::time_point deadline) {
    const Query& q = *qp;
    const std::size_t keys = characterCount(buffer);
    if (keys < 2) return {};
    Database& store = *q.env->database;
    const bool whole = buffer == q.inputBuffer;
    if (!whole) {
        if (!sourceMayRun(*q.env, "phrase", *cancel)) return {};
        return Steps::capped(store.phraseWordsByPinyinColumns(buffer, limit, {}), limit);
    }
    if (keys == 2) {
        Records list;
        const auto groups = firstSyllableGroups(q, buffer, true);
        if (groups.size() != 1) return list;
        for (const auto& syllable : groups[0]) Steps::append(list, characters(*q.py2hz, syllable, 20));
        if (list.empty()) list = characters(*q.py2hz, characterPrefix(buffer, 1), 20);
        return list;
    }
    if (!sourceMayRun(*q.env, "phrase", *cancel)) return {};
    std::function<Records()> prediction;
    if (keys <= 12)
        prediction = [qp, cancel, buffer] {
            if (cancel->isCancelled()) return Records{};
            return qp->env->database->userTableLikeAndPhrase(buffer, {});
        };
    return Steps::phrasesThenSentence(
        [&] { return Steps::capped(store.phraseWordsByPinyinColumns(buffer, limit, {}), limit); },
        *qp->sentence, [qp, buffer] { return sentenceCandidates(*qp, buffer); }, std::move(prediction), deadline);
}

std::vector<CodeTable> SunpyInputStrategy::fullSpellLookup(const Query& q, const std::string& buffer,
                                                           const QueryCancel& cancel) {
    const std::string& input = q.inputBuffer;
    if (input.empty() || input[0] != 'z' || characterCount(input) < 2 || !q.settings->zFullSpell) return {};
    const auto syllables = FourCodeInputStrategy::buildSentence(dropCharacters(input, 1), q.frequencies.get());
    // Without a split there is nothing to look up (the keys are full pinyin,
    // not double pinyin).
    if (syllables.empty() || !sourceMayRun(*q.env, "fullSpell", cancel)) return {};
    SyllableAlternatives lists;
    for (const auto& s : syllables) lists.push_back({s});
    Records list = q.env->database->phraseWordsByPinyinColumns(buffer, 100, lists);
    if (syllables.size() == 1) Steps::append(list, characters(*q.py2hz, syllables[0]));
    return list;
}

std::optional<CodeTable> SunpyInputStrategy::sentenceCandidates(const Query& q, const std::string& buffer) {
    if (q.settings->disableDatabase || !q.wrapper) return std::nullopt;
    if (buffer.find("''") != std::string::npos || buffer.find('.') != std::string::npos) return std::nullopt;
    const std::string pinyin = q.d2f->joinedPinyinRange(buffer, *q.settings);
    // Keys the scheme could not convert are not pinyin: no sentence for them.
    if (pinyin.empty() || pinyin == buffer) return std::nullopt;
    std::string sentence = q.wrapper->candidateWithBuffer(pinyin);
    if (sentence.empty()) return std::nullopt;
    return CodeTable("", std::move(sentence));
}

} // namespace taviro
