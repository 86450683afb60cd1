#pragma once
#include "InputMethod/FontSize.h"

#include <string>
#include <vector>

namespace plat {
class TextInputClient;
}

namespace taviro {

// What the candidate window asks of the input controller it reports to.
class CandidateWindowDelegate {
public:
    virtual ~CandidateWindowDelegate() = default;
    // The candidate texts with their hints.
    virtual std::vector<std::string> candidates() = 0;
    // The highlight moved to a candidate with this text.
    virtual void candidateSelectionChanged(const std::string& candidate) = 0;
    // Commit the highlighted candidate into the client.
    virtual void commitComposition(plat::TextInputClient* sender) = 0;
    virtual plat::TextInputClient* currentClient() const = 0;
    // Inserts text into the current client as a commit does, without the
    // engine (a tapped Touch Bar hint).
    virtual void insertText(const std::string& /*text*/) {}
};

// The one candidate window of the input method, as the controller uses it.
// Pages are laid out forward as the user pages on; indices are within the
// page on screen. Main thread only.
class CandidateWindow {
public:
    virtual ~CandidateWindow() = default;

    virtual bool isVertical() const = 0;
    virtual bool isVisible() const = 0;

    virtual int currentPage() const = 0;
    virtual void setCurrentPage(int page) = 0;
    virtual int selectedIndex() const = 0;
    virtual void setSelectedIndex(int index) = 0;
    // How many candidates the page on screen shows.
    virtual int visibleCandidateCount() const = 0;
    // The texts of the page on screen.
    virtual std::vector<std::string> visibleCandidates() const = 0;

    // True when the page changed.
    virtual bool nextPage() = 0;
    virtual bool previousPage() = 0;
    // Moves the highlight and reports its text to the delegate; an index
    // outside the page resets the selection to 0 and reports nothing.
    virtual void highlightCandidate(int index) = 0;
    // Asks the delegate for the list and lays out the first page; closes
    // when the list is empty.
    virtual void reloadCandidates() = 0;
    // Shows the window at the client's caret when it has candidates.
    virtual void showAtCaret(plat::TextInputClient* client) = 0;
    // Hides the window; selection and page go back to 0.
    virtual void close() = 0;
    // Commits the highlighted candidate through the delegate and closes.
    virtual void selectCandidate() = 0;

    virtual CandidateWindowDelegate* delegate() const = 0;
    // Not owned: the delegate clears itself before it goes away.
    virtual void setDelegate(CandidateWindowDelegate* delegate) = 0;

    virtual FontSize fontSize() const = 0;
    // Applies the window size of the font size and empties the font cache.
    virtual void setFontSize(FontSize size) = 0;
};

// The page on screen as one line: "1.你好 [2.尼好] 3.拟好" (the highlighted
// one in brackets, a hint shown after a blank); "" when hidden.
std::string renderCandidateText(const CandidateWindow& window);

} // namespace taviro
