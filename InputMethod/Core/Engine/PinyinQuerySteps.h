#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "InputMethod/Core/Database/CodeTable.h"
#include "InputMethod/Core/Engine/InputDeletage.h"
#include "InputMethod/Core/Engine/QueryCancel.h"
#include "InputMethod/Core/Engine/StrategyEnvironment.h"
#include "InputMethod/Core/Settings.h"
#include "Platform/Dispatch/SealedResults.h"
#include "Platform/Dispatch/TaskGroup.h"

namespace taviro {

// Steps that the full-pinyin and the SunPinyin strategies take alike.
class PinyinQuerySteps {
public:
    using Records = std::vector<CodeTable>;

    // The code-table rows of one query's buffer. Every prefix lookup of the
    // query asks for the same buffer, so the store is read once per query;
    // each lookup then takes its own share by its limit.
    class MainTableRows {
    public:
        // Exact matches; with "RevealCode" on, followed by the first `limit`
        // prefix matches; else with none exact and "EmptySlide" on, the first
        // prefix match. std::nullopt when the query was cancelled before the
        // prefix matches were read.
        std::optional<Records> rows(const StrategyEnvironment& env, const Settings& settings,
                                    const std::string& buffer, int limit, const QueryCancel& cancel);

        // The same rows when they need no store read any more (both parts
        // this lookup needs have been read); std::nullopt otherwise.
        std::optional<Records> rowsIfRead(const Settings& settings, int limit) const;

    private:
        Records share(const Settings& settings, int limit) const;

        std::once_flag exactOnce_, prefixOnce_;
        std::atomic<bool> exactRead_{false}, prefixRead_{false};
        Records exact_, prefix_;
    };

    // The SunPinyin sentence of one query's whole buffer. The querying thread
    // works it out while the lookups run on the pool, and the lookup that
    // needs it takes it from here; whichever comes first computes it.
    class Sentence {
    public:
        using Compute = std::function<std::optional<CodeTable>()>;

        // Computes the sentence unless another thread has begun to.
        void fill(const Compute& compute);
        // The sentence: computed here when nobody has begun to, else waited
        // for until the deadline (std::nullopt when it is late or none).
        std::optional<CodeTable> get(const Compute& compute, std::chrono::steady_clock::time_point deadline);

    private:
        // True when this thread claimed the computation.
        bool claim();
        void publish(std::optional<CodeTable> value);

        std::mutex m_;
        std::condition_variable ready_;
        bool claimed_ = false;
        bool filled_ = false;
        std::optional<CodeTable> value_;
    };

    // Offers the query's user-dictionary rows (with the main-table source bit
    // when `markUser`) in `userSlot` and its code-table rows for `limit` in
    // `mainSlot`: at once when another lookup has read them, else from a task
    // of `group`. A user dictionary that is off offers nothing.
    template <class Query>
    static void offerSharedRows(const std::shared_ptr<const Query>& q, int limit, bool markUser,
                                const plat::SealedResults<Records>& slots, std::size_t userSlot,
                                std::size_t mainSlot, plat::TaskGroup& group,
                                const std::shared_ptr<const QueryCancel>& cancel) {
        if (q->settings->userDict) {
            if (auto rows = q->userRows->ifReady())
                slots.offer(userSlot, userRowsAs(std::move(*rows), markUser));
            else
                group.async([q, slots, userSlot, markUser, cancel] {
                    if (!InputDeletage::sourceMayRun(*q->env, "userDictionary", *cancel)) return;
                    slots.offer(userSlot, userRowsAs(q->userRows->get([&] {
                        return userDictionaryRows(*q->env, q->inputBuffer);
                    }), markUser));
                });
        }
        if (auto rows = q->mainRows->rowsIfRead(*q->settings, limit))
            slots.offer(mainSlot, std::move(*rows));
        else
            group.async([q, slots, mainSlot, limit, cancel] {
                if (!InputDeletage::sourceMayRun(*q->env, "mainTable", *cancel)) return;
                if (auto list = q->mainRows->rows(*q->env, *q->settings, q->inputBuffer, limit, *cancel))
                    slots.offer(mainSlot, std::move(*list));
            });
    }

    // The first `limit` records (all of them for a negative limit).
    static Records capped(Records list, int limit);
    static void append(Records& to, const Records& from);
    // User-dictionary rows before code-table rows when "CodetableInUserDict"
    // is on, after them when it is off.
    static void appendUserAndMain(Records& to, Records user, Records main, const Settings& settings);

    // Task that stores the custom phrases of the buffer in `slot`.
    static std::function<void()> customPhraseTask(std::shared_ptr<const StrategyEnvironment> env,
                                                  std::string buffer, plat::SealedResults<Records> table,
                                                  std::size_t slot, std::shared_ptr<const QueryCancel> cancel);

    // The user-dictionary rows of the whole buffer (at most 100).
    static Records userDictionaryRows(const StrategyEnvironment& env, const std::string& buffer);
    // The rows, with the main-table source bit OR-ed in when asked.
    static Records userRowsAs(Records rows, bool markMainTable);

    // The merge of a keyed result table: custom phrases (slot `customSlot`)
    // claim their words first; then the keys from `topKey` down to 0, each
    // word kept the first time it appears; then the custom phrases at their
    // stored positions.
    static Records mergeKeyed(std::vector<std::optional<Records>>& got, std::size_t topKey,
                              std::size_t customSlot);

    // The phrase list of a whole buffer of two syllables or more: `phrases`
    // (the store's phrase lookup, run on this thread), or the query's
    // sentence when it finds nothing; the prediction, when asked for,
    // inserted at index 2 (or appended). The prediction is asked meanwhile on
    // the worker pool; it and the sentence count only when ready by
    // `deadline`.
    static Records phrasesThenSentence(const std::function<Records()>& phrases, Sentence& sentence,
                                       const Sentence::Compute& computeSentence,
                                       std::function<Records()> prediction,
                                       std::chrono::steady_clock::time_point deadline);
};

} // namespace taviro
