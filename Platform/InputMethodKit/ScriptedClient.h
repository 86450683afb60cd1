#pragma once
#include "Platform/InputMethodKit/TextInputClient.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// A client text field held in memory, for tests and the console program. It
// keeps its text, selection and marked text like an editor would and records
// every call made to it.
class ScriptedClient : public TextInputClient {
public:
    explicit ScriptedClient(std::optional<std::string> bundleIdentifier = std::string("org.example.scripted"));

    void insertText(const std::string& text, TextRange replacementRange) override;
    void setMarkedText(const std::string& text, const TextAttributes& attributes,
                       TextRange selectionRange, TextRange replacementRange) override;
    TextRange selectedRange() const override;
    TextRange markedRange() const override;
    std::optional<std::string> stringFromRange(TextRange range, TextRange* actualRange) const override;
    TextAttributes attributesForCharacterIndex(std::int64_t index,
                                               TextRect* lineHeightRectangle) const override;
    std::optional<std::string> bundleIdentifier() const override { return bundleIdentifier_; }
    std::vector<std::string> applicationNames() const override {
        return applicationNames_.empty() ? TextInputClient::applicationNames() : applicationNames_;
    }

    // --- the scripted side ----------------------------------------------
    void setBundleIdentifier(std::optional<std::string> id) { bundleIdentifier_ = std::move(id); }
    // The application's names beside the bundle identifier (none: just it).
    void setApplicationNames(std::vector<std::string> names) { applicationNames_ = std::move(names); }
    // Replaces the whole text; the caret goes to the end, nothing is marked.
    void setText(const std::string& text);
    // Moves the caret (UTF-16 units) and selects `length` units from it.
    void select(std::int64_t location, std::int64_t length = 0);
    // The line rectangle every index reports.
    void setLineRect(TextRect rect) { lineRect_ = rect; }
    // Whether stringFromRange answers (some clients give no text).
    void setGivesText(bool gives) { givesText_ = gives; }

    // Text the user typed straight into the field (a key the input method
    // passed on); recorded as "typed:<text>", not as an insertion.
    void typeDirectly(const std::string& text);

    // Applies a synthetic key press as an editor would: arrows move the
    // caret, delete removes the character before it, return breaks the line.
    void applyKeyPress(std::uint16_t keyCode);

    // The whole text with the marked text in it.
    std::string text() const;
    std::string markedText() const;
    // The text without the marked text: what has been committed.
    std::string committedText() const;
    // Every text inserted, in order.
    const std::vector<std::string>& insertions() const { return insertions_; }
    // Every call, as "insertText:你好", "setMarkedText:ni", "selectedRange",
    // "markedRange", "stringFromRange:3,2", "attributesForCharacterIndex:0",
    // "bundleIdentifier" is not recorded (asked too often to be useful).
    // Only the latest kCallLogLimit calls are kept, so a long session does
    // not grow without bound.
    const std::vector<std::string>& calls() const { return calls_; }
    static constexpr std::size_t kCallLogLimit = 4096;
    void clearLog();

private:
    std::int64_t replaceMarkedOrSelected(const std::u16string& t);
    void logCall(std::string call) const;
    std::u16string text_;
    std::int64_t selLocation_ = 0;
    std::int64_t selLength_ = 0;
    std::int64_t markedLocation_ = kNotFound;
    std::int64_t markedLength_ = 0;
    std::optional<std::string> bundleIdentifier_;
    std::vector<std::string> applicationNames_;
    TextRect lineRect_{100, 500, 1, 18};
    bool givesText_ = true;
    std::vector<std::string> insertions_;
    mutable std::vector<std::string> calls_;
};

} // namespace plat
