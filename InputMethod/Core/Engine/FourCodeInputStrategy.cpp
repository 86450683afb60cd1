#include "InputMethod/Core/Engine/FourCodeInputStrategy.h"

#include <unordered_set>

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/EngineText.h"
#include "InputMethod/Core/Settings.h"
#include "Platform/Dispatch/ConcurrentQueue.h"
#include "Platform/Dispatch/SealedResults.h"
#include "Platform/Dispatch/TaskGroup.h"

namespace taviro {

namespace {

enum Slot : std::size_t { kCustom, kUser, kMain, kFullPinyin, kTextReplacement, kSlots };

void appendCharacters(std::vector<CodeTable>& out, const std::string& characters) {
    for (auto& ch : utf8Characters(characters)) out.emplace_back("", std::move(ch));
}

} // namespace

FourCodeInputStrategy::FourCodeInputStrategy(StrategyEnvironment environment)
    : InputDeletage(std::move(environment)) {}

std::vector<CodeTable> FourCodeInputStrategy::customCodeTable() const {
    std::lock_guard lk(customMutex_);
    return customCodeTable_;
}

std::vector<CodeTable> FourCodeInputStrategy::strategyCandidates(const std::string& buffer, bool fourCodeProbe) {
    if (containsUpperAscii(buffer) || buffer.empty()) return {};

    const auto env = environmentPtr();
    const auto settings = env->settings();
    const auto store = environment().database;
    const auto cancel = std::make_shared<QueryCancel>();
    const auto py2hz = py2hzDic();
    const auto frequencies = BundleTables::pinyinFrequencies(store->locations().resourceDir);
    plat::SealedResults<std::vector<CodeTable>> slots(kSlots);
    plat::TaskGroup group;
    plat::ConcurrentQueue queue("buttonQueue");

    // Each task captures what it reads by value, never the strategy.
    queue.async(group, [env, slots, store, cancel, buffer] {
        if (!sourceMayRun(*env, "customPhrase", *cancel)) return;
        slots.offer(kCustom, store->customPhrases(buffer));
    });
    queue.async(group, [env, slots, store, cancel, buffer, settings] {
        if (!settings->userDict || !sourceMayRun(*env, "userDictionary", *cancel)) return;
        slots.offer(kUser, store->userDictionaryByPy(buffer, 100));
    });
    queue.async(group, [env, slots, store, cancel, buffer, settings, fourCodeProbe] {
        if (!sourceMayRun(*env, "mainTable", *cancel)) return;
        auto list = store->codeTablePrefixQuery(buffer, false);
        if (settings->revealCode) {
            if (cancel->isCancelled()) return;
            const std::size_t cap = fourCodeProbe ? 10 : 200;
            auto more = store->codeTablePrefixQuery(buffer, true);
            if (more.size() > cap) more.resize(cap);
            list.insert(list.end(), more.begin(), more.end());
        } else if (list.empty() && settings->emptySlide) {
            if (cancel->isCancelled()) return;
            auto more = store->codeTablePrefixQuery(buffer, true);
            if (!more.empty()) list.push_back(more.front());
        }
        slots.offer(kMain, std::move(list));
    });
    queue.async(group, [env, slots, store, cancel, buffer, settings, fourCodeProbe, py2hz, frequencies] {
        if (!settings->zFullSpell || buffer.empty()) return;
        if (buffer[0] != 'z' || characterCount(buffer) < 2) return;
        if (!sourceMayRun(*env, "fullPinyin", *cancel)) return;
        const std::string text = dropCharacters(buffer, 1);
        const auto syllables = buildSentence(text, frequencies.get());
        SyllableAlternatives groups;
        for (const auto& s : syllables) groups.push_back({s});
        std::vector<CodeTable> list;
        if (!groups.empty()) list = store->phraseWordsByPinyinColumns(text, 100, groups);
        if (syllables.size() == 1)
            if (auto it = py2hz->find(syllables[0]); it != py2hz->end()) appendCharacters(list, it->second);
        if (characterCount(text) > 3 && settings->mixEnglishInput && !cancel->isCancelled()) {
            std::string lower = text;
            for (char& c : lower)
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            auto english = store->englishWords(lower, true, 20);
            list.insert(list.end(), english.begin(), english.end());
        }
        if (!fourCodeProbe)
            if (auto it = py2hz->find(text); it != py2hz->end()) appendCharacters(list, it->second);
        slots.offer(kFullPinyin, std::move(list));
    });
    queue.async(group, [env, slots, store, cancel, buffer] {
        if (!sourceMayRun(*env, "textReplacement", *cancel)) return;
        slots.offer(kTextReplacement, store->textReplacementPhrases(buffer));
    });

    if (!group.waitUntil(plat::TaskGroup::Clock::now() + environment().deadlines.shape)) cancel->cancel();
    auto got = slots.seal();
    auto take = [&](Slot s) { return got[s] ? std::move(*got[s]) : std::vector<CodeTable>{}; };
    const auto custom = take(kCustom);
    if (got[kCustom]) {
        std::lock_guard lk(customMutex_);
        customCodeTable_ = custom;
    }
    const auto replacements = take(kTextReplacement);
    auto user = take(kUser);
    auto main = take(kMain);
    auto full = take(kFullPinyin);

    // Text replacements lead; every other word keeps its first place.
    std::vector<CodeTable> result;
    std::unordered_set<std::string> taken;
    for (const auto& r : replacements)
        if (taken.insert(r.table).second) result.push_back(r);
    const bool userFirst = settings->codetableInUserDict;
    for (const auto* list : {userFirst ? &user : &main, userFirst ? &main : &user, &full})
        for (const auto& r : *list)
            if (taken.insert(r.table).second) result.push_back(r);
    std::vector<CodeTable> fresh;
    for (const auto& c : custom)
        if (!taken.count(c.table)) fresh.push_back(c);
    placeCustomPhrases(result, fresh);
    return result;
}

} // namespace taviro
