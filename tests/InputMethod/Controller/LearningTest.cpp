// What the user dictionary learns from compositions typed through the
// controller over the real engine and store: a phrase picked in parts is
// stored under the keys its parts consumed, whatever was typed between them.
#include "RealEngineFixture.h"

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Database/StoreSql.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace taviro::test {
namespace {

using Pair = std::pair<std::string, std::string>;  // Py, Word
// Each (Py, Word) of the user-dictionary table: its row count and total weight.
using UserRows = std::map<Pair, std::pair<int, double>>;

class Learning : public RealEngine {
protected:
    // The rows of the current table once the writes of earlier commits are done.
    UserRows userRows() {
        TaviroIMEngine::shared().waitForBackgroundWrites();
        Database& store = Database::shared();
        EXPECT_TRUE(store.flushPendingUserWrites(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
        UserRows rows;
        sqlkit::SQLDatabase db(store.userDBLocalPath());
        if (!db.openWithFlags(SQLITE_OPEN_READONLY)) return rows;
        db.setLogsErrors(false);  // no table yet: no rows
        auto rs = db.executeQuery("SELECT Py, Word, Weight FROM " +
                                  storesql::quoteIdentifier(store.userDictTableName()));
        while (rs && rs->next()) {
            auto& row = rows[{rs->stringForColumnIndex(0).value_or(""), rs->stringForColumnIndex(1).value_or("")}];
            ++row.first;
            row.second += rs->doubleForColumnIndex(2);
        }
        if (rs) rs->close();
        db.close();
        return rows;
    }

    static std::set<Pair> changed(const UserRows& before, const UserRows& after) {
        std::set<Pair> out;
        for (const auto& [key, value] : after) {
            const auto it = before.find(key);
            if (it == before.end() || it->second != value) out.insert(key);
        }
        return out;
    }

    // Picks the candidate `word` with its digit, turning pages with "." first
    // when it is not on the page showing.
    void pick(const std::string& word) {
        for (int pages = 0; pages < 6; ++pages) {
            ASSERT_TRUE(window().isVisible()) << "no candidates for " << word;
            const auto page = window().visibleCandidates();
            const auto it = std::find(page.begin(), page.end(), word);
            if (it != page.end()) {
                session->typeScript(std::string(1, static_cast<char>('1' + (it - page.begin()))));
                return;
            }
            session->typeScript(".");
        }
        FAIL() << word << " is not among the candidates of " << TaviroIMEngine::shared().inputBuffer();
    }

    // Types a script where "<word>" picks that candidate.
    void run(const std::string& script) {
        std::size_t at = 0;
        while (at < script.size()) {
            const auto open = script.find('<', at);
            if (open != at) {
                ASSERT_TRUE(session->typeScript(script.substr(at, open - at)));
                if (open == std::string::npos) return;
            }
            const auto close = script.find('>', open);
            ASSERT_NE(close, std::string::npos) << script;
            pick(script.substr(open + 1, close - open - 1));
            if (::testing::Test::HasFatalFailure()) return;
            at = close + 1;
        }
    }
};

struct LearningCase {
    const char* name;
    std::function<void(Settings&)> settings;
    const char* script;
    const char* committed;
    std::set<Pair> learnt;  // the (Py, Word) rows added or raised
};

void fullPinyin(Settings&) {}
void doublePinyin(Settings& s) {
    s.quanPin = false;
    s.fourCode = 0;
}
// Shape codes of the small table below; a code without candidates commits
// the previous one's first.
void shapeCodes(Settings& s) {
    s.quanPin = false;
    s.fourCode = 3;
    s.codeTableName = "测试码表";
    s.codeTableVersion = 1;
}

TEST_F(Learning, APhraseIsStoredUnderTheKeysItsPartsConsumed) {
    // The double-pinyin scheme of the pinyin tests (Xiaohe) and a shape-code
    // table, in the per-user folder.
    Database& store = Database::shared();
    const auto folder = store.locations().userFolder;
    const auto scheme = std::filesystem::path(TAVIRO_TEST_DATA_DIR).parent_path().parent_path() / "Pinyin" /
                        "data" / "xiaohe.plist";
    std::filesystem::copy_file(scheme, folder / "spScheme.plist", std::filesystem::copy_options::overwrite_existing);
    {
        sqlkit::SQLDatabase table(store.mainCodeTableDBLocalPath());
        ASSERT_TRUE(table.open());
        ASSERT_TRUE(table.executeStatements(
            "CREATE TABLE CodeTable (Code TEXT, \"Table\" TEXT, Weight REAL);"
            "INSERT INTO CodeTable VALUES('aa','式',1),('aa','工工',2),('aaa','工期',1),('b','子',1),('bb','孙',1);"));
        table.close();
    }
    const std::vector<LearningCase> cases = {
        {"full pinyin, word by word", fullPinyin, "tianqi<天><气>", "天气", {{"tianqi", "天气"}, {"qi", "气"}}},
        {"full pinyin, keys typed after the first part", fullPinyin, "tianqi<天>henhao<气><很好>", "天气很好",
         {{"tianqihenhao", "天气很好"}, {"henhao", "很好"}}},
        {"full pinyin, keys typed after every part", fullPinyin, "nihao<泥>nihao<好><你好>", "泥好你好",
         {{"nihaonihao", "泥好你好"}, {"nihao", "你好"}}},
        {"full pinyin, apostrophes", fullPinyin, "xi'anren<西安>min<人民>", "西安人民",
         {{"xi'anrenmin", "西安人民"}, {"xianrenmin", "西安人民"}, {"renmin", "人民"}}},
        // Backspace resets the phrase: what is picked after it is a phrase of its own.
        {"full pinyin, Backspace in the rest", fullPinyin, "tianqihenhao<天>{BS}o<气><很好>", "天气很好",
         {{"qihenhao", "气很好"}, {"henhao", "很好"}}},
        // Back into the word already picked: it leaves the field, the next
        // composition learns as if it were the first.
        {"full pinyin, Backspace into the picked word", fullPinyin, "tianqi<天>{BS}{BS}{BS}tianqi<天><气>", "天气",
         {{"tianqi", "天气"}, {"qi", "气"}}},
        {"double pinyin, word by word", doublePinyin, "nihcvsgo<你好><中国>", "你好中国",
         {{"nihcvsgo", "你好中国"}, {"vsgo", "中国"}}},
        {"double pinyin, keys typed after the first part", doublePinyin, "nihcvsgo<你好>nihc<中国><你好>",
         "你好中国你好", {{"nihcvsgonihc", "你好中国你好"}, {"nihc", "你好"}}},
        // The automatic commit of 式 ends its part and learns it under its own
        // code, as space would; 子 is learnt under its own key.
        {"shape codes, a code committed by the next key", shapeCodes, "aab ", "式子", {{"aa", "式"}, {"b", "子"}}},
        {"shape codes, typed after an automatic commit", shapeCodes, "aabb ", "式孙", {{"aa", "式"}, {"bb", "孙"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConfigManager::shared().update([&](Settings& s) {
            s = Settings{};
            c.settings(s);
        });
        store.reloadDBLink().wait();
        TaviroIMEngine::shared().reloadInputDelegate();
        TaviroIMEngine::shared().inputDelegate()->waitForSetUp();
        session->replaceClient(std::string("org.example.scripted"));
        TaviroController::pendingCommitText().clear();
        const UserRows before = userRows();
        run(c.script);
        EXPECT_EQ(committed(), c.committed);
        EXPECT_EQ(TaviroIMEngine::shared().inputBuffer(), "");
        EXPECT_EQ(changed(before, userRows()), c.learnt);
        TaviroIMEngine::shared().clean();
    }
    std::filesystem::remove(store.mainCodeTableDBLocalPath());
    std::filesystem::remove(folder / "spScheme.plist");
    store.reloadDBLink().wait();
}

// The reported case: the word picked first keeps its own code's candidates.
TEST_F(Learning, KeysTypedAfterAPartialPickDoNotTeachTheFirstCode) {
    run("tianqi<天>henhao ");
    const std::string committedText = committed();
    ASSERT_EQ(committedText.rfind("天", 0), 0u) << committedText;
    const UserRows rows = userRows();
    EXPECT_EQ(rows.count({"tianqihenhao", committedText}), 1u);
    for (const auto& [key, value] : rows)
        if (key.second == committedText) EXPECT_EQ(key.first, "tianqihenhao");
    ASSERT_TRUE(session->typeScript("tianqi"));
    ASSERT_TRUE(window().isVisible());
    EXPECT_EQ(window().visibleCandidates().front(), "天气");
}

} // namespace
} // namespace taviro::test
