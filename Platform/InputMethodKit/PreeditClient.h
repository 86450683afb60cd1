#pragma once
#include "Platform/InputMethodKit/TextInputClient.h"

#include <cstdint>
#include <optional>
#include <string>

namespace plat {

// A client reached through a host that only sends it things: a preedit to
// draw and text to commit. It keeps what it was last sent, as GTK does:
// nothing it draws goes away unless it is told. So every commit first takes
// a preedit it still draws away, as a client that holds the text itself
// would. The text around the caret is what the host last heard of it.
class PreeditClient : public TextInputClient {
public:
    void insertText(const std::string& text, TextRange replacementRange) override;
    void setMarkedText(const std::string& text, const TextAttributes& attributes, TextRange selectionRange,
                       TextRange replacementRange) override;
    TextRange selectedRange() const override;
    TextRange markedRange() const override;
    // Without the surrounding text only a range within the marked text.
    std::optional<std::string> stringFromRange(TextRange range, TextRange* actualRange) const override;
    TextAttributes attributesForCharacterIndex(std::int64_t index, TextRect* lineHeightRectangle) const override;
    // Known only at the start of the marked text: where the caret stood when
    // the marked text began (hosts report only the caret, which then moves
    // along the preedit), as an empty range there.
    std::optional<TextRect> firstRectForCharacterRange(TextRange range, TextRange* actualRange) const override;

    // --- the host's side ------------------------------------------------
    // Whether the client draws a preedit, as far as it was told.
    bool drawsPreedit() const { return preeditShown_; }

    // Surrounding text split at the caret; the selection's other end as an
    // offset in UTF-16 units from the caret (negative: before it).
    std::string before, after;
    std::int64_t anchorOffset16 = 0;
    bool hasSurrounding = false;
    std::string marked;
    std::optional<TextRect> caret;  // screen points, y up

protected:
    // False while the host cannot reach the client: nothing is sent.
    virtual bool reachable() const = 0;
    // The preedit to draw; hidden when `visible` is false.
    virtual void sendPreedit(const std::string& text, bool visible) = 0;
    virtual void sendCommit(const std::string& text) = 0;

private:
    bool preeditShown_ = false;
    std::optional<TextRect> markedStart_;
};

} // namespace plat
