#include "InputMethod/Core/Engine/InputDeletage.h"

#include <cmath>

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Double2Pinyin.h"
#include "InputMethod/Core/Engine/EngineText.h"
#include "InputMethod/Core/Settings.h"
#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/SunPinyin/SunpinyinWrapper.h"
#include "SharedLib/sqlkit/SQLDatabaseQueue.h"

namespace taviro {

namespace {
constexpr const char* kNoAssist = "不使用辅码";
}

struct InputDeletage::WrapperSlot {
    mutable std::mutex m;
    std::shared_ptr<const plat::SunpinyinWrapper> wrapper;
};

InputDeletage::InputDeletage(StrategyEnvironment environment)
    : wrapper_(std::make_shared<WrapperSlot>()) {
    if (!environment.database) environment.database = environment.storePtr();
    env_ = std::make_shared<const StrategyEnvironment>(std::move(environment));
    d2f_ = std::make_shared<Double2Pinyin>(env_->database->locations().userFolder / "spScheme.plist");
    emoji_ = loadEmojiTable();
    std::promise<void> none;
    none.set_value();
    setUp_ = none.get_future().share();
}

// The set-up task reads the settings; it never outlives its strategy.
InputDeletage::~InputDeletage() { setUp_.wait(); }

std::string InputDeletage::inputBuffer() const {
    std::lock_guard lk(mutex_);
    return inputBuffer_;
}

std::shared_ptr<const plat::SunpinyinWrapper> InputDeletage::sunpinyinWrapper() const {
    std::lock_guard lk(wrapper_->m);
    return wrapper_->wrapper;
}

void InputDeletage::waitForSetUp() const { setUp_.wait(); }

std::vector<std::string> InputDeletage::syllablesOf(const std::string& buffer) const {
    {
        std::lock_guard lk(syllablesMutex_);
        if (haveSyllables_ && syllablesBuffer_ == buffer) return syllables_;
    }
    auto wrapper = sunpinyinWrapper();
    if (!wrapper) return {};
    auto syllables = wrapper->pyStringFrom(buffer);
    std::lock_guard lk(syllablesMutex_);
    syllablesBuffer_ = buffer;
    syllables_ = syllables;
    haveSyllables_ = true;
    return syllables;
}

std::shared_ptr<const BundleTables::Py2hz> InputDeletage::py2hzDic() const {
    if (env_->settings()->disableDatabase) return std::make_shared<const BundleTables::Py2hz>();
    return BundleTables::py2hz(env_->database->locations().resourceDir);
}

std::shared_ptr<const BundleTables::Emoji> InputDeletage::loadEmojiTable() const {
    if (env_->settings()->disableDatabase) return std::make_shared<const BundleTables::Emoji>();
    return BundleTables::emoji(env_->database->locations().resourceDir);
}

void InputDeletage::startSunpinyinSetUp(bool withCorrections) {
    if (!env_->useSunpinyin) return;
    auto slot = wrapper_;
    auto settingsOf = env_;
    auto done = std::make_shared<std::promise<void>>();
    setUp_ = done->get_future().share();
    plat::WorkerPool::shared().submit([slot, settingsOf, withCorrections, done] {
        const auto s = settingsOf->settings();
        auto w = std::make_shared<plat::SunpinyinWrapper>();
        w->setAn2ang(s->an2ang);
        w->setIn2ing(s->in2ing);
        w->setEn2eng(s->en2eng);
        w->setC2ch(s->c2ch);
        w->setZ2zh(s->z2zh);
        w->setS2sh(s->s2sh);
        w->setF2h(s->f2h);
        w->setR2l(s->r2l);
        w->setL2n(s->l2n);
        w->updateFuzzConfig();
        if (withCorrections) {
            w->setMg2ng(s->mg2ng);
            w->setGn2ng(s->gn2ng);
            w->setUei2ui(s->uei2ui);
            w->setUen2un(s->uen2un);
            w->setIou2iu(s->iou2iu);
            w->updateAutoCorrection();
        }
        {
            std::lock_guard lk(slot->m);
            slot->wrapper = std::move(w);
        }
        done->set_value();
    });
}

bool InputDeletage::sourceMayRun(const StrategyEnvironment& env, std::string_view source,
                                 const QueryCancel& cancel) {
    if (env.beforeSource) env.beforeSource(source);
    const bool proceeds = !cancel.isCancelled();
    if (env.afterCheck) env.afterCheck(source, proceeds);
    return proceeds;
}

std::vector<CodeTable> InputDeletage::strategyCandidates(const std::string&, bool) { return {}; }

std::vector<CodeTable> InputDeletage::candidates(const std::string& buffer, bool fourCodeProbe) {
    {
        std::lock_guard lk(mutex_);
        inputBuffer_ = buffer;
    }
    std::vector<CodeTable> result = strategyCandidates(buffer, fourCodeProbe);
    const auto settings = env_->settings();
    Database& store = *env_->database;
    const std::size_t n = result.size();
    const std::size_t length = characterCount(buffer);

    if (settings->mixEnglishInput) {
        const bool gate = settings->fourCode == 0 ? length > 2 : (n == 0 && length > 4);
        if (gate) {
            const std::size_t threshold = settings->quanPin ? 6 : 4;
            const bool capital = startsWithUpperAscii(buffer);
            auto capitalise = [capital](std::vector<CodeTable>& list) {
                if (!capital) return;
                for (auto& r : list) r.table = capitalized(r.table);
            };
            if (length > threshold) {
                auto english = store.englishWords(buffer, true, 20);
                english.insert(english.end(), result.begin(), result.end());
                result = std::move(english);
                capitalise(result);
            } else if (length >= 4 && settings->quanPin) {
                auto english = store.englishWords(buffer, true, 1);
                capitalise(english);
                insertAtOrAppend(result, n >= 2 ? 2 : result.size(), english);
            } else if (n == 0) {
                auto english = store.englishWords(buffer, true, 20);
                capitalise(english);
                result.insert(result.end(), english.begin(), english.end());
            } else {
                auto english = store.englishWords(buffer, false, 20);
                capitalise(english);
                insertAtOrAppend(result, n >= 2 ? 2 : result.size(), english);
            }
        }
    }

    if (settings->fourCode != 1 && !settings->noEmoji && !containsUpperAscii(buffer)) {
        std::string key;
        if (settings->quanPin && sunpinyinWrapper()) {
            for (const auto& s : syllablesOf(buffer)) {
                if (!key.empty()) key += "'";
                key += s;
            }
        } else {
            key = d2f_->joinedPinyinRange(buffer, *settings);
        }
        auto it = emoji_->find(key);
        if (it != emoji_->end() && !it->second.empty()) {
            std::vector<CodeTable> groupA, groupB;
            for (const auto& e : it->second) {
                CodeTable r(buffer, e, 0, CodeTableFromType::emoji);
                (groupA.size() < 2 ? groupA : groupB).push_back(std::move(r));
            }
            insertAtOrAppend(result, result.size() >= 2 ? 2 : result.size(), groupA);
            result.insert(result.end(), groupB.begin(), groupB.end());
        }
    }
    return result;
}

void InputDeletage::loadAssistCache(std::vector<CodeTable>& records) const {
    QueryCancel never;
    loadAssistCache(records, inputBuffer(), *env_->settings(), *env_->database, &never);
}

void InputDeletage::loadAssistCache(std::vector<CodeTable>& records, const std::string& inputBuffer,
                                    const Settings& settings, Database& store, const QueryCancel* cancel) {
    const std::size_t length = characterCount(inputBuffer);
    if (!settings.revealAssist || settings.assistPlanName == kNoAssist || length % 2 != 0) return;
    for (auto& r : records) {
        if (r.table.empty() || 2 * characterCount(r.table) != length) continue;
        if (cancel && cancel->isCancelled()) return;
        const std::string last = lastCharacter(r.table);
        std::string codes;
        // A closed store (its files being replaced) gives no hints and opens nothing.
        if (!store.inAssistDatabase([&](sqlkit::SQLDatabase* db) {
                if (db) Database::codesForWord(db, last, codes);
            }))
            return;
        r.preAssistedCode = codes;
    }
}

std::vector<CodeTable> characterRecords(const std::string& characters, std::size_t cap, const std::string& code,
                                        CodeTableFromType from) {
    std::vector<CodeTable> out;
    for (auto& ch : utf8Characters(characters)) {
        if (cap && out.size() >= cap) break;
        out.emplace_back(code, std::move(ch), 0, from);
    }
    return out;
}

void insertAtOrAppend(std::vector<CodeTable>& list, std::size_t index, const std::vector<CodeTable>& items) {
    if (index > list.size()) index = list.size();
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(index), items.begin(), items.end());
}

void placeCustomPhrases(std::vector<CodeTable>& list, const std::vector<CodeTable>& custom) {
    for (const auto& c : custom) {
        const double p = c.weight;
        if (!std::isfinite(p) || p >= static_cast<double>(list.size())) {
            list.push_back(c);
        } else if (p < 1) {
            // Below 0 (and anything from 0 up to 1) goes first.
            list.insert(list.begin(), c);
        } else {
            list.insert(list.begin() + static_cast<std::ptrdiff_t>(p), c);
        }
    }
}

} // namespace taviro
