#include "InputMethod/TavCandidates/TouchBarCandidateController.h"

#include "InputMethod/CandidateWindow.h"
#include "InputMethod/Core/Engine/EngineText.h"
#include "InputMethod/TavCandidates/CandidateCell.h"
#include "InputMethod/TextOutput.h"
#include "InputMethod/TextUnits.h"
#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"

#include <algorithm>
#include <cctype>
#include <exception>

namespace taviro {
namespace {

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

TouchBarCandidateController::TouchBarCandidateController(Environment environment) : env_(std::move(environment)) {
    if (!env_.host) env_.host = &plat::TouchBarHost::shared();
    if (!env_.measurer) env_.measurer = std::make_shared<FixedWidthMeasurer>();
    if (!env_.host->exists()) {
        // Nothing is shown: the hints fall back to the common words.
        env_.loadHints = [] { return HintTable{}; };
    } else if (!env_.loadHints) {
        auto done = std::make_shared<std::promise<std::shared_ptr<const HintTable>>>();
        reading_ = done->get_future().share();
        plat::WorkerPool::shared().submit([done] {
            // The promise is always kept: a failed read gives an empty table.
            std::shared_ptr<const HintTable> table;
            try {
                table = std::make_shared<const HintTable>(readBundleHints());
            } catch (const std::exception& e) {
                plat::log(std::string("Touch Bar hints not read: ") + e.what());
            }
            done->set_value(table ? std::move(table) : std::make_shared<const HintTable>());
        });
    }
}

const std::vector<std::string>& TouchBarCandidateController::commonWords() {
    static const std::vector<std::string> words{"我", "你", "在", "这", "一", "不", "是", "有",
                                                "我们", "今天", "就", "好", "他", "那", "但", "也"};
    return words;
}

plat::TouchBarColor TouchBarCandidateController::unSelectedBackGroundColor() {
    return {49.0 / 255, 66.0 / 255, 79.0 / 255, 1.0};
}
plat::TouchBarColor TouchBarCandidateController::selectedBackGroundColor() {
    return {79.0 / 255, 98.0 / 255, 120.0 / 255, 1.0};
}
plat::TouchBarColor TouchBarCandidateController::stripBackground() { return {1.0, 1.0, 1.0, 0.2}; }

TouchBarCandidateController::HintTable TouchBarCandidateController::readBundleHints() {
    HintTable table;
    const auto path = plat::Paths::resourcePath(plat::Bundle::TaviroMac2, "smartHint", "plist");
    if (!path) return table;
    const auto value = plat::readPlistFile(*path);
    const auto* dictionary = value ? value->asDictionary() : nullptr;
    if (!dictionary) return table;
    for (const auto& [key, entry] : *dictionary) {
        const auto* array = entry.asArray();
        if (!array) continue;
        std::vector<std::string> words;
        for (const auto& word : *array)
            if (const auto* text = word.stringPtr()) words.push_back(*text);
        table.emplace(key, std::move(words));
    }
    return table;
}

CandidateWindowDelegate* TouchBarCandidateController::delegate() const {
    if (imkDelegate_) return imkDelegate_;
    CandidateWindow* window = env_.window ? env_.window() : nullptr;
    return window ? window->delegate() : nullptr;
}

const TouchBarCandidateController::HintTable& TouchBarCandidateController::smartHint() {
    if (!smartHint_)
        smartHint_ = reading_.valid() ? reading_.get() : std::make_shared<const HintTable>(env_.loadHints());
    return *smartHint_;
}

void TouchBarCandidateController::loadVisibleCandidates() {
    isThinking_ = false;
    candidateCache_.clear();
    if (CandidateWindow* window = env_.window ? env_.window() : nullptr)
        for (const auto& text : window->visibleCandidates()) candidateCache_.push_back(CandidateCell::displayText(text));
    reloadData();
}

void TouchBarCandidateController::updateCandidates() {
    isThinking_ = true;
    CandidateWindowDelegate* controller = delegate();
    plat::TextInputClient* client = controller ? controller->currentClient() : nullptr;
    const auto before = client ? TextOutput::textBeforeCaret(client) : std::nullopt;
    if (!before) {
        candidateCache_ = commonWords();
        reloadData();
        return;
    }
    candidateCache_.clear();
    const auto words = tokenizeChinese(TokenizerUnit::word, *before);
    bool foundWord = false;
    if (!words.empty() && userCharacterCount(words.back()) >= 2) {
        const auto& table = smartHint();
        if (auto it = table.find(lowered(words.back())); it != table.end()) {
            candidateCache_ = it->second;
            foundWord = true;
        }
    }
    if (!foundWord && !before->empty()) {
        const auto characters = userCharacters(*before);
        if (!characters.empty()) {
            const auto& table = smartHint();
            if (auto it = table.find(characters.back()); it != table.end()) candidateCache_ = it->second;
        }
    }
    if (candidateCache_.empty()) candidateCache_ = commonWords();
    reloadData();
}

Size TouchBarCandidateController::cellWidth(int index) const {
    const double minimum = frame_.size.width / static_cast<double>(candidateCache_.size());
    const double text =
        env_.measurer->sizeToFit(candidateCache_[static_cast<std::size_t>(index)], Font{"", 16.0, false}).width;
    return {std::max(text + kTextMargin, minimum), frame_.size.height};
}

plat::ScrubberItem TouchBarCandidateController::itemAt(int index) const {
    const Size size = cellWidth(index);
    return {candidateCache_[static_cast<std::size_t>(index)], size.width, size.height, unSelectedBackGroundColor()};
}

void TouchBarCandidateController::reloadData() {
    std::vector<plat::ScrubberItem> items;
    items.reserve(candidateCache_.size());
    for (int i = 0; i < numberOfItems(); ++i) items.push_back(itemAt(i));
    env_.host->reloadScrubber(kItemIdentifier, items);
}

void TouchBarCandidateController::didHighlightItemAtIndex(int index) {
    if (index < 0 || index >= numberOfItems()) return;
    if (lastHighlightIndex_ >= 0 && lastHighlightIndex_ < numberOfItems())
        env_.host->setScrubberItemBackground(kItemIdentifier, lastHighlightIndex_, unSelectedBackGroundColor());
    env_.host->setScrubberItemBackground(kItemIdentifier, index, selectedBackGroundColor());
    lastHighlightIndex_ = index;
    // Hints have no counterpart in the window.
    if (!isThinking_)
        if (CandidateWindow* window = env_.window ? env_.window() : nullptr) window->highlightCandidate(index);
}

void TouchBarCandidateController::didSelectItemAtIndex(int index) {
    if (index < 0 || index >= numberOfItems()) return;
    CandidateWindow* window = env_.window ? env_.window() : nullptr;
    CandidateWindowDelegate* controller = window ? window->delegate() : nullptr;
    if (isThinking_ && controller && controller->currentClient()) {
        const std::string word = candidateCache_[static_cast<std::size_t>(index)];
        controller->insertText(word);
        updateCandidates();
        return;
    }
    if (!window) return;
    window->highlightCandidate(index);
    window->selectCandidate();
}

void TouchBarCandidateController::didFinishInteracting() {
    if (lastHighlightIndex_ >= 0 && lastHighlightIndex_ < numberOfItems())
        env_.host->setScrubberItemBackground(kItemIdentifier, lastHighlightIndex_, unSelectedBackGroundColor());
}

} // namespace taviro
