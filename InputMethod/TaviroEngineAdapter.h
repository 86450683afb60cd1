#pragma once
#include "InputMethod/CompositionEngine.h"

namespace taviro {

class TaviroIMEngine;

// The controller's view of the conversion engine.
class TaviroEngineAdapter : public CompositionEngine {
public:
    // The controller counts committed characters itself: the engine's own
    // counter is switched off so that no commit counts twice.
    explicit TaviroEngineAdapter(TaviroIMEngine& engine);

    std::string getCandidates(const std::string& text) override;
    std::vector<std::string> candidateStrings() const override;
    std::string commitSelection(const std::string& text) override;
    void forgetWord(std::int64_t index) override;
    void clean() override;
    void reloadInputDelegate() override;
    std::string inputBuffer() const override;
    std::size_t candidateCount() const override;
    std::string firstCandidateCode() const override;
    bool hasLongerCode(const std::string& code) override;
    std::string pinyinDisplay(const std::string& keys) override;
    std::string schemeCodeKeys() const override;
    bool isReady() const override;

    TaviroIMEngine& engine() const { return engine_; }

private:
    TaviroIMEngine& engine_;
};

} // namespace taviro
