#include "InputMethod/Core/Engine/QuanpinStrategy.h"

#include <algorithm>

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/EngineText.h"
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

constexpr std::size_t kLongInputKey = 10;
constexpr std::size_t kCustomSlot = 11;

using Records = std::vector<CodeTable>;
using Steps = PinyinQuerySteps;

void markMainTable(Records& list) {
    for (auto& r : list) r.from |= CodeTableFromType::mainCodeTable;
}

// The syllable and its enabled fuzzy variants, as texts.
std::vector<std::string> variantsOf(const std::vector<std::string>& syllable, const Settings& s) {
    const auto groups = PyString::syllableTextsForCodes(
        expandFuzzySyllableCodes(PyString::syllableCodesForTexts({syllable}), s));
    std::vector<std::string> out;
    if (!groups.empty())
        for (const auto& t : groups.front())
            if (!t.empty()) out.push_back(t);
    return out;
}

// The typed spelling of a syllable: corrections SunPinyin applies map back.
std::string corrected(std::string typed) {
    static const std::pair<const char*, const char*> rules[] = {
        {"uei", "ui"}, {"uen", "un"}, {"iou", "iu"}, {"mg", "ng"}, {"gn", "ng"}};
    for (const auto& [from, to] : rules) {
        const auto at = typed.find(from);
        if (at != std::string::npos) typed.replace(at, std::char_traits<char>::length(from), to);
    }
    return typed;
}

std::size_t typedLength(const std::string& buffer, std::size_t at, const std::string& syllable) {
    const std::size_t rest = buffer.size() - at;
    if (buffer.compare(at, syllable.size(), syllable) == 0) return std::min(syllable.size(), rest);
    for (std::size_t len : {syllable.size(), syllable.size() + 1}) {
        if (len > rest) continue;
        if (corrected(buffer.substr(at, len)) == syllable) return len;
    }
    return std::min(syllable.size(), rest);
}

} // namespace

QuanpinStrategy::QuanpinStrategy(StrategyEnvironment environment) : InputDeletage(std::move(environment)) {
    applyFuzzyOptions();
}

void QuanpinStrategy::applyFuzzyOptions() { startSunpinyinSetUp(true); }

std::vector<std::vector<std::string>> QuanpinStrategy::pinyin() const {
    std::lock_guard lk(mutex_);
    return pinyin_;
}

std::vector<CodeTable> QuanpinStrategy::candidateCache() const {
    std::lock_guard lk(mutex_);
    return candidateCache_;
}

void QuanpinStrategy::compositionEnded() {
    std::lock_guard lk(mutex_);
    candidateCache_.clear();
}

std::vector<CodeTable> QuanpinStrategy::strategyCandidates(const std::string& buffer, bool) {
    return candidatesFromBuffer(buffer);
}

std::vector<std::string> QuanpinStrategy::syllableSpans(const std::string& buffer,
                                                       const std::vector<std::string>& syllables) {
    std::vector<std::string> spans;
    std::size_t at = 0;
    for (std::size_t i = 0; i < syllables.size(); ++i) {
        while (at < buffer.size() && buffer[at] == '\'') ++at;
        at += typedLength(buffer, at, syllables[i]);
        while (at < buffer.size() && buffer[at] == '\'') ++at;
        spans.push_back(i + 1 == syllables.size() ? buffer : buffer.substr(0, at));
    }
    return spans;
}

std::vector<CodeTable> QuanpinStrategy::candidatesFromBuffer(const std::string& buffer) {
    if (containsUpperAscii(buffer)) return {};

    auto query = std::make_shared<Query>();
    query->inputBuffer = buffer;
    query->env = environmentPtr();
    query->settings = query->env->settings();
    query->wrapper = sunpinyinWrapper();
    query->py2hz = py2hzDic();
    const std::vector<std::string> syllables = syllablesOf(buffer);
    for (const auto& s : syllables) query->pinyin.push_back({s});
    query->spans = syllableSpans(buffer, syllables);
    {
        std::lock_guard lk(mutex_);
        pinyin_ = query->pinyin;
    }
    const QueryPtr q = query;
    const std::size_t n = q->pinyin.size();
    const auto cancel = std::make_shared<QueryCancel>();

    plat::SealedResults<Records> table(kCustomSlot + 1);
    plat::TaskGroup group;
    plat::ConcurrentQueue queue("subBufferQueue");
    // The whole list has a task of its own. The custom phrases, the first
    // syllable's characters and the shorter prefixes (longest first) share
    // another: the prefixes' phrase reads queue on the same store anyway, and
    // rows read by the first lookup are taken at once by the others.
    if (n > 4)
        queue.async(group, [q, table, cancel, n] { table.offer(kLongInputKey, lookup(q, n, 2, cancel, true)); });
    else if (n > 0)
        queue.async(group, [q, table, cancel, n] { table.offer(n, lookup(q, n, 30, cancel, true)); });
    queue.async(group, [q, table, cancel, n, custom = Steps::customPhraseTask(q->env, q->inputBuffer, table,
                                                                                kCustomSlot, cancel)] {
        custom();
        if (n > 0 && sourceMayRun(*q->env, "firstSyllable", *cancel)) {
            Records list;
            for (const auto& s : variantsOf(q->pinyin.front(), *q->settings))
                if (auto it = q->py2hz->find(s); it != q->py2hz->end())
                    Steps::append(list, characterRecords(it->second, 0, q->spans.front(),
                                                         CodeTableFromType::mainCodeTable));
            table.offer(0, std::move(list));
        }
        for (std::size_t k = std::min<std::size_t>(n - 1, 4); n > 1 && k >= 1; --k)
            table.offer(k, lookup(q, k, 5, cancel, true));
    });
    // The whole buffer's sentence, needed when no phrase matches it, is
    // worked out here while the lookups run.
    if (n >= 2) q->sentence->fill([&] { return sentenceCandidates(*q, q->inputBuffer); });

    if (!group.waitUntil(plat::TaskGroup::Clock::now() + q->env->deadlines.query)) cancel->cancel();
    auto got = table.seal();
    Records result = Steps::mergeKeyed(got, kLongInputKey, kCustomSlot);

    std::lock_guard lk(mutex_);
    if (result.empty()) return candidateCache_;
    candidateCache_ = result;
    return result;
}

std::vector<CodeTable> QuanpinStrategy::lookup(const QueryPtr& q, std::size_t count, int limit,
                                               const CancelPtr& parent, bool onWorker) {
    if (limit < 1) return {};
    const auto deadline = plat::TaskGroup::Clock::now() + q->env->deadlines.lookup;
    enum Slot : std::size_t { kUser, kMain, kAssembled, kSuperSP, kSlots };
    plat::SealedResults<Records> slots(kSlots);
    const auto cancel = QueryCancel::child(parent);
    const CancelPtr taskCancel = cancel;
    plat::TaskGroup group;
    plat::ConcurrentQueue queue("buttonQueue");

    // Sources whose settings leave them out are not started at all, and rows
    // another lookup of the query has read already are taken at once.
    Steps::offerSharedRows(q, limit, true, slots, kUser, kMain, group, taskCancel);
    auto assemble = [q, slots, taskCancel, count, limit, deadline] {
        auto list = assembleCandidates(q, count, limit, taskCancel, deadline);
        if (plat::TaskGroup::Clock::now() <= deadline) slots.offer(kAssembled, std::move(list));
    };
    if (q->settings->superSP && count == q->pinyin.size())
    queue.async(group, [q, slots, taskCancel] {
        if (!sourceMayRun(*q->env, "superSP", *taskCancel)) return;
        Records list = q->env->database->superSPWords(q->inputBuffer, q->pinyin);
        markMainTable(list);
        for (auto& r : list) r.code = q->inputBuffer;
        slots.offer(kSuperSP, std::move(list));
    });

    if (onWorker)
        assemble();
    else
        queue.async(group, assemble);

    if (!group.waitUntil(deadline)) cancel->cancel();
    auto got = slots.seal();
    auto take = [&](Slot slot) { return got[slot] ? std::move(*got[slot]) : Records{}; };
    Records user = take(kUser), main = take(kMain), assembled = take(kAssembled), superSP = take(kSuperSP);
    Records result;
    Steps::appendUserAndMain(result, std::move(user), std::move(main), *q->settings);
    Steps::append(result, superSP);
    Steps::append(result, assembled);
    return result;
}

std::vector<CodeTable> QuanpinStrategy::assembleCandidates(const QueryPtr& qp, std::size_t count, int limit,
                                                           const CancelPtr& cancel,
                                                           std::chrono::steady_clock::time_point deadline) {
    const Query& q = *qp;
    const std::size_t n = q.pinyin.size();
    if (count == 0 || count > n) return {};
    Database& store = *q.env->database;
    const SyllableAlternatives syllables(q.pinyin.begin(), q.pinyin.begin() + static_cast<std::ptrdiff_t>(count));
    const std::string& span = q.spans[count - 1];
    Records list;
    if (count < n) {
        std::string code;
        for (const auto& s : syllables) code += s.front();
        if (!sourceMayRun(*q.env, "phrase", *cancel)) return {};
        list = Steps::capped(store.phraseWordsByPinyinColumns(code, limit, syllables), limit);
    } else if (n == 1) {
        for (const auto& s : variantsOf(q.pinyin.front(), *q.settings))
            if (auto it = q.py2hz->find(s); it != q.py2hz->end()) Steps::append(list, characterRecords(it->second, 25));
        if (list.empty())
            if (auto it = q.py2hz->find(characterPrefix(q.inputBuffer, 1)); it != q.py2hz->end())
                list = characterRecords(it->second, 25);
    } else {
        if (!sourceMayRun(*q.env, "phrase", *cancel)) return {};
        std::function<Records()> prediction;
        if (n <= 6)
            prediction = [qp, cancel, syllables, span] {
                if (cancel->isCancelled()) return Records{};
                // Predictions keep the store's source; they cover the whole buffer.
                Records got = qp->env->database->userTableLikeAndPhrase("", syllables);
                for (auto& r : got) r.code = span;
                return got;
            };
        return Steps::phrasesThenSentence(
            [&] {
                Records found = Steps::capped(store.phraseWordsByPinyinColumns(q.inputBuffer, limit, syllables), limit);
                for (auto& r : found) {
                    r.from |= CodeTableFromType::mainCodeTable;
                    r.code = span;
                }
                return found;
            },
            *qp->sentence, [qp] { return sentenceCandidates(*qp, qp->inputBuffer); }, std::move(prediction),
            deadline);
    }
    for (auto& r : list) {
        r.from |= CodeTableFromType::mainCodeTable;
        r.code = span;
    }
    return list;
}

std::optional<CodeTable> QuanpinStrategy::sentenceCandidates(const Query& q, const std::string& buffer) {
    if (q.settings->disableDatabase || !q.wrapper) return std::nullopt;
    std::string sentence = q.wrapper->candidateWithBuffer(buffer);
    if (sentence.empty()) return std::nullopt;
    return CodeTable(buffer, std::move(sentence), 0, CodeTableFromType::mainCodeTable);
}

} // namespace taviro
