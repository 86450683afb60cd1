#include "InputMethod/TaviroController.h"

#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/TavCandidates/TouchBarPresentation.h"
#include "InputMethod/CompositionEngine.h"
#include "InputMethod/ControllerDefaults.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/PhraseTemplate.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "InputMethod/KeyCodeTranslation.h"
#include "InputMethod/KeyLogger.h"
#include "InputMethod/SharedFunctions.h"
#include "InputMethod/TextOutput.h"
#include "InputMethod/TextUnits.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/InputMethodKit/SystemServices.h"
#include "Platform/InputMethodKit/TextInputClient.h"
#include "Platform/InputMethodKit/UsKeyboard.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <cctype>

namespace taviro {

using plat::KeyEvent;
namespace Flag = plat::ModifierFlag;
namespace Key = plat::KeyCode;

namespace {

const char* const kHintSeparator = "dj%dA8.C";
constexpr std::uint64_t kControlOnly = Flag::control;
constexpr std::uint64_t kShiftOnly = Flag::shift;

bool contains(const std::string& haystack, const std::string& needle) {
    return !needle.empty() && haystack.find(needle) != std::string::npos;
}

std::string asciiLower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string firstCharacter(const std::string& s) {
    const auto chars = userCharacters(s);
    return chars.empty() ? std::string() : chars.front();
}

// The mapped text of a punctuation key, or none.
std::optional<std::string> punctuationOutput(const std::string& key, const StringMap& puncMapDict) {
    const auto it = puncMapDict.find(key);
    if (it == puncMapDict.end() || it->second.empty()) return std::nullopt;
    return it->second;
}

// Only these kinds of address are opened by "#链接".
bool isOpenableURL(const std::string& url) {
    const auto colon = url.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    const std::string scheme = asciiLower(url.substr(0, colon));
    const std::string rest = url.substr(colon + 1);
    for (unsigned char c : url)
        if (c < 0x21 || c == 0x7F) return false;
    if (scheme == "mailto") return rest.size() > 1 && rest.find('@') != std::string::npos;
    if (scheme == "http" || scheme == "https" || scheme == "taviromac2")
        return rest.size() > 2 && rest.compare(0, 2, "//") == 0 && rest[2] != '/';
    return false;
}

// A silence-list key as a pattern searched in the identifier, under a time limit.
bool patternMatches(const std::string& pattern, const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> re(
        icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(pattern), 0, status));
    if (U_FAILURE(status) || !re) return false;
    const icu::UnicodeString input = icu::UnicodeString::fromUTF8(text);
    std::unique_ptr<icu::RegexMatcher> m(re->matcher(input, status));
    if (U_FAILURE(status) || !m) return false;
    m->setTimeLimit(50, status);  // about 50 ms of matching
    const bool found = m->find(status);
    return U_SUCCESS(status) && found;
}

} // namespace

std::string& TaviroController::pendingCommitText() {
    static std::string text;
    return text;
}

TaviroController::TaviroController(plat::InputMethodServer* server, plat::TextInputClient* client,
                                   ControllerEnvironment environment)
    : plat::InputController(server, client),
      env_(std::move(environment)),
      engine_(*env_.engine),
      arrows_(ControllerDefaults::arrows()),
      shortCutInputDic_(ControllerDefaults::shortCutInputDic()),
      macros_(ControllerDefaults::macros()),
      hint_([this] {
          if (!env_.hint.queue) env_.hint.queue = env_.queue;
          return env_.hint;
      }()),
      numbers_(ControllerDefaults::numbers()),
      systemList_(ControllerDefaults::systemList()),
      noMarcoList_(ControllerDefaults::noMarcoList()),
      shortCutComma_(ControllerDefaults::shortCutComma()),
      self_(std::make_shared<TaviroController*>(this)) {
    if (!env_.config) env_.config = &ConfigManager::shared();
    if (!env_.windows) env_.windows = &CandidateWindowHolder::shared();
    if (!env_.defaults) env_.defaults = &plat::UserDefaults::shared();
    if (!env_.keyLogger) env_.keyLogger = &KeyLogger::shared();
    if (!env_.queue) env_.queue = &plat::MainQueue::shared();
    if (!env_.expandTemplate) env_.expandTemplate = [](const std::string& t) { return expandPhraseTemplate(t); };
}

TaviroController::~TaviroController() {
    timer_.cancel();
    if (window().delegate() == this) window().setDelegate(nullptr);
}

CandidateWindow& TaviroController::window() const { return env_.windows->window(); }

std::shared_ptr<const Settings> TaviroController::settings() const { return env_.config->settings(); }

template <typename F>
void TaviroController::later(std::chrono::milliseconds delay, F fn) {
    std::weak_ptr<TaviroController*> weak = self_;
    env_.queue->after(delay, [weak, fn] {
        if (auto self = weak.lock()) fn(**self);
    });
}

// ---------------------------------------------------------------------------
// Output

void TaviroController::insertText(const std::string& text) {
    TextOutput::insertText(text, std::nullopt, currentClient_, *settings());
}

void TaviroController::setMarkedText(const std::string& text, const std::optional<plat::TextAttributes>& attributes) {
    TextOutput::setMarkedText(text, attributes, currentClient_, *settings(),
                              [this](const std::string& keys) { return engine_.pinyinDisplay(keys); });
}

void TaviroController::output(const std::string& text) {
    if (currentClient_) insertText(text);
}

void TaviroController::closeWindow() {
    CandidateWindow& w = window();
    w.setSelectedIndex(0);
    w.setCurrentPage(0);
    w.close();
}

// ---------------------------------------------------------------------------
// Key road

bool TaviroController::handleEvent(const KeyEvent& event, plat::TextInputClient* client) {
    if (holdWhileNotReady(event, client)) return true;
    return handle(event, client);
}

namespace {
constexpr auto kHeldKeyPoll = std::chrono::milliseconds(5);
// Past 150 ms (or this many keys) the keys go on as typed, with the waiting text, and
// no key is held again until the store has been ready.
constexpr int kMaxHeldPolls = 30;
constexpr std::size_t kMaxHeldKeys = 256;

bool plainKey(const KeyEvent& event) {
    return event.type == plat::EventType::keyDown &&
           (event.modifierFlags & ~(Flag::shift | Flag::capsLock | Flag::numericPad)) == 0;
}
} // namespace

bool TaviroController::holdWhileNotReady(const KeyEvent& event, plat::TextInputClient* client) {
    const bool ready = engine_.isReady();
    if (ready) heldTooLong_ = false;
    if (heldKeys_.empty()) {
        if (ready || heldTooLong_ || englishMode_ || !plainKey(event) || engine_.inputBuffer().empty())
            return false;
        heldPolls_ = 0;
        pollHeldKeys();
    } else if (ready || (!plainKey(event) && event.type != plat::EventType::flagsChanged) ||
               heldKeys_.size() >= kMaxHeldKeys) {
        // What came first goes first.
        releaseHeldKeys();
        return false;
    }
    heldKeys_.push_back({event, client});
    return true;
}

void TaviroController::pollHeldKeys() {
    later(kHeldKeyPoll, [](TaviroController& c) {
        if (c.heldKeys_.empty()) return;
        if (c.engine_.isReady()) {
            c.releaseHeldKeys();
        } else if (++c.heldPolls_ >= kMaxHeldPolls) {
            c.heldTooLong_ = true;
            c.releaseHeldKeys();
        } else {
            c.pollHeldKeys();
        }
    });
}

void TaviroController::releaseHeldKeys() {
    const auto keys = std::move(heldKeys_);
    heldKeys_.clear();
    for (const auto& k : keys) {
        if (handle(k.event, k.client)) continue;
        // A key the input method does not take was the client's: its text, as typed.
        const auto& text = k.event.characters;
        if (k.client && text && text->size() == 1 && (*text)[0] >= 0x20 && (*text)[0] < 0x7f)
            k.client->insertText(*text, {plat::kNotFound, 0});
    }
}

bool TaviroController::isCodeCharacter(const std::string& key, const Settings& s, const std::string& schemeKeys) const {
    if (key.empty()) return false;
    std::string set = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    if (s.codeTableVersion >= 0) set += '`';
    if (!s.disableBootButton) set += ";'";
    set += s.extraCode;
    set += schemeKeys;
    return contains(set, key);
}

bool TaviroController::handle(const std::optional<KeyEvent>& maybeEvent, plat::TextInputClient* /*client*/) {
    if (!maybeEvent) return false;
    const KeyEvent& event = *maybeEvent;
    const auto s = settings();

    // 1-2: statistics, then modifier events.
    if (s->keyLogger) env_.keyLogger->countKey();
    if (event.type == plat::EventType::flagsChanged) return flagsChanged(event);

    // A list made while the store was not ready is made again before the key acts on it.
    refreshStaleCandidates();

    // 3: any other key ends a pending mode-key tap.
    readyToChangeMode_ = false;
    timer_.cancel();
    lastModifierFlags_ = event.modifierFlags;
    if (lastModifierFlags_ == Flag::arrowKey || lastModifierFlags_ == Flag::command) lastModifierFlags_ = 0;

    // 4: English mode passes everything.
    if (englishMode_) {
        lastModifierFlags_ = 0;
        return false;
    }
    const std::uint16_t code = event.keyCode;
    const std::uint64_t flags = event.modifierFlags;

    // 5: Home and End do nothing while candidates show.
    if (window().isVisible() && (code == Key::home || code == Key::end)) return true;

    // 6: keys with other modifiers go to the client.
    const bool exempt = code == Key::pageUp || code == Key::pageDown ||
                        std::find(arrows_.begin(), arrows_.end(), code) != arrows_.end();
    if (!exempt && flags != 0 && flags != Flag::shift && flags != Flag::control && flags != Flag::numericPad)
        return false;
    // 7
    lastModifierFlags_ = 0;
    // Whether the page on show was turned by "." (and so "." was meant as text).
    const bool dotTurnedPage = dotTurnedPage_;
    dotTurnedPage_ = false;

    // 8: paging keys.
    if (code == Key::pageDown && window().isVisible()) {
        window().nextPage();
        return true;
    }
    if (code == Key::pageUp && window().isVisible()) {
        window().previousPage();
        return true;
    }
    if (code == Key::tab && window().isVisible() && s->tabPage) {
        if (flags == kShiftOnly) window().previousPage();
        else window().nextPage();
        return true;
    }

    std::string buffer = engine_.inputBuffer();
    if (event.characters && !event.characters->empty()) {
        // 9: the key text.
        std::string K = *event.characters;
        // The US key under control types its control character, as the
        // key itself did (Control+C stays a shortcut, never the letter c).
        if (s->forceQwerty)
            if (auto us = keyEventToUSCharacter(event))
                K = (flags & Flag::control) ? plat::UsKeyboard::controlCharacters(*us) : *us;
        // The scheme's own code keys count as if listed in "ExtraCode".
        const std::string schemeKeys = engine_.schemeCodeKeys();
        const bool inExtra = contains(s->extraCode, K) || contains(schemeKeys, K);

        // 10: a period after a code without candidates joins the code.
        if (!inExtra && K == "." && !buffer.empty() && engine_.candidateCount() == 0) {
            refreshComposition(".");
            return true;
        }
        // 11: punctuation that pages.
        if (contains(",.[]-=", K) && window().isVisible() && !inExtra) {
            if (K == "." && contains(buffer, ".")) {
                refreshComposition(".");
                return true;
            }
            if (K == "." && s->djPage) {
                window().nextPage();
                if (window().currentPage() == 0 && s->fourCode == 0) refreshComposition(".");
                else dotTurnedPage_ = true;
                return true;
            }
            if (K == "," && s->djPage) { window().previousPage(); return true; }
            if (K == "]" && s->khPage) { window().nextPage(); return true; }
            if (K == "[" && s->khPage) { window().previousPage(); return true; }
            if (K == "=" && s->jdPage) { window().nextPage(); return true; }
            if (K == "-" && s->jdPage) { window().previousPage(); return true; }
        }
        // 12: the guide keys select the second and third candidates.
        if ((K == ";" || K == "'") && !s->disableBootButton && !inExtra) {
            if (s->quanPin && window().isVisible() && K == "'") {
                refreshComposition("'");
                return true;
            }
            if (!buffer.empty()) {
                const std::string first = firstCharacter(buffer);
                if (first != ";" && first != "'") {
                    if (window().isVisible() && !s->closeBootButtonSecond) {
                        window().highlightCandidate(K == ";" ? 1 : 2);
                        commitComposition(currentClient_);
                        return true;
                    }
                    commitComposition(currentClient_);
                    if (K == ";") {
                        output(s->forceEngComma ? ";" : "；");
                    } else {
                        output(s->forceEngComma ? "'" : (rightComma_ ? "’" : "‘"));
                        rightComma_ = !rightComma_;
                    }
                    return true;
                }
            }
        }
        // 13: "." and ":" right after a digit stay ASCII.
        if ((K == "." || K == ":") && needEnComma_ && !inExtra) {
            output(K);
            needEnComma_ = false;
            return true;
        }
        // 14: paired quotation marks. A closing mark commits the composition
        // first, as other punctuation does, so the typed word is not replaced.
        const auto mapped = s->puncMapDict.find(K);
        const std::string M = mapped == s->puncMapDict.end() ? std::string() : mapped->second;
        if (rightComma_ && M == "“" && !s->forceEngComma && !inExtra) {
            commitComposition(currentClient_);
            output("”");
            rightComma_ = false;
            return true;
        } else if (M == "“" && !s->forceEngComma && !inExtra) {
            rightComma_ = true;
        } else if (rightComma_ && M == "‘" && !s->forceEngComma && s->disableBootButton) {
            commitComposition(currentClient_);
            output("’");
            rightComma_ = false;
            return true;
        } else if (M == "‘" && !s->forceEngComma && s->disableBootButton) {
            rightComma_ = true;
        }
        // 15: keys outside the code characters.
        if (!isCodeCharacter(K, *s, schemeKeys)) {
            bool toEditing = false;
            if (window().isVisible() && K == "@") {
                refreshComposition(K);
                return true;
            }
            if (!s->forceEngComma) {
                if (auto text = punctuationOutput(K, s->puncMapDict)) {
                    commitComposition(currentClient_);
                    output(*text);
                    return true;
                }
            }
            if (K.size() != 1 || numbers_.find(K) == std::string::npos) {
                needEnComma_ = false;
                toEditing = true;
            }
            if (!toEditing) {
                const int digit = K[0] - '0';
                if (window().isVisible() && (flags == 0 || flags == Flag::numericPad)) {
                    if (digit > 0 && window().visibleCandidateCount() >= digit) {
                        window().highlightCandidate(digit - 1);
                        commitComposition(currentClient_);
                    } else {
                        refreshComposition(K);
                    }
                    return true;
                }
                if (window().isVisible() && s->userDict && flags == kControlOnly) {
                    const int n = digit == 0 ? 10 : digit;
                    engine_.forgetWord(n - 1);
                    refreshComposition("");
                    plat::SystemServices::shared().playSound("Frog");
                    return true;
                }
                if (!window().isVisible() && !engine_.inputBuffer().empty()) {
                    refreshComposition(K);
                    return true;
                }
                needEnComma_ = true;
                commitComposition(currentClient_);
                output(K);
                return true;
            }
        } else {
            buffer = engine_.inputBuffer();
            // 16: the key after a guide key.
            const std::string first = firstCharacter(buffer);
            if (!buffer.empty() && (first == ";" || first == "'") && !inExtra) {
                pendingCommitText().clear();
                closeWindow();
                return bootButtonOutput(K);
            }
            // 17: a code character. After "." turned the page, the "." joins the code.
            if (window().currentPage() > 0 && dotTurnedPage && !inExtra) refreshComposition(".");
            refreshComposition(K);
            needEnComma_ = false;
            return true;
        }
    }

    // 18: editing keys.
    buffer = engine_.inputBuffer();
    const bool visible = window().isVisible();
    const bool vertical = window().isVertical();
    auto forward = [this] {
        CandidateWindow& w = window();
        if (w.selectedIndex() + 1 == w.visibleCandidateCount()) {
            if (w.nextPage()) w.highlightCandidate(0);
        } else {
            w.highlightCandidate(w.selectedIndex() + 1);
        }
    };
    auto backward = [this] {
        CandidateWindow& w = window();
        if (w.selectedIndex() - 1 < 0) {
            if (w.previousPage()) w.highlightCandidate(w.visibleCandidateCount() - 1);
        } else {
            w.highlightCandidate(w.selectedIndex() - 1);
        }
    };
    if (code == Key::rightArrow && visible) {
        if (vertical) window().nextPage();
        else forward();
        return true;
    }
    if (code == Key::downArrow && visible) {
        if (vertical) forward();
        else window().nextPage();
        return true;
    }
    if (code == Key::leftArrow && visible) {
        if (vertical) window().previousPage();
        else backward();
        return true;
    }
    if (code == Key::upArrow && visible) {
        if (vertical) backward();
        else window().previousPage();
        return true;
    }
    if (((code == Key::h && flags == kControlOnly) || code == Key::deleteKey) && !buffer.empty()) {
        removeLastInputCharacter();
        return true;
    }
    if ((code == Key::returnKey || code == Key::keypadEnter) && !buffer.empty()) {
        pendingCommitText() = s->lockUpperCase ? upperCased(buffer) : buffer;
        // Without candidates the keys go in as the marked text showed them.
        if (!visible) commitKeys(pendingCommitText());
        else commitComposition(currentClient_);
        return true;
    }
    if (code == Key::space && !buffer.empty()) {
        if (!visible && s->spaceClean) {
            setMarkedText("", std::nullopt);
            engine_.clean();
            closeWindow();
        } else {
            commitComposition(currentClient_);
        }
        return true;
    }

    // 19: Escape or a control key drops the composition; anything else commits it.
    if (!buffer.empty() && (flags == kControlOnly || code == Key::escape)) {
        engine_.clean();
        refreshComposition("");
        pendingCommitText().clear();
        window().reloadCandidates();
        closeWindow();
        return true;
    }
    if (!buffer.empty()) commitComposition(currentClient_);
    return false;
}

bool TaviroController::showsWaitingCandidate() const {
    if (engine_.candidateCount() != 1) return false;
    const auto list = engine_.candidateStrings();
    return !list.empty() && TaviroIMEngine::isWaitingCandidate(list.front());
}

void TaviroController::refreshStaleCandidates() {
    if (!engine_.inputBuffer().empty() && engine_.isReady() && showsWaitingCandidate()) refreshComposition("");
}

void TaviroController::removeLastInputCharacter() {
    // The buffer without its last key, with the phrase state reset.
    auto chars = userCharacters(engine_.inputBuffer());
    if (!chars.empty()) chars.pop_back();
    std::string rest;
    for (const auto& c : chars) rest += c;
    engine_.clean();
    refreshComposition(rest);
}

// ---------------------------------------------------------------------------
// Mode switching

bool TaviroController::flagsChanged(const KeyEvent& event) {
    const auto s = settings();
    const std::uint64_t F = event.modifierFlags;
    if ((s->shiftSwitchMode && F == kShiftOnly) || (s->controlSwitchMode && F == kControlOnly)) {
        readyToChangeMode_ = lastModifierFlags_ == 0;
        timerCount_ = 0;
        timer_.cancel();
        std::weak_ptr<TaviroController*> weak = self_;
        timer_ = env_.queue->repeating(std::chrono::milliseconds(100), [weak] {
            if (auto self = weak.lock()) (*self)->shiftPressDownCounter();
        });
        if (currentClient_) selectionCount_ = currentClient_->selectedRange().length;
        return true;
    }
    if (!readyToChangeMode_ || F != 0) {
        readyToChangeMode_ = false;
        isCombo_ = F != 0;
        return false;
    }
    readyToChangeMode_ = false;
    timer_.cancel();
    const bool counts = timerCount_ <= 0.2 + 1e-9 && currentClient_ && !isCombo_ &&
                        currentClient_->selectedRange().length == selectionCount_;
    if (!counts) {
        selectionCount_ = 0;
        isCombo_ = false;
        return false;
    }
    selectionCount_ = 0;
    lastModifierFlags_ = 0;
    refreshStaleCandidates();
    if (s->shiftToBoot && window().isVisible()) {
        if (engine_.candidateCount() >= 2) window().highlightCandidate(1);
        commitComposition(currentClient_);
        return true;
    }
    setEnglishModeByUser(!englishMode_);
    if (s->persistedEnMode) env_.defaults->setBool("EnMode", englishMode_);
    showStatusHint(englishMode_ ? "En" : "中");
    const std::string kept = engine_.inputBuffer();
    if (!kept.empty()) {
        engine_.clean();
        refreshComposition("");
        output(kept);
    }
    window().reloadCandidates();
    closeWindow();
    return true;
}

// ---------------------------------------------------------------------------
// Lifecycle

bool TaviroController::matchesSilenceList(const std::vector<std::string>& names, const Settings& s) const {
    for (const auto& name : names)
        if (systemList_.count(name) || s.silenceDict.count(name)) return true;
    for (const auto& entry : s.silenceDict)
        for (const auto& name : names)
            if (patternMatches(entry.first, name)) return true;
    return false;
}

void TaviroController::setEnglishModeByUser(bool english) {
    englishMode_ = english;
    modeBeforeSilence_.reset();
}

void TaviroController::activateServer(plat::TextInputClient* sender) {
    currentClient_ = sender;
    window().setDelegate(this);
    const auto s = settings();
    const auto id = currentClient_ ? currentClient_->bundleIdentifier() : std::nullopt;
    plat::log(id.value_or("(no bundle identifier)") + " !!!active!!!");
    const bool silenced = !s->persistedEnMode && s->silence && id &&
                          matchesSilenceList(currentClient_->applicationNames(), *s);
    if (silenced) {
        if (!modeBeforeSilence_) modeBeforeSilence_ = englishMode_;
        englishMode_ = true;
    } else if (modeBeforeSilence_) {
        // Taken off the list (or silence turned off): the mode it had before.
        englishMode_ = *modeBeforeSilence_;
        modeBeforeSilence_.reset();
    }
    if (s->persistedEnMode) {
        englishMode_ = env_.defaults->boolForKey("EnMode");
        env_.defaults->setBool("EnMode", englishMode_);
    }
    if (s->statusHint && currentClient_) showStatusHint(englishMode_ ? "En" : "中");
}

void TaviroController::deactivateServer(plat::TextInputClient* /*sender*/) {
    releaseHeldKeys();
    const auto id = currentClient_ ? currentClient_->bundleIdentifier() : std::nullopt;
    plat::log(id.value_or("(no client)") + " !!!deactivate!!!");
    const bool composing = !engine_.inputBuffer().empty();
    engine_.clean();
    // The discarded composition leaves no marked text behind.
    if (composing && currentClient_) setMarkedText("", std::nullopt);
    closeWindow();
    env_.windows->touchBar().dismissTouchBar();
    env_.keyLogger->flush();
    hint_.hideNow();
}

// ---------------------------------------------------------------------------
// Composition

void TaviroController::refreshComposition(const std::string& key) {
    // A full composition takes no more keys.
    if (!key.empty() && engine_.inputBuffer().size() + key.size() > kMaxCompositionKeys) {
        if (!toldBufferFull_) {
            toldBufferFull_ = true;
            plat::log("The composition is full: keys beyond " + std::to_string(kMaxCompositionKeys) +
                      " are dropped");
            if (env_.notice) env_.notice->post(kBufferFullTitle, kBufferFullText);
        }
        return;
    }
    if (!key.empty()) toldBufferFull_ = false;
    const std::size_t previousCount = engine_.candidateCount();
    const std::string previousFirstCode = engine_.firstCandidateCode();
    std::string M = engine_.getCandidates(key);
    const auto s = settings();
    const std::string buffer = engine_.inputBuffer();
    const bool Z = !buffer.empty() && buffer[0] == 'z' && s->zFullSpell;
    const auto codeLength = static_cast<std::size_t>(std::max<std::int64_t>(0, s->codeLength));
    const bool shapeCode = s->fourCode >= 1 && s->fourCode <= 4;
    // Counted once per key, and only where a rule needs it.
    const std::size_t length = shapeCode ? userCharacterCount(M) : 0;

    // Overflow commit.
    if ((s->fourCode == 1 || s->fourCode == 2) && length > codeLength && !Z && !fiveCodeDedouble_) {
        if (previousCount > 0 && !previousFirstCode.empty()) {
            fiveCodeDedouble_ = true;
            commitComposition(currentClient_);
            M = engine_.getCandidates(key);
        } else if (s->emptyClean) {
            fiveCodeDedouble_ = true;
            engine_.clean();
            refreshComposition("");
            M = engine_.inputBuffer();
        }
    } else {
        fiveCodeDedouble_ = false;
    }
    // Empty-code commit.
    if ((s->fourCode == 3 || s->fourCode == 4) && engine_.candidateCount() == 0 && previousCount > 0 &&
        length > 1 && !Z) {
        commitComposition(currentClient_);
        M = engine_.getCandidates(key);
    }
    showCandidateWindow();
    // The waiting candidate commits nothing by itself.
    const bool waiting = showsWaitingCandidate();
    // Unique-candidate commit.
    if (s->fourCode == 4 && engine_.candidateCount() == 1 && !M.empty() && !Z && !waiting &&
        !engine_.hasLongerCode(M)) {
        commitComposition(currentClient_);
        engine_.clean();
        M.clear();
    }
    // Full-length commit.
    if (s->fourCode == 1 && engine_.candidateCount() == 1 && !Z && !waiting && userCharacterCount(M) == codeLength) {
        commitComposition(currentClient_);
        return;
    }
    if (s->fourCode == 1 && s->emptyClean && !Z && engine_.candidateCount() == 0 &&
        userCharacterCount(engine_.inputBuffer()) == codeLength) {
        engine_.clean();
        M.clear();
    }
    setMarkedText(M, markForStyle(kConvertedTextStyle, {plat::kNotFound, 0}));
    if (M.empty()) {
        closeWindow();
        pendingCommitText().clear();
    }
}

void TaviroController::showCandidateWindow() { env_.windows->show(*this); }

void TaviroController::commitComposition(plat::TextInputClient* /*sender*/) {
    refreshStaleCandidates();
    const std::string B = engine_.inputBuffer();
    if (B.empty()) return;
    std::string& pending = pendingCommitText();

    // No candidate showing: the raw keys are committed and nothing is learnt.
    if (!window().isVisible()) {
        commitKeys(B);
        return;
    }
    // A key before the refresh after a partial commit: take the fresh list's
    // highlight. A rest without candidates goes in as typed.
    if (pending.empty()) {
        showCandidateWindow();
        if (!window().isVisible() || pending.empty()) {
            commitKeys(B);
            return;
        }
    }
    // The waiting candidate is no text: nothing is committed or counted and
    // the composition stays as typed.
    if (TaviroIMEngine::isWaitingCandidate(pending)) return;

    // The one count of committed characters (the engine's own counter stays unset).
    env_.keyLogger->countCharacters(pending);
    const std::string R = engine_.commitSelection(pending);
    if (!R.empty()) {
        insertText(pending);
        pending.clear();
        setMarkedText(R, markForStyle(kConvertedTextStyle, {plat::kNotFound, 0}));
        later(std::chrono::milliseconds(1), [](TaviroController& c) {
            if (!c.engine_.inputBuffer().empty()) c.showCandidateWindow();
        });
        return;
    }
    insertText(composedString());
    closeWindow();
    pending.clear();
}

void TaviroController::commitKeys(const std::string& text) {
    env_.keyLogger->countCharacters(text);
    engine_.clean();
    insertText(text);
    closeWindow();
    pendingCommitText().clear();
}

std::vector<std::string> TaviroController::candidates() { return engine_.candidateStrings(); }

void TaviroController::candidateSelectionChanged(const std::string& candidate) {
    const auto sep = candidate.find(kHintSeparator);
    pendingCommitText() = sep == std::string::npos ? candidate : candidate.substr(0, sep);
}

void TaviroController::candidateSelected(const std::string& candidate) {
    plat::log("candidateSelected: " + pendingCommitText() + " candidateString:" + candidate);
    commitComposition(currentClient_);
}

std::string TaviroController::composedString() const { return pendingCommitText() + engine_.inputBuffer(); }
std::string TaviroController::originalString() const { return engine_.inputBuffer(); }

// ---------------------------------------------------------------------------
// Function commands

void TaviroController::setConfig(const std::function<void(Settings&)>& change, bool reloadStrategy) {
    env_.config->update(change);
    env_.config->saveConfig();
    if (reloadStrategy) engine_.reloadInputDelegate();
}

int TaviroController::performFunctionKey(const std::string& name) {
    const int count = static_cast<int>(userCharacterCount(name));
    auto fourCode = [&](int mode) { setConfig([mode](Settings& s) { s.fourCode = mode; }, true); };
    if (name == "#光标左移") {
        if (currentClient_) TextOutput::postSyntheticKey(-1);
    } else if (name == "#光标右移") {
        if (currentClient_) TextOutput::postSyntheticKey(1);
    } else if (name == "#行首") {
        if (currentClient_) plat::SystemServices::shared().postKeyPress(Key::home);
    } else if (name == "#行尾") {
        if (currentClient_) plat::SystemServices::shared().postKeyPress(Key::end);
    } else if (name == "#上次上屏") {
        if (currentClient_) insertText(TextOutput::lastCommittedText());
        engine_.clean();
    } else if (name == "#撤销上屏") {
        // Only once, and only in the client that received the text.
        if (currentClient_ && TextOutput::lastCommittedClient() == currentClient_) {
            const std::size_t n = userCharacterCount(TextOutput::lastCommittedText());
            for (std::size_t i = 0; i < n; ++i) plat::SystemServices::shared().postKeyPress(Key::deleteKey);
            TextOutput::forgetLastCommittedClient();
        }
        engine_.clean();
    } else if (name == "#软回车") {
        if (currentClient_) insertText("\u2028");
        engine_.clean();
    } else if (name == "#硬回车") {
        if (currentClient_) insertText("\n");
        engine_.clean();
    } else if (name == "#粘贴") {
        if (auto text = plat::SystemServices::shared().pasteboardString(); text && currentClient_) insertText(*text);
    } else if (name == "#空格上屏") {
        fourCode(0);
    } else if (name == "#四码上屏") {
        fourCode(1);
    } else if (name == "#顶字上屏") {
        fourCode(2);
    } else if (name == "#空码顶字上屏") {
        fourCode(3);
    } else if (name == "#空码直接上屏") {
        fourCode(4);
    } else if (name == "#繁简切换") {
        setConfig([](Settings& s) { s.s2t = !s.s2t; }, false);
        showStatusHint(settings()->s2t ? "繁" : "简");
    } else if (name == "#中英切换") {
        setEnglishModeByUser(!englishMode_);
        if (settings()->persistedEnMode) env_.defaults->setBool("EnMode", englishMode_);
        showStatusHint(englishMode_ ? "En" : "中");
    } else if (name == "#退格") {
        later(std::chrono::milliseconds(100), [](TaviroController& c) { c.sendBackspace(); });
    } else if (name == "#全拼") {
        if (!settings()->disableDatabase) setConfig([](Settings& s) { s.quanPin = !s.quanPin; }, true);
    } else {
        return 0;
    }
    return count;
}

void TaviroController::sendBackspace() {
    if (currentClient_) plat::SystemServices::shared().postKeyPress(Key::deleteKey);
}

void TaviroController::insertMacroText(const std::string& text) {
    std::string t = text;
    std::size_t i = 0;  // byte offset; "#" is one byte in UTF-8
    while (i < t.size()) {
        if (t[i] != '#') {
            ++i;
            continue;
        }
        if (currentClient_) insertText(t.substr(0, i));
        t.erase(0, i);
        bool ran = false;
        for (const auto& name : macros_) {
            if (t.compare(0, name.size(), name) == 0) {
                // Names without an effect ("#声音", "#振动") are consumed silently.
                performFunctionKey(name);
                t.erase(0, name.size());
                i = 0;
                ran = true;
                break;
            }
        }
        if (ran) continue;
        static const std::string link = "#链接";
        if (t.compare(0, link.size(), link) == 0) {
            std::string rest;
            for (char c : t.substr(link.size()))
                if (c != ' ') rest += c;
            if (isOpenableURL(rest)) {
                plat::SystemServices::shared().openURL(rest);
                t.clear();
            } else {
                t = rest;
            }
            i = 1;
            continue;
        }
        i = 1;
    }
    if (currentClient_) insertText(t);
}

// ---------------------------------------------------------------------------
// Guide buttons

bool TaviroController::bootButtonOutput(const std::string& key) {
    const auto s = settings();
    const std::filesystem::path userFolder = env_.userFolder.value_or(plat::Paths::userFolder());
    const std::filesystem::path perUserFolder = env_.perUserFolder.value_or(plat::Paths::perUserFolder());

    // A table of strings only; anything else counts as unreadable.
    auto readTable = [](const std::filesystem::path& path) -> std::optional<std::map<std::string, std::string>> {
        const auto root = plat::readPlistFile(path, plat::PlistValue::Type::Dictionary);
        if (!root) return std::nullopt;
        std::map<std::string, std::string> table;
        for (const auto& [k, v] : *root->asDictionary()) {
            const std::string* str = v.stringPtr();
            if (!str) return std::nullopt;
            table.emplace(k, *str);
        }
        return table;
    };
    std::optional<std::map<std::string, std::string>> table;
    if (plat::Paths::isSafeRelativeName(s->bootButtonName))
        table = readTable(userFolder / "BootButtons" / s->bootButtonName);
    if (table) {
        shortCutInputDic_ = std::move(*table);
        shortCutInputDic_[";"] = "；";
    } else if (auto fallback = readTable(perUserFolder / "BootButtons.plist")) {
        shortCutInputDic_ = std::move(*fallback);
    }
    shortCutInputDic_["'⇣"] = shortCutComma_;

    const std::string buffer = engine_.inputBuffer();
    const std::string first = firstCharacter(buffer);
    if (buffer.empty() || (first != ";" && first != "'")) return false;
    const std::string lookup = asciiLower(key) + (first == "'" ? "⇣" : "");
    const auto it = shortCutInputDic_.find(lookup);
    if (it == shortCutInputDic_.end()) return false;
    const std::string value = it->second;
    if (key == "'" && first == "'") shortCutComma_ = shortCutComma_ == "‘" ? "’" : "‘";

    engine_.clean();
    if (currentClient_) setMarkedText("", std::nullopt);
    const std::string expanded = env_.expandTemplate(value);
    if (currentClient_) {
        const auto id = currentClient_->bundleIdentifier();
        if (!id || noMarcoList_.count(*id)) insertText(expanded);
        else if (expanded.find('#') != std::string::npos) insertMacroText(expanded);
        else insertText(expanded);
    }
    return true;
}

void TaviroController::showStatusHint(const std::string& text) {
    hint_.show(text, currentClient_, isDarkAppearance(settings()->skinColor, systemInterfaceStyle()),
               isVoiceOverOn());
}

} // namespace taviro
