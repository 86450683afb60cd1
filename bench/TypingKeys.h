#pragma once
// The key-down transitions the controller benchmarks type: every sentence key
// by key, each followed by an untimed Escape.
#include "InputMethod/KeyScript.h"

#include <string>
#include <vector>

namespace taviro::bench {

struct TypingKeys {
    std::vector<plat::KeyTransition> keys;
    std::vector<bool> timed;  // false for the Escape after a sentence
};

inline TypingKeys typingKeys(const std::vector<std::string>& sentences) {
    TypingKeys t;
    const auto escape = taviro::KeyScript::parse("{Esc}");
    for (const auto& sentence : sentences) {
        const auto steps = taviro::KeyScript::parse(sentence);
        for (const auto& step : *steps) {
            t.keys.push_back(step.keys.front());
            t.timed.push_back(true);
        }
        t.keys.push_back(escape->front().keys.front());
        t.timed.push_back(false);
    }
    return t;
}

} // namespace taviro::bench
