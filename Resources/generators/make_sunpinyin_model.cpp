// SunPinyin's model files (lm_sc.t3g, pydict_sc.bin) from libime's language
// model and pinyin dictionary.
//
//   make_sunpinyin_model <zh_CN.lm> <sc.dict> <libime_pinyindict> <slmthread> <genpyt> <work dir> <out dir>
//
// The words and their readings come from the dictionary, the n-grams from the
// model's trie (KenlmTrie), their probabilities and back-off weights from
// libime's LanguageModel. A raw back-off model (.slm) and a lexicon are
// written to the work folder; SunPinyin's slmthread and genpyt turn them into
// the two files, which are written under temporary names in the out folder
// and renamed into place together.

#include "Resources/generators/KenlmTrie.h"

#include <libime/core/languagemodel.h>
#include <pinyin/pinyin_data.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using taviro::resgen::KenlmTrie;

constexpr const char* kProgram = "make_sunpinyin_model";

int fail(const std::string& message)
{
    std::cerr << kProgram << ": " << message << "\n";
    return 1;
}

// SunPinyin numbers its own words below 80: 0 unknown, 69 "no word", 70..79
// the full-width punctuation. Every sentence ends with a step to the comma
// (70). libime's model has no sentence marks, so that step gets one constant
// probability after every context and no sentence is favoured for its end.
constexpr std::uint32_t kSentenceId = 70;
constexpr double kEndProbability = 0.5;
constexpr std::uint32_t kFirstWordId = 80;
// SunPinyin's user words start at 2^18; the model's ids must stay below.
constexpr std::uint32_t kMaxWordId = (1u << 18) - 1;
const char* const kPunctuation[] = {"，", "。", "；", "？", "！", "：", "“", "”", "、", "…"};

// Readings whose weight relative to the word's best reading is below this
// (log10) are left out: SunPinyin would rank them as high as the best one.
constexpr double kMinReadingWeight = -1.3;

bool writeAtomically(const fs::path& path, const std::string& bytes)
{
    const fs::path temp = path.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            std::error_code ec;
            fs::remove(temp, ec);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    return !ec;
}

bool syncFile(const fs::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Runs a tool with its standard output discarded; true when it exits with 0.
bool runTool(const std::vector<std::string>& argv, bool utf8Locale = false)
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        if (utf8Locale && (std::strncmp(*e, "LC_ALL=", 7) == 0 || std::strncmp(*e, "LANG=", 5) == 0))
            continue;
        envStrings.emplace_back(*e);
    }
    if (utf8Locale)
        envStrings.emplace_back("LC_ALL=C.UTF-8");
    std::vector<char*> env;
    for (auto& e : envStrings)
        env.push_back(e.data());
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::cerr << kProgram << ": cannot run " << argv[0] << ": " << std::strerror(rc) << "\n";
        return false;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::cerr << kProgram << ": " << argv[0] << " failed\n";
        return false;
    }
    return true;
}

std::size_t utf8Length(std::string_view s)
{
    std::size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

// word -> readings ("zhong'guo"), best first, from the dictionary's text dump
// ("word pinyin weight" per line).
using Readings = std::map<std::string, std::vector<std::string>>;

bool readDictionary(const fs::path& path, Readings& readings, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path.string();
        return false;
    }
    struct Reading {
        std::string pinyin;
        double weight;
    };
    std::map<std::string, std::vector<Reading>> all;
    std::string line;
    std::size_t lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        const std::size_t a = line.find(' ');
        const std::size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
        if (b == std::string::npos)
            continue;
        const std::string word = line.substr(0, a);
        const std::string pinyin = line.substr(a + 1, b - a - 1);
        const double weight = std::strtod(line.c_str() + b + 1, nullptr);
        // Every syllable must be one SunPinyin knows, one per character.
        std::size_t syllables = 0;
        bool known = true;
        std::size_t from = 0;
        while (known && from <= pinyin.size()) {
            std::size_t to = pinyin.find('\'', from);
            if (to == std::string::npos)
                to = pinyin.size();
            const std::string syllable = pinyin.substr(from, to - from);
            known = !syllable.empty() && static_cast<unsigned>(CPinyinData::encodeSyllable(syllable.c_str())) != 0u;
            ++syllables;
            from = to + 1;
        }
        if (!known || syllables != utf8Length(word))
            continue;
        all[word].push_back({pinyin, weight});
    }
    if (lines < 1000) {
        error = "the dictionary dump is too short";
        return false;
    }
    for (auto& [word, list] : all) {
        std::stable_sort(list.begin(), list.end(),
                         [](const Reading& x, const Reading& y) { return x.weight > y.weight; });
        const double best = list.front().weight;
        auto& out = readings[word];
        for (const auto& r : list) {
            if (r.weight - best >= kMinReadingWeight && std::find(out.begin(), out.end(), r.pinyin) == out.end())
                out.push_back(r.pinyin);
        }
    }
    return true;
}

// One node of the raw model: word id, probability, first child, back-off
// weight (the last level has no child and no back-off weight).
struct Node {
    std::uint32_t id = 0;
    float pr = 0;
    std::int32_t child = 0;
    float bow = 1;
};

float probability(double log10Value)
{
    // slmthread needs 0 < p < 1.
    const double p = std::pow(10.0, log10Value);
    return static_cast<float>(std::clamp(p, 1e-20, 0.999999));
}

// Scores of the libime model for n-grams given as KenLM word strings, all
// log10. A conditional probability is the score of the n-gram less the score
// of its context; a back-off weight is what an unseen word ("<unk>") loses
// after the context beyond what it loses after the context's last word.
class Scorer {
public:
    explicit Scorer(const fs::path& file, const std::vector<std::string>& words) : model_(file.c_str())
    {
        unknown_ = score({"<unk>"});
        single_.resize(words.size());
        unknownAfter_.resize(words.size());
        for (std::size_t w = 0; w < words.size(); ++w) {
            single_[w] = score({words[w]});
            unknownAfter_[w] = score({words[w], "<unk>"}) - single_[w];
        }
    }

    // The score of a word sequence from the null context.
    double score(std::vector<std::string_view> sequence) const
    {
        return model_.wordsScore(model_.nullState(), sequence);
    }
    double single(std::uint32_t w) const { return single_[w]; }
    double unigramBackoff(std::uint32_t w) const { return unknownAfter_[w] - unknown_; }
    // `pairScore` is score({u, v}).
    double bigramBackoff(std::string_view u, std::string_view v, std::uint32_t vId, double pairScore) const
    {
        return (score({u, v, "<unk>"}) - pairScore) - unknownAfter_[vId];
    }
    double unknownWord() const { return unknown_ - model_.unknownPenalty(); }

private:
    libime::LanguageModel model_;
    double unknown_ = 0;
    std::vector<double> single_, unknownAfter_;
};

template <typename T> void append(std::string& out, const T& v)
{
    out.append(reinterpret_cast<const char*>(&v), sizeof(v));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 8)
        return fail("usage: make_sunpinyin_model <zh_CN.lm> <sc.dict> <libime_pinyindict> <slmthread> <genpyt> "
                    "<work dir> <out dir>");
    const fs::path lmFile = argv[1], dictFile = argv[2];
    const std::string pinyindict = argv[3], slmthread = argv[4], genpyt = argv[5];
    const fs::path work = argv[6], out = argv[7];
    std::error_code ec;
    fs::create_directories(work, ec);
    fs::create_directories(out, ec);

    // Words and readings.
    const fs::path dump = work / "sc_dict.txt";
    if (!runTool({pinyindict, "-d", dictFile.string(), dump.string()}))
        return fail("cannot dump " + dictFile.string());
    Readings readings;
    std::string error;
    if (!readDictionary(dump, readings, error))
        return fail(error);

    // N-grams.
    const std::optional<KenlmTrie> trie = taviro::resgen::readKenlmTrie(lmFile, error);
    if (!trie)
        return fail(lmFile.string() + ": " + error);
    const auto& words = trie->words;

    // SunPinyin ids: every word with a reading gets the next id in byte order
    // of its text.
    std::vector<std::uint32_t> spId(words.size(), 0);
    std::vector<std::string> spWords(kFirstWordId);
    for (std::uint32_t i = 0; i < std::size(kPunctuation); ++i)
        spWords[kSentenceId + i] = kPunctuation[i];
    std::vector<std::uint32_t> byText;
    for (std::uint32_t w = 0; w < words.size(); ++w) {
        if (readings.count(words[w]))
            byText.push_back(w);
    }
    std::sort(byText.begin(), byText.end(), [&](std::uint32_t a, std::uint32_t b) { return words[a] < words[b]; });
    for (std::uint32_t w : byText) {
        if (spWords.size() > kMaxWordId)
            return fail("too many words for SunPinyin's id space");
        spId[w] = static_cast<std::uint32_t>(spWords.size());
        spWords.push_back(words[w]);
    }

    const Scorer scorer(lmFile, words);
    std::vector<std::string_view> text(words.size());
    for (std::size_t w = 0; w < words.size(); ++w)
        text[w] = words[w];
    // Unigrams, and the comma that ends sentences.
    std::map<std::uint32_t, Node> level1;
    for (std::uint32_t w = 0; w < words.size(); ++w) {
        if (!spId[w])
            continue;
        Node n;
        n.id = spId[w];
        n.pr = probability(scorer.single(w));
        n.bow = static_cast<float>(std::pow(10.0, scorer.unigramBackoff(w)));
        level1[n.id] = n;
    }
    const float endPr = probability(std::log10(kEndProbability));
    level1[kSentenceId] = Node{kSentenceId, endPr, 0, 1};

    // Bigrams and trigrams in SunPinyin's forward order, by SunPinyin ids.
    std::vector<std::uint32_t> kenlmId(spWords.size(), 0);
    for (std::uint32_t w = 0; w < words.size(); ++w) {
        if (spId[w])
            kenlmId[spId[w]] = w;
    }
    std::vector<std::array<std::uint32_t, 2>> bigrams;
    std::vector<std::array<std::uint32_t, 3>> trigrams;
    bigrams.reserve(trie->bigrams.size());
    trigrams.reserve(trie->trigrams.size());
    for (const auto& [u, v] : trie->bigrams) {
        if (spId[u] && spId[v])
            bigrams.push_back({spId[u], spId[v]});
    }
    for (const auto& [x, u, v] : trie->trigrams) {
        if (spId[x] && spId[u] && spId[v]) {
            trigrams.push_back({spId[x], spId[u], spId[v]});
            // A trigram needs its context as a bigram node.
            bigrams.push_back({spId[x], spId[u]});
        }
    }
    std::sort(bigrams.begin(), bigrams.end());
    bigrams.erase(std::unique(bigrams.begin(), bigrams.end()), bigrams.end());
    std::sort(trigrams.begin(), trigrams.end());

    std::vector<Node> nodes1, nodes2, leaves;
    nodes1.reserve(level1.size() + 1);
    nodes2.reserve(bigrams.size() + level1.size() + 1);
    leaves.reserve(trigrams.size() + bigrams.size() + 1);
    {
        auto bigram = bigrams.begin();
        auto trigram = trigrams.begin();
        for (auto& [id, unigram] : level1) {
            Node n1 = unigram;
            n1.child = static_cast<std::int32_t>(nodes2.size());
            nodes1.push_back(n1);
            // The sentence end after this word (the comma sorts before every word).
            if (id >= kFirstWordId)
                nodes2.push_back(Node{kSentenceId, endPr, static_cast<std::int32_t>(leaves.size()), 1});
            for (; bigram != bigrams.end() && (*bigram)[0] == id; ++bigram) {
                const std::uint32_t u = kenlmId[id], v = kenlmId[(*bigram)[1]];
                auto isChild = [&] {
                    return trigram != trigrams.end() && (*trigram)[0] == id && (*trigram)[1] == (*bigram)[1];
                };
                Node n2;
                n2.id = (*bigram)[1];
                const double pairScore = scorer.score({text[u], text[v]});
                n2.pr = probability(pairScore - scorer.single(u));
                n2.child = static_cast<std::int32_t>(leaves.size());
                // A context that continues gets its back-off weight and the sentence end.
                const bool context = isChild();
                if (context)
                    n2.bow = static_cast<float>(std::pow(10.0, scorer.bigramBackoff(text[u], text[v], v, pairScore)));
                nodes2.push_back(n2);
                if (context)
                    leaves.push_back(Node{kSentenceId, endPr, 0, 0});
                for (; isChild(); ++trigram) {
                    Node leaf;
                    leaf.id = (*trigram)[2];
                    leaf.pr = probability(scorer.score({text[u], text[v], text[kenlmId[leaf.id]]}) - pairScore);
                    leaves.push_back(leaf);
                }
            }
        }
        if (bigram != bigrams.end() || trigram != trigrams.end())
            return fail("n-grams without a parent node");
    }

    // The raw model: order, plain (not logarithmic) probabilities, level
    // sizes with their end sentinels, the levels.
    std::string slm;
    append(slm, std::int32_t{3});
    append(slm, std::uint32_t{0});
    append(slm, std::int32_t{2});
    append(slm, static_cast<std::int32_t>(nodes1.size() + 1));
    append(slm, static_cast<std::int32_t>(nodes2.size() + 1));
    append(slm, static_cast<std::int32_t>(leaves.size() + 1));
    auto appendNode = [&](const Node& n) {
        append(slm, n.id);
        append(slm, n.pr);
        append(slm, n.child);
        append(slm, n.bow);
    };
    Node root;
    root.pr = probability(scorer.unknownWord());
    appendNode(root);
    appendNode(Node{0, 0, static_cast<std::int32_t>(nodes1.size()), 0});
    for (const Node& n : nodes1)
        appendNode(n);
    appendNode(Node{0, 0, static_cast<std::int32_t>(nodes2.size()), 0});
    for (const Node& n : nodes2)
        appendNode(n);
    appendNode(Node{0, 0, static_cast<std::int32_t>(leaves.size()), 0});
    for (const Node& n : leaves) {
        append(slm, n.id);
        append(slm, n.pr);
    }
    append(slm, std::uint32_t{0});
    append(slm, 0.0f);

    // The lexicon: "word id reading reading...".
    std::string lexicon;
    for (std::uint32_t id = kSentenceId; id < spWords.size(); ++id) {
        if (spWords[id].empty())
            continue;
        lexicon += spWords[id];
        lexicon += ' ';
        lexicon += std::to_string(id);
        if (id >= kFirstWordId) {
            for (const auto& r : readings.at(spWords[id])) {
                lexicon += ' ';
                lexicon += r;
            }
        }
        lexicon += '\n';
    }

    const fs::path slmFile = work / "lm_sc.slm", lexiconFile = work / "lexicon.txt";
    if (!writeAtomically(slmFile, slm) || !writeAtomically(lexiconFile, lexicon))
        return fail("cannot write into " + work.string());

    const fs::path t3g = out / "lm_sc.t3g", pydict = out / "pydict_sc.bin";
    const fs::path t3gTemp = out / "lm_sc.t3g.tmp", pydictTemp = out / "pydict_sc.bin.tmp";
    auto cleanUp = [&] {
        std::error_code ignored;
        fs::remove(t3gTemp, ignored);
        fs::remove(pydictTemp, ignored);
    };
    if (!runTool({slmthread, slmFile.string(), t3gTemp.string()}) ||
        !runTool({genpyt, "-i", lexiconFile.string(), "-o", pydictTemp.string(), "-l", "/dev/null", "-s",
                  t3gTemp.string()},
                 true)) {
        cleanUp();
        return fail("SunPinyin's tools failed");
    }
    if (!syncFile(t3gTemp) || !syncFile(pydictTemp)) {
        cleanUp();
        return fail("cannot flush the model files");
    }
    fs::rename(t3gTemp, t3g, ec);
    if (!ec)
        fs::rename(pydictTemp, pydict, ec);
    if (ec) {
        cleanUp();
        return fail("cannot rename the model files into " + out.string());
    }
    std::cout << kProgram << ": " << (spWords.size() - kFirstWordId) << " words, " << nodes1.size() << " unigrams, "
              << nodes2.size() << " bigrams, " << leaves.size() << " trigrams\n";
    return 0;
}
