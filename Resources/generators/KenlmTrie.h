#pragma once
// Reads which n-grams a KenLM binary model holds. Only the layout libime ships
// is understood: order 3, a quantised trie whose next pointers are compressed
// with an offset array, with the vocabulary strings stored at the end.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace taviro::resgen {

struct KenlmTrie {
    // Number of 1-, 2- and 3-grams as the header gives them.
    std::array<std::uint64_t, 3> counts{};
    // The words by KenLM word id ("<unk>" is 0).
    std::vector<std::string> words;
    // Every bigram as (u, v): v follows u.
    std::vector<std::array<std::uint32_t, 2>> bigrams;
    // Every trigram as (x, u, v): v follows x u.
    std::vector<std::array<std::uint32_t, 3>> trigrams;
};

// std::nullopt with `error` set when the file is not such a model or its
// structure does not add up.
std::optional<KenlmTrie> readKenlmTrie(const std::filesystem::path& path, std::string& error);

} // namespace taviro::resgen
