#pragma once

namespace kelvane {

// Keeps the input method off its databases for the life of the object: the opening
// commands are posted by the constructor, the closing ones by the destructor, so every
// path out of a database operation posts them.
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

private:
    Kind kind_;
};

} // namespace kelvane
