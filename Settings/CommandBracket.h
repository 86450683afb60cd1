#pragma once
#include <chrono>

namespace kelvane {

// Keeps the input method off its databases for the life of the object: the opening
// commands are posted by the constructor, the closing ones by the destructor, so every
// path out of a database operation posts them. Open brackets are known process-wide, so
// a process that ends while a job runs can still close them (closeAllOpen).
class CommandBracket {
public:
    enum class Kind {
        // "okToUse" false, "closeDatabase" ... "needsReloadDBLink", "okToUse" true
        Full,
        // "closeDatabase", "okToUse" false ... "needsReloadDBLink", "okToUse" true
        UserDictionary,
        // "okToUse" false ... "okToUse" true
        OkToUseOnly,
    };

    explicit CommandBracket(Kind kind);
    ~CommandBracket();
    CommandBracket(const CommandBracket&) = delete;
    CommandBracket& operator=(const CommandBracket&) = delete;

    // Waits until no bracket is open, at most `timeout`; returns whether none is.
    static bool waitUntilAllClosed(std::chrono::milliseconds timeout);
    // Posts the closing commands of every open bracket now (their destructors then post
    // nothing). Returns how many were open.
    static int closeAllOpen();

private:
    void postClosing() const;
    Kind kind_;
};

} // namespace kelvane
