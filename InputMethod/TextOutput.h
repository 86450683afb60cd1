#pragma once
#include "Platform/InputMethodKit/TextTypes.h"

#include <functional>
#include <optional>
#include <string>

namespace plat {
class TextInputClient;
}

namespace taviro {

struct Settings;

// The input method's output to the client: marked text, commits with the
// traditional-character conversion and the automatic space, the text before
// the caret and synthetic caret keys. Main thread only.
class TextOutput {
public:
    // Double-pinyin keys shown as full pinyin (buffer display mode 1).
    using PinyinDisplay = std::function<std::string(const std::string&)>;

    // The last non-empty text committed into any client, after conversion
    // and the automatic space: the engine's taviro::lastCommittedText(), which
    // the command word "z" offers.
    static std::string lastCommittedText();
    // The client that received it (compared, never used).
    static const void* lastCommittedClient();
    // Sets both the text (for the engine too) and the client.
    static void setLastCommitted(std::string text, const void* client);
    // Forgets the client of the last commit, so that it is undone only once.
    static void forgetLastCommittedClient();

    // Shows text as marked text, formed by "BufferDisplayMode" and "LockUpperCase".
    static void setMarkedText(const std::string& text, const std::optional<plat::TextAttributes>& attributes,
                              plat::TextInputClient* client, const Settings& settings,
                              const PinyinDisplay& pinyinDisplay = {});
    // Commits text: converted when "S2T" is on ("S2tType" outside 0-3
    // converts nothing), a space in front by "AutoBlank". Empty text: nothing.
    static void insertText(const std::string& text, const std::optional<plat::TextAttributes>& attributes,
                           plat::TextInputClient* client, const Settings& settings);
    // Up to 100 UTF-16 units before the caret, outside the marked text; none
    // when the client gives none or its ranges make no sense.
    static std::optional<std::string> textBeforeCaret(plat::TextInputClient* client);
    // |count| presses of right (positive) or left (negative) arrow.
    static void postSyntheticKey(int count);

    // --- the rules, without a client -------------------------------------
    static std::string displayText(const std::string& text, std::int64_t mode, bool upperCase,
                                   const PinyinDisplay& pinyinDisplay);
    // Whether a space goes in front of `text` after `before`: looks at the
    // last character before the caret only.
    static bool needsAutoBlank(const std::string& before, const std::string& text);
    static std::string convertForCommit(const std::string& text, const Settings& settings);
};

} // namespace taviro
