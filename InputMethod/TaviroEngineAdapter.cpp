#include "InputMethod/TaviroEngineAdapter.h"

#include "InputMethod/Core/Double2Pinyin.h"
#include "InputMethod/Core/Engine/FourCodeInputStrategy.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"

namespace taviro {

TaviroEngineAdapter::TaviroEngineAdapter(TaviroIMEngine& engine) : engine_(engine) {
    engine_.setCharacterCounter(nullptr);
}

std::string TaviroEngineAdapter::getCandidates(const std::string& text) { return engine_.getCandidates(text); }
std::vector<std::string> TaviroEngineAdapter::candidateStrings() const { return engine_.candidateStrings(); }
std::string TaviroEngineAdapter::commitSelection(const std::string& text) { return engine_.commitSelection(text); }
void TaviroEngineAdapter::forgetWord(std::int64_t index) { engine_.forgetWord(index); }
void TaviroEngineAdapter::clean() { engine_.clean(); }
void TaviroEngineAdapter::reloadInputDelegate() { engine_.reloadInputDelegate(); }
std::string TaviroEngineAdapter::inputBuffer() const { return engine_.inputBuffer(); }
std::size_t TaviroEngineAdapter::candidateCount() const { return engine_.candidates().size(); }

std::string TaviroEngineAdapter::firstCandidateCode() const {
    const auto& list = engine_.candidates();
    return list.empty() ? std::string() : list.front().code;
}

bool TaviroEngineAdapter::hasLongerCode(const std::string& code) {
    FourCodeInputStrategy probe;
    return !probe.candidates(code + "`", true).empty();
}

std::string TaviroEngineAdapter::pinyinDisplay(const std::string& keys) {
    return engine_.d2f().joinedPinyinRange(keys);
}

std::string TaviroEngineAdapter::schemeCodeKeys() const { return engine_.schemeCodeKeys(); }

bool TaviroEngineAdapter::isReady() const { return TaviroIMEngine::isReady(); }

} // namespace taviro
