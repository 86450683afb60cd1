#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "InputMethod/Core/Database/CodeTable.h"
#include "InputMethod/Core/Engine/StrategyEnvironment.h"
#include "Platform/Dispatch/TaskGroup.h"

namespace taviro {

class Database;
class Double2Pinyin;
class InputDeletage;

// The conversion engine: the composition buffer, its ranked candidate list
// from the current input strategy, command words and date/time texts, commit
// with phrase learning and word frequencies. Called on the main thread.
class TaviroIMEngine {
public:
    struct Options {
        StrategyEnvironment environment;
        // The moment the date and time texts show; the system clock when unset.
        std::function<std::chrono::system_clock::time_point()> clock;
        std::string dateLocale;    // empty: the user's locale
        std::string dateTimeZone;  // empty: the system's zone
        // Receives the number of committed characters while "KeyLogger" is on.
        std::function<void(std::int64_t)> countCharacters;
        // Start-up copies "custom.db", chooses the strategy, reopens the store
        // and raises the ready flag, all off the calling thread.
        bool startUp = true;
    };

    static constexpr const char* kWaitingText = "坐等系统部署完毕……";
    static constexpr const char* kHintSeparator = "dj%dA8.C";

    static TaviroIMEngine& shared();

    TaviroIMEngine();
    explicit TaviroIMEngine(Options options);
    ~TaviroIMEngine();
    TaviroIMEngine(const TaviroIMEngine&) = delete;
    TaviroIMEngine& operator=(const TaviroIMEngine&) = delete;

    // Appends text to the buffer, rebuilds the list, returns the whole buffer.
    std::string getCandidates(const std::string& text);
    // One display string per candidate.
    std::vector<std::string> candidateStrings() const;
    // Commits the candidate whose word is text: trims the keys it consumed,
    // learns, and returns what is left of the buffer.
    std::string commitSelection(const std::string& text);
    // Removes the candidate at index from the user dictionary.
    void forgetWord(std::int64_t index);
    // Writes a completed phrase to the user dictionary.
    void learn();
    // Empties the buffer, the list and the phrase state.
    void clean();
    // Builds the strategy that the settings choose.
    void reloadInputDelegate();
    // Copies the bundle's "custom.db" into the per-user folder when missing.
    void ensureCustomDatabase();

    // The active command words.
    std::set<std::string> commandWords() const;
    // The records a command word offers now.
    std::vector<CodeTable> dateTimeCandidates(const std::string& buffer) const;

    // Where committed characters are counted while "KeyLogger" is on (the
    // typing-statistics counter); replaces Options::countCharacters. For
    // callers without an input controller: the controller counts its commits
    // itself and its adapter leaves this unset.
    void setCharacterCounter(std::function<void(std::int64_t)> counter);

    // The text with its date and time placeholders replaced (custom phrases,
    // guide buttons); any thread.
    static std::string expandPhraseTemplate(std::string_view text);

    // The process-wide ready flag: until it is up only the waiting candidate
    // is offered. "okToUse" sets it.
    static bool isReady();
    static void setReady(bool ready);
    // True for the waiting candidate's text, which is never committed.
    static bool isWaitingCandidate(const std::string& text);

    const std::string& inputBuffer() const { return inputBuffer_; }
    const std::vector<CodeTable>& candidates() const { return candidates_; }
    bool learning() const { return learning_; }
    const std::string& learningInputBuffer() const { return learningInputBuffer_; }
    const std::string& learningTable() const { return learningTable_; }
    // The keys the open phrase's selections consumed: its code once complete.
    const std::string& learningKeys() const { return learningKeys_; }
    const std::optional<CodeTable>& learntCodeTable() const { return learntCodeTable_; }
    std::shared_ptr<InputDeletage> inputDelegate() const;
    // The scheme converter of the marked-text display, created on first use.
    Double2Pinyin& d2f();
    // The keys besides the letters that the double-pinyin scheme types (";"
    // in some layouts), while that scheme is in use; else none. They are code
    // keys however the scheme came to be chosen.
    std::string schemeCodeKeys();
    // The OpenCC configuration of each "S2tType".
    static const std::array<const char*, 4>& optionList();

    // Blocks until start-up has run and the store has reopened.
    void waitForStartUp();
    // The same, for at most `limit`; false when start-up had not finished.
    bool waitForStartUp(std::chrono::milliseconds limit);
    // Blocks until the frequency updates of earlier commits have been written.
    void waitForBackgroundWrites();
    // The same, for at most `limit`; false when writes were still running.
    bool waitForBackgroundWrites(std::chrono::milliseconds limit);
    // Before the process exits: waits up to `limit` for start-up, the
    // frequency updates and the learnt words waiting for a locked user
    // dictionary, then closes the store so that no write is cut off
    // halfway (a cut-off write is rolled back at the next start). False when
    // the wait ran out; the store is closed anyway.
    bool finishForExit(std::chrono::milliseconds limit);

private:
    enum class Kind { strategy, rawBuffer, command, waiting };

    std::shared_ptr<const Settings> settings() const;
    void showWaitingCandidate();

    Options options_;
    std::shared_ptr<Database> store_;

    std::string inputBuffer_;
    std::vector<CodeTable> candidates_;
    std::vector<Kind> kinds_;  // what made each record of candidates_
    // The buffer and list before the last key: a shape-code rule commits the
    // word its code showed once the next key has replaced the list.
    struct BeforeKey {
        std::string buffer;
        std::vector<CodeTable> candidates;
        std::vector<Kind> kinds;
    };
    std::optional<BeforeKey> beforeKey_;
    bool learning_ = false;
    std::string learningInputBuffer_;  // the buffer when the phrase opened
    std::string learningKeys_;         // the keys its selections consumed, in order
    std::string learningTable_;
    std::optional<CodeTable> learntCodeTable_;

    mutable std::mutex delegateMutex_;
    std::shared_ptr<InputDeletage> inputDelegate_;
    std::mutex d2fMutex_;
    std::unique_ptr<Double2Pinyin> d2f_;

    plat::TaskGroup startUp_;
    plat::TaskGroup background_;  // frequency updates
    std::shared_future<std::shared_future<void>> reopened_;
};

} // namespace taviro
