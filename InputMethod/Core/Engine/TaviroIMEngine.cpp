#include "InputMethod/Core/Engine/TaviroIMEngine.h"

#include <atomic>
#include <filesystem>

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Double2Pinyin.h"
#include "InputMethod/Core/Engine/BundleTables.h"
#include "InputMethod/Core/Engine/ChineseConverter.h"
#include "InputMethod/Core/Engine/EngineText.h"
#include "InputMethod/Core/Engine/FourCodeInputStrategy.h"
#include "InputMethod/Core/PhraseTemplate.h"
#include "InputMethod/Core/Engine/QuanpinStrategy.h"
#include "InputMethod/Core/Engine/SunpyInputStrategy.h"
#include "InputMethod/Core/Settings.h"
#include "Platform/SunPinyin/SunpinyinWrapper.h"

namespace taviro {

namespace {

std::atomic<bool>& readyFlag() {
    static std::atomic<bool> ready{false};
    return ready;
}

} // namespace

TaviroIMEngine& TaviroIMEngine::shared() {
    // Never destroyed: start-up work may still run at exit.
    static TaviroIMEngine* engine = new TaviroIMEngine();
    return *engine;
}

TaviroIMEngine::TaviroIMEngine() : TaviroIMEngine(Options{}) {}

TaviroIMEngine::TaviroIMEngine(Options options) : options_(std::move(options)) {
    store_ = options_.environment.storePtr();
    options_.environment.database = store_;
    std::promise<std::shared_future<void>> reopened;
    reopened_ = reopened.get_future().share();
    if (!options_.startUp) {
        std::promise<void> none;
        none.set_value();
        reopened.set_value(none.get_future().share());
        return;
    }
    // Three independent parts run side by side; the flag goes up once the
    // store is open again, the strategy has finished its set-up and the
    // bundle tables of the first lookups are loaded, so that the first keys
    // after it get complete answers.
    auto store = store_;
    auto promise = std::make_shared<std::promise<std::shared_future<void>>>(std::move(reopened));
    auto reopening = std::make_shared<std::shared_future<void>>();
    startUp_.async([this, store, reopening] {
        ensureCustomDatabase();
        *reopening = store->reloadDBLink();
        reopening->wait();
    });
    // The SunPinyin model is the longest part of the strategy's set-up: its
    // load starts at once, beside the strategy's construction, whose set-up
    // then finds it loaded.
    if (options_.environment.useSunpinyin)
        startUp_.async([this] {
            const auto s = settings();
            if (s->quanPin || s->fourCode <= 0) plat::SunpinyinWrapper::isAvailable();
        });
    startUp_.async([this] {
        reloadInputDelegate();
        if (auto strategy = inputDelegate()) strategy->waitForSetUp();
    });
    startUp_.async([resources = store_->locations().resourceDir] {
        BundleTables::py2hz(resources);
        BundleTables::pinyinFrequencies(resources);
    });
    startUp_.notify([promise, reopening] {
        setReady(true);
        promise->set_value(*reopening);
    });
}

TaviroIMEngine::~TaviroIMEngine() {
    waitForStartUp();
    waitForBackgroundWrites();
}

void TaviroIMEngine::waitForBackgroundWrites() { background_.wait(); }

bool TaviroIMEngine::waitForBackgroundWrites(std::chrono::milliseconds limit) { return background_.waitFor(limit); }

bool TaviroIMEngine::finishForExit(std::chrono::milliseconds limit) {
    const auto deadline = plat::TaskGroup::Clock::now() + limit;
    bool done = startUp_.waitUntil(deadline);
    if (done) done = reopened_.wait_until(deadline) == std::future_status::ready &&
                     reopened_.get().wait_until(deadline) == std::future_status::ready;
    done = background_.waitUntil(deadline) && done;
    done = store_->flushPendingUserWrites(deadline) && done;
    store_->closeAll();
    return done;
}

void TaviroIMEngine::waitForStartUp() {
    startUp_.wait();
    reopened_.get().wait();
}

bool TaviroIMEngine::waitForStartUp(std::chrono::milliseconds limit) {
    const auto deadline = plat::TaskGroup::Clock::now() + limit;
    return startUp_.waitUntil(deadline) && reopened_.wait_until(deadline) == std::future_status::ready &&
           reopened_.get().wait_until(deadline) == std::future_status::ready;
}

void TaviroIMEngine::setCharacterCounter(std::function<void(std::int64_t)> counter) {
    options_.countCharacters = std::move(counter);
}

std::string TaviroIMEngine::expandPhraseTemplate(std::string_view text) { return taviro::expandPhraseTemplate(text); }

bool TaviroIMEngine::isReady() { return readyFlag().load(); }
void TaviroIMEngine::setReady(bool ready) { readyFlag().store(ready); }
bool TaviroIMEngine::isWaitingCandidate(const std::string& text) { return text == kWaitingText; }

std::shared_ptr<const Settings> TaviroIMEngine::settings() const { return store_->currentSettings(); }

std::shared_ptr<InputDeletage> TaviroIMEngine::inputDelegate() const {
    std::lock_guard lk(delegateMutex_);
    return inputDelegate_;
}

Double2Pinyin& TaviroIMEngine::d2f() {
    std::lock_guard lk(d2fMutex_);
    if (!d2f_) d2f_ = std::make_unique<Double2Pinyin>(store_->locations().userFolder / "spScheme.plist");
    return *d2f_;
}

std::string TaviroIMEngine::schemeCodeKeys() {
    const auto s = settings();
    // The strategy of reloadInputDelegate that reads the scheme.
    if (s->quanPin || s->fourCode > 0) return {};
    return d2f().scheme()->codeKeys;
}

const std::array<const char*, 4>& TaviroIMEngine::optionList() { return ChineseConverter::optionList; }

void TaviroIMEngine::showWaitingCandidate() {
    candidates_.clear();
    kinds_.clear();
    if (inputBuffer_.empty()) return;
    candidates_.emplace_back("", kWaitingText);
    kinds_.push_back(Kind::waiting);
}

std::string TaviroIMEngine::getCandidates(const std::string& text) {
    if (!text.empty()) {
        if (inputBuffer_.empty() || candidates_.empty()) beforeKey_.reset();
        else beforeKey_ = BeforeKey{inputBuffer_, std::move(candidates_), std::move(kinds_)};
    }
    inputBuffer_ += text;
    auto strategy = inputDelegate();
    // Nothing is looked up before the store is ready or a strategy exists.
    if (!isReady() || !strategy) {
        showWaitingCandidate();
        return inputBuffer_;
    }
    candidates_ = strategy->candidates(inputBuffer_, false);
    kinds_.assign(candidates_.size(), Kind::strategy);

    if (inputBuffer_.find('.') != std::string::npos || inputBuffer_.find('@') != std::string::npos) {
        candidates_.insert(candidates_.begin(), CodeTable(inputBuffer_, inputBuffer_, 0, CodeTableFromType::english));
        kinds_.insert(kinds_.begin(), Kind::rawBuffer);
    } else if (commandWords().count(inputBuffer_)) {
        const auto block = dateTimeCandidates(inputBuffer_);
        if (candidates_.empty()) {
            candidates_ = block;
            kinds_.assign(block.size(), Kind::command);
        } else {
            const std::size_t at = settings()->zRepeat ? 0 : 1;
            candidates_.insert(candidates_.begin() + static_cast<std::ptrdiff_t>(at), block.begin(), block.end());
            kinds_.insert(kinds_.begin() + static_cast<std::ptrdiff_t>(at), block.size(), Kind::command);
        }
    }
    return inputBuffer_;
}

std::vector<std::string> TaviroIMEngine::candidateStrings() const {
    const auto s = settings();
    const bool backquote = inputBuffer_.find('`') != std::string::npos;
    const std::size_t length = characterCount(inputBuffer_);
    std::vector<std::string> out;
    out.reserve(candidates_.size());
    for (const auto& r : candidates_) {
        if (s->quanPin || !(s->revealCode || backquote || s->revealAssist)) {
            out.push_back(r.table);
            continue;
        }
        std::string hint;
        if (s->revealAssist && length / 2 == characterCount(r.table)) hint = r.preAssistedCode;
        if (backquote) hint = r.code;
        if (s->revealCode) {
            const auto at = r.code.find(inputBuffer_);
            if (at != std::string::npos) {
                hint = r.code;
                hint.erase(at, inputBuffer_.size());
            }
        }
        out.push_back(r.table + kHintSeparator + hint);
    }
    return out;
}

std::string TaviroIMEngine::commitSelection(const std::string& text) {
    const auto s = settings();
    if (s->keyLogger && options_.countCharacters)
        options_.countCharacters(static_cast<std::int64_t>(characterCount(text)));

    auto indexOf = [&text](const std::vector<CodeTable>& list) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i].table == text) return i;
        return std::nullopt;
    };
    std::optional<std::size_t> found = indexOf(candidates_);
    // A word committed by the first key of the next code (an overflow or an
    // empty code) is the one its own code showed: it is committed and learnt
    // from there, as if by space, and the key is the caller's to type again.
    if (!found && beforeKey_)
        if ((found = indexOf(beforeKey_->candidates))) {
            inputBuffer_ = std::move(beforeKey_->buffer);
            candidates_ = std::move(beforeKey_->candidates);
            kinds_ = std::move(beforeKey_->kinds);
        }
    beforeKey_.reset();

    if (!inputBuffer_.empty() && inputBuffer_[0] == 'z' && s->zFullSpell && !s->quanPin) {
        clean();
        return getCandidates("");
    }
    if (!found) {
        clean();
        return getCandidates("");
    }
    const Kind kind = *found < kinds_.size() ? kinds_[*found] : Kind::strategy;
    // The waiting candidate is no text: the buffer stays as typed.
    if (kind == Kind::waiting) return getCandidates("");
    // Command-word texts stand for the whole buffer and are never learnt.
    if (kind == Kind::command) {
        clean();
        return getCandidates("");
    }
    const CodeTable selected = candidates_[*found];

    const CodeTableFromType consuming{CodeTableFromType::user.rawValue | CodeTableFromType::mainCodeTable.rawValue |
                                      CodeTableFromType::custom.rawValue | CodeTableFromType::assisted.rawValue};
    const std::size_t k = (selected.from.isDisjoint(consuming) && !s->quanPin) ? 2 * characterCount(selected.table)
                                                                              : characterCount(selected.code);
    const bool emojiOrEnglish = !selected.from.isDisjoint(
        CodeTableFromType{CodeTableFromType::emoji.rawValue | CodeTableFromType::english.rawValue});
    if (k > characterCount(inputBuffer_) || emojiOrEnglish) {
        clean();
        return getCandidates("");
    }

    const std::string whole = inputBuffer_;
    inputBuffer_ = dropCharacters(inputBuffer_, k);
    // The keys this selection consumed: keys typed after an earlier part of
    // the phrase was selected belong to the later parts, not to the phrase's
    // first buffer.
    const std::string consumed = whole.substr(0, whole.size() - inputBuffer_.size());

    if (!inputBuffer_.empty()) {
        if (!learning_) {
            learning_ = true;
            learningInputBuffer_ = whole;
        }
        learningTable_ += selected.table;
        learningKeys_ += consumed;
    } else if (learning_) {
        learningTable_ += selected.table;
        learningKeys_ += consumed;
    }

    if (inputBuffer_.empty() && learning_) {
        learntCodeTable_ = CodeTable(learningKeys_, learningTable_, 1.0, CodeTableFromType{});
        learningTable_.clear();
        learningInputBuffer_.clear();
        learningKeys_.clear();
        learning_ = false;
        learn();
    }

    if (inputBuffer_.empty() && s->userDict && !selected.from.contains(CodeTableFromType::custom)) {
        CodeTable c = selected;
        c.code = consumed;
        c.weight = 0;
        store_->cleanCache();
        auto store = store_;
        background_.async([store, c]() mutable { store->updateUserWordRow(c, false); });
    }
    if (inputBuffer_.empty())
        if (auto strategy = inputDelegate()) strategy->compositionEnded();
    return getCandidates("");
}

void TaviroIMEngine::learn() {
    if (!settings()->userDict || !learntCodeTable_) return;
    CodeTable record = *learntCodeTable_;
    store_->insertUserWord(record, true);
    learntCodeTable_.reset();
}

void TaviroIMEngine::forgetWord(std::int64_t index) {
    if (!settings()->userDict || index < 0 || static_cast<std::size_t>(index) >= candidates_.size()) return;
    CodeTable& s = candidates_[static_cast<std::size_t>(index)];
    s.code = inputBuffer_;
    if (store_->userWordRowid(s) >= 0) {
        CodeTable record = s;
        store_->updateUserWordRow(record, true);
        store_->cleanCache();
    }
}

void TaviroIMEngine::clean() {
    inputBuffer_.clear();
    candidates_.clear();
    kinds_.clear();
    beforeKey_.reset();
    learningTable_.clear();
    learningInputBuffer_.clear();
    learningKeys_.clear();
    learntCodeTable_.reset();
    learning_ = false;
    if (auto strategy = inputDelegate()) strategy->compositionEnded();
    store_->cleanCache();
}

void TaviroIMEngine::reloadInputDelegate() {
    const auto s = settings();
    std::shared_ptr<InputDeletage> next;
    if (s->quanPin)
        next = std::make_shared<QuanpinStrategy>(options_.environment);
    else if (s->fourCode > 0)
        next = std::make_shared<FourCodeInputStrategy>(options_.environment);
    else
        next = std::make_shared<SunpyInputStrategy>(options_.environment);
    {
        std::lock_guard lk(delegateMutex_);
        inputDelegate_.swap(next);
    }
    store_->cleanCache();
}

void TaviroIMEngine::ensureCustomDatabase() {
    const std::string path = store_->customDBLocalPath();
    std::error_code ec;
    // A link in its place, a dangling one too, is the store's to set aside and tell.
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec)))
        store_->copyBundledDatabase("custom.db", path);
}

} // namespace taviro
