#pragma once
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "InputMethod/Core/Database/CodeTable.h"
#include "InputMethod/Core/Engine/BundleTables.h"
#include "InputMethod/Core/Engine/QueryCancel.h"
#include "InputMethod/Core/Engine/StrategyEnvironment.h"

namespace plat {
class SunpinyinWrapper;
}

namespace taviro {

class Database;
class Double2Pinyin;
struct Settings;

// The base of the input strategies and the one entry of every candidate
// query: the concrete strategy's lookup, then English words, capitalisation
// and emoji. Every query works on values captured when it starts, so tasks of
// an abandoned query never see the next query's state.
class InputDeletage {
public:
    explicit InputDeletage(StrategyEnvironment environment = {});
    virtual ~InputDeletage();
    InputDeletage(const InputDeletage&) = delete;
    InputDeletage& operator=(const InputDeletage&) = delete;

    // The strategy query with English words and emoji added. `fourCodeProbe`
    // reaches the shape-code strategy only.
    std::vector<CodeTable> candidates(const std::string& buffer, bool fourCodeProbe);

    // Fills the assist-code hint (preAssistedCode) of records whose word has
    // half as many characters as the buffer; only with "RevealAssist" on, an
    // assist table chosen and a buffer of even length.
    void loadAssistCache(std::vector<CodeTable>& records) const;
    static void loadAssistCache(std::vector<CodeTable>& records, const std::string& inputBuffer,
                                const Settings& settings, Database& store, const QueryCancel* cancel);

    // Syllable -> characters; an empty table while "DisableDatabase" is on.
    std::shared_ptr<const BundleTables::Py2hz> py2hzDic() const;
    // Pinyin key -> emoji; empty when "DisableDatabase" is on.
    std::shared_ptr<const BundleTables::Emoji> loadEmojiTable() const;

    // The buffer of the latest query.
    std::string inputBuffer() const;
    // The SunPinyin handle, null until the set-up task has stored it.
    std::shared_ptr<const plat::SunpinyinWrapper> sunpinyinWrapper() const;
    const std::shared_ptr<Double2Pinyin>& d2f() const { return d2f_; }
    const StrategyEnvironment& environment() const { return *env_; }
    const std::shared_ptr<const StrategyEnvironment>& environmentPtr() const { return env_; }

    // The composition was committed or cancelled: a list remembered for the
    // "nothing found, show the previous list" rule belongs to that composition
    // only, so the next one never offers the words of the last.
    virtual void compositionEnded() {}

    // Blocks until the SunPinyin set-up has run (at once when there is none).
    void waitForSetUp() const;

    // The syllables SunPinyin splits the buffer into (empty without the
    // wrapper); the latest answer is remembered for the same buffer.
    std::vector<std::string> syllablesOf(const std::string& buffer) const;

protected:
    // The concrete strategy's list; the base class has none.
    virtual std::vector<CodeTable> strategyCandidates(const std::string& buffer, bool fourCodeProbe);

    // Creates the wrapper on a worker with the fuzzy options (and the
    // correction options when asked) and stores it when done.
    void startSunpinyinSetUp(bool withCorrections);

public:
    // Runs the test seam of a source task; false when the query was abandoned
    // and the task must not call the store. Tasks hold the environment, never
    // the strategy, which may be gone when a late task runs.
    static bool sourceMayRun(const StrategyEnvironment& env, std::string_view source, const QueryCancel& cancel);

private:
    struct WrapperSlot;

    std::shared_ptr<const StrategyEnvironment> env_;
    mutable std::mutex mutex_;  // guards inputBuffer_
    std::string inputBuffer_;
    std::shared_ptr<WrapperSlot> wrapper_;
    mutable std::mutex syllablesMutex_;
    mutable std::string syllablesBuffer_;
    mutable std::vector<std::string> syllables_;
    mutable bool haveSyllables_ = false;
    std::shared_ptr<Double2Pinyin> d2f_;
    std::shared_ptr<const BundleTables::Emoji> emoji_;
    std::shared_future<void> setUp_;
};

// Inserts `items` at `index` when the list holds at least `index` records,
// else appends them.
void insertAtOrAppend(std::vector<CodeTable>& list, std::size_t index, const std::vector<CodeTable>& items);

// Puts each custom phrase at the position stored as its weight: truncated to
// an integer; below 0 means the first place; past the end, or not a finite
// number, means the last.
void placeCustomPhrases(std::vector<CodeTable>& list, const std::vector<CodeTable>& custom);

// One record per character of `characters`, at most `cap` of them (0: all),
// each with the given code and source.
std::vector<CodeTable> characterRecords(const std::string& characters, std::size_t cap = 0,
                                        const std::string& code = {}, CodeTableFromType from = {});

} // namespace taviro
