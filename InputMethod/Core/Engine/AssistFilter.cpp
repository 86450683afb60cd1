// The assist-code filter of the SunPinyin strategy: candidates of the pinyin
// keys that carry a character of the assist code typed after them.
#include <unordered_set>

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Double2Pinyin.h"
#include "InputMethod/Core/Engine/EngineText.h"
#include "InputMethod/Core/Engine/SunpyInputStrategy.h"
#include "InputMethod/Core/PyString.h"
#include "InputMethod/Core/Settings.h"
#include "Platform/Dispatch/ConcurrentQueue.h"
#include "Platform/Dispatch/SealedResults.h"
#include "Platform/Dispatch/TaskGroup.h"

namespace taviro {

namespace {
constexpr const char* kNoAssist = "不使用辅码";
}

std::vector<CodeTable> SunpyInputStrategy::filterBySideCode(const QueryPtr& q, const CancelPtr& parent) {
    const Settings& s = *q->settings;
    if (s.assistPlanName == kNoAssist) return {};
    const std::string& input = q->inputBuffer;
    const std::size_t n = characterCount(input);
    const std::size_t pinyinLength = n % 2 == 0 ? (n >= 2 ? n - 2 : 0) : n - 1;
    const std::size_t codeLength = n % 2 == 0 ? 2 : 1;
    const std::string code = n >= codeLength ? dropCharacters(input, n - codeLength) : std::string();

    enum Slot : std::size_t { kBase, kCharacters, kSlots };
    plat::SealedResults<std::vector<CodeTable>> slots(kSlots);
    plat::SealedResults<std::string> assistCharacters(1);
    const auto cancel = QueryCancel::child(parent);
    const CancelPtr taskCancel = cancel;
    plat::TaskGroup group;
    plat::ConcurrentQueue queue("sideCodeQueue");

    queue.async(group, [q, slots, taskCancel, pinyinLength] {
        std::vector<CodeTable> base;
        if (pinyinLength == 2) {
            const auto groups = PyString::syllableTextsForCodes(
                q->d2f->convertDoublePinyin(characterPrefix(q->inputBuffer, 2), *q->settings));
            if (!groups.empty())
                for (const auto& syllable : groups.front())
                    if (auto it = q->py2hz->find(syllable); it != q->py2hz->end())
                        for (auto& r : characterRecords(it->second)) base.push_back(std::move(r));
        } else if (pinyinLength >= 1) {
            if (!sourceMayRun(*q->env, "assistBase", *taskCancel)) return;
            base = q->env->database->phraseWordsByPinyinColumns(characterPrefix(q->inputBuffer, pinyinLength), 100,
                                                                {});
        }
        slots.offer(kBase, std::move(base));
    });
    queue.async(group, [q, assistCharacters, taskCancel, code] {
        if (!sourceMayRun(*q->env, "assistWords", *taskCancel)) return;
        assistCharacters.offer(0, q->env->database->assistWords(code));
    });

    if (!group.waitUntil(plat::TaskGroup::Clock::now() + q->env->deadlines.assist)) cancel->cancel();
    auto got = slots.seal();
    auto chars = assistCharacters.seal();
    const std::string characters = chars[0] ? *chars[0] : std::string();
    if (characters.empty()) return {};

    std::unordered_set<std::string> seen;
    std::vector<CodeTable> out;
    auto pass = [&](const CodeTable& c) {
        for (const auto& ch : utf8Characters(c.table)) {
            if (characters.find(ch) == std::string::npos) continue;
            if (!seen.insert(c.table).second) return;
            CodeTable kept = c;
            kept.code = input;
            kept.from |= CodeTableFromType::assisted;
            kept.assistedCode = code;
            out.push_back(std::move(kept));
            return;
        }
    };
    if (got[kBase])
        for (const auto& c : *got[kBase]) pass(c);
    for (const auto& c : q->previous)
        if (characterCount(c.table) == pinyinLength / 2) pass(c);

    if (s.moveBack && !q->previous.empty() && out.size() >= 2 && out.front().table == q->previous.front().table)
        std::swap(out[0], out[1]);
    return out;
}

} // namespace taviro
