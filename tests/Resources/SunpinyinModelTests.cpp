// The SunPinyin model generated from libime's data, through the wrapper; the
// history kept per model; the reader of libime's model file.
#include "Platform/SunPinyin/ModelHistory.h"
#include "Platform/SunPinyin/SunpinyinWrapper.h"
#include "Resources/generators/KenlmTrie.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using plat::SunpinyinWrapper;

const fs::path kGenerated = TAVIRO_RESOURCE_DIR;
const fs::path kLibimeModel = LIBIME_MODEL_FILE;
const char* const kPlantedHistory = "history written against the stock model";

std::optional<std::string> slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void spit(const fs::path& p, const std::string& bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

// Before any wrapper loads the engine: the per-user folder holds a history the
// stock model wrote, with its note.
std::string stockIdentity()
{
    const std::string id = plat::sunpinyinModelIdentity(STOCK_MODEL_DIR);
    return id.empty() ? "1-1-0000000000000000" : id;
}

class PlantStockHistory : public ::testing::Environment {
public:
    void SetUp() override
    {
        const fs::path dir = SunpinyinWrapper::userDataDirectory();
        spit(dir / "history", kPlantedHistory);
        spit(dir / "model", stockIdentity() + "\n");
    }
};
[[maybe_unused]] const auto* const kPlanted = ::testing::AddGlobalTestEnvironment(new PlantStockHistory);

class GeneratedModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (SunpinyinWrapper::defaultModelDirectory() != kGenerated)
            GTEST_SKIP() << "built against the stock model";
        ASSERT_TRUE(SunpinyinWrapper::isAvailable());
    }
};

TEST_F(GeneratedModelTest, BestSentences)
{
    struct Case {
        const char* buffer;
        const char* sentence;
    } cases[] = {
        // The stock model gives 正在到如此表 and 我已經收到你的邮件了.
        {"zhengzaidaorucibiao", "正在导入词表"},
        {"woyijingshoudaonideyoujianle", "我已经收到你的邮件了"},
        // Sentences the stock model already gets right.
        {"nihao", "你好"},
        {"jintiantianqibucuo", "今天天气不错"},
        {"woaibeijingtiananmen", "我爱北京天安门"},
        {"woxianzaizaigongsikaihui", "我现在在公司开会"},
        {"haizimenzaigongyuanliwan", "孩子们在公园里玩"},
        {"xiexienidebangzhu", "谢谢你的帮助"},
        {"zheshiwodiyicilaibeijing", "这是我第一次来北京"},
        {"duibuqiwolaiwanle", "对不起我来晚了"},
        {"woxiangqushanghailvyou", "我想去上海旅游"},
    };
    SunpinyinWrapper wrapper;
    for (const auto& c : cases)
        EXPECT_EQ(wrapper.candidateWithBuffer(c.buffer), c.sentence) << c.buffer;
}

TEST_F(GeneratedModelTest, StockHistoryIsSetAsideNotRead)
{
    const fs::path dir = SunpinyinWrapper::userDataDirectory();
    EXPECT_EQ(slurp(dir / ("history-" + stockIdentity())), kPlantedHistory);
    EXPECT_NE(slurp(dir / "history"), kPlantedHistory);
    EXPECT_EQ(slurp(dir / "model"), plat::sunpinyinModelIdentity(kGenerated) + "\n");
}

// --- The history note, folder by folder ---

struct Folder {
    std::optional<std::string> note;     // "model"
    std::optional<std::string> history;  // "history"
    std::vector<std::pair<std::string, std::string>> others;
};

TEST(ModelHistoryTest, AdoptKeepsEveryHistoryOfEveryModel)
{
    const std::string oldId = "1-2-00000000000000ab", newId = "3-4-00000000000000cd";
    struct Case {
        const char* name;
        Folder before;
        Folder after;
    } cases[] = {
        {"fresh folder", {}, {newId + "\n", std::nullopt, {}}},
        {"same model", {newId + "\n", "mine", {}}, {newId + "\n", "mine", {}}},
        {"other model", {oldId + "\n", "theirs", {}}, {newId + "\n", std::nullopt, {{"history-" + oldId, "theirs"}}}},
        {"history without a note", {std::nullopt, "theirs", {}},
         {newId + "\n", std::nullopt, {{"history-unknown", "theirs"}}}},
        {"back to a model seen before", {oldId + "\n", "theirs", {{"history-" + newId, "mine"}}},
         {newId + "\n", "mine", {{"history-" + oldId, "theirs"}}}},
        {"set-aside name taken", {oldId + "\n", "theirs", {{"history-" + oldId, "earlier"}}},
         {newId + "\n", std::nullopt, {{"history-" + oldId, "earlier"}, {"history-" + oldId + ".1", "theirs"}}}},
        // A note of any other form names no model, and its text names no file.
        {"note of another form", {"old\n", "theirs", {}}, {newId + "\n", std::nullopt, {{"history-unknown", "theirs"}}}},
    };
    for (const auto& c : cases) {
        const fs::path dir = taviro::test::freshDir("history");
        if (c.before.note)
            spit(dir / "model", *c.before.note);
        if (c.before.history)
            spit(dir / "history", *c.before.history);
        for (const auto& [name, bytes] : c.before.others)
            spit(dir / name, bytes);

        EXPECT_TRUE(plat::adoptSunpinyinHistory(dir, newId)) << c.name;

        EXPECT_EQ(slurp(dir / "model"), c.after.note) << c.name;
        EXPECT_EQ(slurp(dir / "history"), c.after.history) << c.name;
        std::size_t files = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir))
            ++files;
        EXPECT_EQ(files, 1 + (c.after.history ? 1 : 0) + c.after.others.size()) << c.name << ": nothing lost or added";
        for (const auto& [name, bytes] : c.after.others)
            EXPECT_EQ(slurp(dir / name), bytes) << c.name << ": " << name;
    }
    // Only an identity is one.
    EXPECT_FALSE(plat::adoptSunpinyinHistory(taviro::test::freshDir("history"), "x/../y"));
}

// A fresh folder with a copy of the generated model files.
fs::path modelCopy()
{
    const fs::path copy = taviro::test::freshDir("model-copy");
    fs::copy_file(kGenerated / "lm_sc.t3g", copy / "lm_sc.t3g");
    fs::copy_file(kGenerated / "pydict_sc.bin", copy / "pydict_sc.bin");
    return copy;
}

TEST(ModelHistoryTest, IdentityFollowsTheFiles)
{
    const fs::path copy = modelCopy();
    const std::string generated = plat::sunpinyinModelIdentity(kGenerated);
    EXPECT_FALSE(generated.empty());
    EXPECT_EQ(plat::sunpinyinModelIdentity(copy), generated);

    // One changed byte of the dictionary (the words by id) makes another model.
    std::fstream dict(copy / "pydict_sc.bin", std::ios::in | std::ios::out | std::ios::binary);
    dict.seekp(-3, std::ios::end);
    dict.put('\x7f');
    dict.close();
    EXPECT_NE(plat::sunpinyinModelIdentity(copy), generated);

    fs::remove(copy / "pydict_sc.bin");
    EXPECT_EQ(plat::sunpinyinModelIdentity(copy), "");
    if (fs::exists(fs::path(STOCK_MODEL_DIR) / "lm_sc.t3g")) {
        EXPECT_NE(plat::sunpinyinModelIdentity(STOCK_MODEL_DIR), generated);
    }
}

// The remembered identity is the hashed one, and a changed file is hashed again.
TEST(ModelHistoryTest, RememberedIdentityFollowsTheFiles)
{
    const fs::path copy = modelCopy();
    const fs::path user = taviro::test::freshDir("model-user");
    const std::string generated = plat::sunpinyinModelIdentity(kGenerated);
    EXPECT_EQ(plat::cachedSunpinyinModelIdentity(copy, user), generated);
    EXPECT_TRUE(fs::exists(user / "model-stamp"));
    EXPECT_EQ(plat::cachedSunpinyinModelIdentity(copy, user), generated);

    // The dictionary replaced by another one (a new file, as an update writes it).
    {
        std::string bytes = slurp(copy / "pydict_sc.bin").value_or("");
        ASSERT_GT(bytes.size(), 3u);
        bytes[bytes.size() - 3] = '\x7f';
        std::ofstream(copy / "pydict.new", std::ios::binary) << bytes;
        fs::rename(copy / "pydict.new", copy / "pydict_sc.bin");
    }
    const std::string changed = plat::sunpinyinModelIdentity(copy);
    EXPECT_NE(changed, generated);
    EXPECT_EQ(plat::cachedSunpinyinModelIdentity(copy, user), changed);

    // A stamp file of another form is no answer.
    std::ofstream(user / "model-stamp") << "junk\n0-0-0\n";
    EXPECT_EQ(plat::cachedSunpinyinModelIdentity(copy, user), changed);
    fs::remove(copy / "pydict_sc.bin");
    EXPECT_EQ(plat::cachedSunpinyinModelIdentity(copy, user), "");
}

// A model rewritten in place, its size and modification time kept (cp -p, touch -r, tar
// and rsync set the time at will), is hashed again.
TEST(ModelHistoryTest, AModelRewrittenWithItsTimeKeptIsHashedAgain)
{
    const fs::path copy = modelCopy();
    const fs::path user = taviro::test::freshDir("model-user");
    const std::string generated = plat::sunpinyinModelIdentity(kGenerated);
    ASSERT_EQ(plat::cachedSunpinyinModelIdentity(copy, user), generated);

    const fs::path dictPath = copy / "pydict_sc.bin";
    const auto mtime = fs::last_write_time(dictPath);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // past the clock's tick
    {
        std::fstream dict(dictPath, std::ios::in | std::ios::out | std::ios::binary);
        dict.seekp(-3, std::ios::end);
        dict.put('\x7f');
    }
    fs::last_write_time(dictPath, mtime);
    const std::string changed = plat::sunpinyinModelIdentity(copy);
    ASSERT_NE(changed, generated);
    EXPECT_EQ(plat::cachedSunpinyinModelIdentity(copy, user), changed);
}

// A "model-stamp" of hundreds of megabytes is no stamp: it is not read into memory. The
// child has far less memory than the file's size.
TEST(ModelHistoryTest, AHugeStampIsNotRead)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a limited address space does not suit the sanitizer";
#endif
    const fs::path copy = modelCopy();
    const fs::path user = taviro::test::freshDir("model-user");
    const std::string generated = plat::sunpinyinModelIdentity(kGenerated);
    fs::resize_file((std::ofstream(user / "model-stamp"), user / "model-stamp"), std::uintmax_t{300} << 20);

    const pid_t pid = ::fork();
    if (pid == 0) {
        std::size_t vmKb = 0;
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmSize:", 0) == 0)
                vmKb = std::stoul(line.substr(7));
        const rlimit limit{(vmKb << 10) + (std::size_t{128} << 20), (vmKb << 10) + (std::size_t{128} << 20)};
        if (vmKb == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
            ::_exit(90);
        ::_exit(plat::cachedSunpinyinModelIdentity(copy, user) == generated ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LT(fs::file_size(user / "model-stamp"), 4096u);
}

// --- libime's model file ---

TEST(KenlmTrieTest, ReadsEveryNgramOfLibimesModel)
{
    std::string error;
    const auto trie = taviro::resgen::readKenlmTrie(kLibimeModel, error);
    ASSERT_TRUE(trie) << error;
    EXPECT_EQ(trie->words.size(), trie->counts[0]);
    EXPECT_EQ(trie->bigrams.size(), trie->counts[1]);
    EXPECT_EQ(trie->trigrams.size(), trie->counts[2]);
    EXPECT_EQ(trie->words[0], "<unk>");
    auto id = [&](const std::string& w) {
        return static_cast<std::uint32_t>(std::find(trie->words.begin(), trie->words.end(), w) - trie->words.begin());
    };
    const std::uint32_t china = id("中华"), people = id("人民"), republic = id("共和国");
    ASSERT_LT(std::max({china, people, republic}), trie->words.size());
    auto hasBigram = [&](std::uint32_t u, std::uint32_t v) {
        return std::find(trie->bigrams.begin(), trie->bigrams.end(), std::array<std::uint32_t, 2>{u, v}) !=
               trie->bigrams.end();
    };
    auto hasTrigram = [&](std::uint32_t x, std::uint32_t u, std::uint32_t v) {
        return std::find(trie->trigrams.begin(), trie->trigrams.end(), std::array<std::uint32_t, 3>{x, u, v}) !=
               trie->trigrams.end();
    };
    EXPECT_TRUE(hasBigram(china, people));
    EXPECT_TRUE(hasBigram(people, republic));
    EXPECT_TRUE(hasTrigram(china, people, republic));
    EXPECT_FALSE(hasTrigram(republic, people, china));
}

TEST(KenlmTrieTest, DamagedFilesAreRefused)
{
    const auto original = slurp(kLibimeModel);
    ASSERT_TRUE(original);
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"header only", original->substr(0, 200)},
        {"cut in the bigrams", original->substr(0, original->size() / 2)},
        {"cut in the strings", original->substr(0, original->size() - 100)},
        {"another format", "ARPA\n" + original->substr(5)},
    };
    for (const auto& c : cases) {
        const fs::path file = taviro::test::freshDir("kenlm") / "model.lm";
        spit(file, c.bytes);
        std::string error;
        EXPECT_FALSE(taviro::resgen::readKenlmTrie(file, error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
    std::string error;
    EXPECT_FALSE(taviro::resgen::readKenlmTrie(taviro::test::freshDir("kenlm") / "missing.lm", error));
}

} // namespace
