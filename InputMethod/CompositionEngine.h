#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace taviro {

// What the input controller uses of the conversion engine.
class CompositionEngine {
public:
    virtual ~CompositionEngine() = default;

    // Appends text to the buffer, rebuilds the candidates, returns the buffer.
    virtual std::string getCandidates(const std::string& text) = 0;
    // One display string per candidate (word, maybe a hint after the separator).
    virtual std::vector<std::string> candidateStrings() const = 0;
    // Commits the candidate with this word; returns the rest of the buffer.
    virtual std::string commitSelection(const std::string& text) = 0;
    virtual void forgetWord(std::int64_t index) = 0;
    // Empties the buffer, the list and the phrase state.
    virtual void clean() = 0;
    virtual void reloadInputDelegate() = 0;

    virtual std::string inputBuffer() const = 0;
    virtual std::size_t candidateCount() const = 0;
    // The typed code of the first candidate ("" without candidates).
    virtual std::string firstCandidateCode() const = 0;
    // True when a shape code longer than `code` starts with it.
    virtual bool hasLongerCode(const std::string& code) = 0;
    // Double-pinyin keys shown as full-pinyin syllables.
    virtual std::string pinyinDisplay(const std::string& keys) = 0;
    // Keys besides the letters that the scheme in use types: code keys, as
    // if listed in "ExtraCode".
    virtual std::string schemeCodeKeys() const { return {}; }
    // False while the store is not ready and only the waiting text is offered.
    virtual bool isReady() const { return true; }
};

} // namespace taviro
