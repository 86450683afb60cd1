// Builds the candidate presentation's data from the word list:
//
// smartHint.plist: next-word hints for the Touch Bar. Each key (a character,
// or a word among the most frequent) lists the words that follow it inside
// longer words of the list ("今天" -> "天气" from 今天天气), heaviest first;
// only follow-ups that are words of the list themselves. Binary form: it is
// read whole at the first hint.
//
// "VoiceOverLib 2.plist" and "VoiceOverLib.plist": what a screen reader says
// for a character, told apart by a common two-character word that holds it
// ("你" -> "你好的你"). The first names one word, the second two.
//
// usage: make_hints <lexicon.tsv> <output folder>

#include "Resources/generators/GeneratorSupport.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

using namespace taviro::resgen;

namespace {

constexpr std::string_view kProgram = "make_hints";
constexpr std::size_t kHintsPerKey = 8;
constexpr std::size_t kWordKeys = 12000;
constexpr std::size_t kLongestWord = 4;
// Particles, pronouns and the like tell a character apart from nothing:
// "你们" or "的人" would explain little.
const std::set<std::string> kPlainCharacters{"的", "了", "是", "在", "着", "过", "吗", "呢", "吧", "啊", "也",
                                             "就", "都", "和", "与", "我", "你", "他", "她", "它", "这", "那",
                                             "有", "不", "一", "个", "人", "们", "么", "之", "其"};

struct Weighted {
    std::string text;
    std::int64_t weight;
};

// Heaviest first, then by text, so the files are reproducible.
void sortHeaviestFirst(std::vector<Weighted>& list) {
    std::sort(list.begin(), list.end(), [](const Weighted& a, const Weighted& b) {
        return std::tie(b.weight, a.text) < std::tie(a.weight, b.text);
    });
}

std::string joined(const std::vector<std::string>& chars, std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to; ++i) out += chars[i];
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) return fail(kProgram, "usage: make_hints <lexicon.tsv> <output folder>");
    const auto lexicon = readLexicon(argv[1]);
    if (!lexicon) return fail(kProgram, std::string("cannot read ") + argv[1]);
    const std::filesystem::path out = argv[2];

    std::unordered_map<std::string, std::int64_t> weightOf;
    for (const auto& e : *lexicon)
        if (e.weight > 0) weightOf[e.word] = std::max(weightOf[e.word], e.weight);

    // Word keys: the most frequent words of two characters or more.
    std::vector<Weighted> words;
    for (const auto& [word, weight] : weightOf)
        if (utf8Characters(word).size() >= 2) words.push_back({word, weight});
    sortHeaviestFirst(words);
    std::set<std::string> wordKeys;
    for (std::size_t i = 0; i < words.size() && i < kWordKeys; ++i) wordKeys.insert(words[i].text);

    std::map<std::string, std::vector<Weighted>> follow;
    // character -> two-character words that start with it, then those that end with it
    std::map<std::string, std::vector<Weighted>> starting, ending;
    for (const auto& [word, weight] : weightOf) {
        const auto chars = utf8Characters(word);
        if (chars.size() == 2 && chars[0] != chars[1]) {
            if (!kPlainCharacters.count(chars[1])) starting[chars[0]].push_back({word, weight});
            if (!kPlainCharacters.count(chars[0])) ending[chars[1]].push_back({word, weight});
        }
        if (chars.size() < 2 || chars.size() > kLongestWord) continue;
        for (std::size_t k = 1; k < chars.size(); ++k) {
            const std::string key = joined(chars, 0, k);
            const std::string rest = joined(chars, k, chars.size());
            if (k > 1 && !wordKeys.count(key)) continue;
            if (!weightOf.count(rest)) continue;
            follow[key].push_back({rest, weight});
        }
    }

    std::map<std::string, std::vector<std::string>> hints;
    for (auto& [key, list] : follow) {
        sortHeaviestFirst(list);
        std::vector<std::string> chosen;
        for (const auto& w : list) {
            if (std::find(chosen.begin(), chosen.end(), w.text) == chosen.end()) chosen.push_back(w.text);
            if (chosen.size() == kHintsPerKey) break;
        }
        hints.emplace(key, std::move(chosen));
    }
    if (hints.empty()) return fail(kProgram, "no hints in the word list");

    std::map<std::string, std::string> one, two;
    std::set<std::string> characters;
    for (const auto& [c, list] : starting) characters.insert(c);
    for (const auto& [c, list] : ending) characters.insert(c);
    for (const auto& c : characters) {
        auto list = starting[c];
        auto later = ending[c];
        sortHeaviestFirst(list);
        sortHeaviestFirst(later);
        list.insert(list.end(), later.begin(), later.end());
        one[c] = list[0].text + "的" + c;
        two[c] = list.size() > 1 ? list[0].text + "的" + c + "，" + list[1].text + "的" + c : one[c];
    }

    if (!writeFileAtomically(out / "smartHint.plist", plat::plistToBinary(plistArrayDictionary(hints))))
        return fail(kProgram, "cannot write smartHint.plist");
    if (!writePlist(out / "VoiceOverLib 2.plist", plat::stringMapToPlist(one)))
        return fail(kProgram, "cannot write VoiceOverLib 2.plist");
    if (!writePlist(out / "VoiceOverLib.plist", plat::stringMapToPlist(two)))
        return fail(kProgram, "cannot write VoiceOverLib.plist");
    return 0;
}
