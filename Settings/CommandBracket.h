#pragma once
#include <chrono>

namespace sqlkit {
class SQLDatabase;
class SQLTransaction;
}

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

    // Commits a transaction that was built while the input method went on reading the
    // file (in write-ahead-log mode it reads the data as it was): the bracket spans only
    // the commit. The log is folded back into the file afterwards, outside the bracket,
    // without waiting for the input method's readers. False when nothing was committed.
    static bool commitInside(Kind kind, sqlkit::SQLTransaction& transaction, sqlkit::SQLDatabase& db);

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
