// Splitting pinyin letters into syllables by syllable frequencies: a beam
// search that keeps the three heaviest splits at every position.
#include <map>

#include "InputMethod/Core/DagNode.h"
#include "InputMethod/Core/Engine/EngineText.h"
#include "InputMethod/Core/Engine/FourCodeInputStrategy.h"
#include "InputMethod/Core/PriorityStack.h"
#include "Platform/Foundation/Paths.h"

namespace taviro {

namespace {
constexpr std::size_t kLongestSyllable = 7;
constexpr int kBeam = 3;
} // namespace

std::shared_ptr<const BundleTables::Frequencies> FourCodeInputStrategy::pinyinFrequencies() {
    return BundleTables::pinyinFrequencies(plat::Paths::resourceFolder(plat::Bundle::TaviroMac2));
}

std::vector<std::string> FourCodeInputStrategy::buildSentence(const std::string& text) {
    const auto table = pinyinFrequencies();
    return buildSentence(text, table.get());
}

std::vector<std::string> FourCodeInputStrategy::buildSentence(const std::string& text,
                                                              const BundleTables::Frequencies* frequencies) {
    if (!frequencies || text.empty()) return {};
    const auto chars = utf8Characters(text);
    const std::size_t n = chars.size();
    auto piece = [&](std::size_t from, std::size_t to) {
        std::string w;
        for (std::size_t i = from; i < to; ++i) w += chars[i];
        return w;
    };
    auto frequency = [&](const std::string& w) -> const double* {
        auto it = frequencies->find(w);
        return it == frequencies->end() ? nullptr : &it->second;
    };

    std::map<std::size_t, PriorityStack<DagNode>> lattice;
    auto stackAt = [&](std::size_t pos) -> PriorityStack<DagNode>& {
        auto it = lattice.find(pos);
        if (it == lattice.end()) it = lattice.emplace(pos, PriorityStack<DagNode>({}, kBeam)).first;
        return it->second;
    };

    for (std::size_t len = 1; len <= kLongestSyllable && len <= n; ++len) {
        const std::string w = piece(0, len);
        if (const double* f = frequency(w)) stackAt(len).push(DagNode{{w}, *f});
    }
    for (std::size_t start = 1; start < n; ++start) {
        auto found = lattice.find(start);
        if (found == lattice.end()) continue;
        const std::vector<DagNode> nodes = found->second.rowList();
        for (std::size_t end = start + 1; end <= start + kLongestSyllable && end <= n; ++end) {
            const std::string w = piece(start, end);
            const double* f = frequency(w);
            if (!f) continue;
            for (const auto& node : nodes) {
                DagNode next{node.path, node.weight * *f};
                next.path.push_back(w);
                stackAt(end).push(std::move(next));
            }
        }
    }
    for (std::size_t pos = n; pos >= 1; --pos) {
        auto it = lattice.find(pos);
        if (it != lattice.end() && !it->second.empty()) return it->second.rowList().front().path;
    }
    return {};
}

} // namespace taviro
