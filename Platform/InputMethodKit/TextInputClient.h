#pragma once
#include "Platform/InputMethodKit/TextTypes.h"

#include <optional>
#include <string>
#include <vector>

namespace plat {

// The client text protocol: what an input controller may ask of the text
// field it serves. Texts are UTF-8; ranges count UTF-16 code units.
class TextInputClient {
public:
    virtual ~TextInputClient() = default;

    // Commits text, replacing the marked text (or the selection when nothing
    // is marked); the marked text ends.
    virtual void insertText(const std::string& text, TextRange replacementRange) = 0;

    // Shows text as marked text in place of the current marked text (or the
    // selection); an empty text ends the marked text.
    virtual void setMarkedText(const std::string& text, const TextAttributes& attributes,
                               TextRange selectionRange, TextRange replacementRange) = 0;

    // The selection (its location is the caret when its length is 0).
    virtual TextRange selectedRange() const = 0;
    // The marked text; location kNotFound and length 0 when there is none.
    virtual TextRange markedRange() const = 0;

    // The text of a range, or none when the client gives none. The range
    // actually used goes to actualRange when given.
    virtual std::optional<std::string> stringFromRange(TextRange range,
                                                       TextRange* actualRange) const = 0;

    // Attributes at a character index, with the rectangle of its line.
    virtual TextAttributes attributesForCharacterIndex(std::int64_t index,
                                                       TextRect* lineHeightRectangle) const = 0;

    // The screen rectangle of the first line of a range (y up), the range
    // actually described going to actualRange; none when the client cannot
    // tell (most only tell where the caret is).
    virtual std::optional<TextRect> firstRectForCharacterRange(TextRange /*range*/,
                                                               TextRange* /*actualRange*/) const {
        return std::nullopt;
    }

    // The client application's bundle identifier, when it has one.
    virtual std::optional<std::string> bundleIdentifier() const = 0;

    // Every name the client application goes by (on the desktop: its
    // program, its window class), the bundle identifier first; only that
    // unless the client knows more.
    virtual std::vector<std::string> applicationNames() const {
        auto id = bundleIdentifier();
        return id ? std::vector<std::string>{*id} : std::vector<std::string>{};
    }
};

} // namespace plat
