// The generated built-in files as the programs use them: every scheme through
// the pinyin model's double-pinyin reader, the tables through their text
// format, and typing through the console client with a built-in scheme
// installed the way the preferences application installs it.
#include "InputMethod/Core/Double2Pinyin.h"
#include "InputMethod/Core/PyString.h"
#include "InputMethod/Core/Settings.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Text/TextFileReader.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "Platform/Notifications/RecordingCommandChannel.h"
#include "Settings/BuiltinFiles.h"
#include "Settings/CodeTable/CodeTableChooser.h"
#include "Settings/ConfigManager.h"
#include "Settings/NotificationSender.h"
#include "Settings/Tables/ShuangPinPage.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using kelvane::BuiltinFiles;
using taviro::Double2Pinyin;
using taviro::PyString;

namespace {

const fs::path kKelvane = KELVANE_RESOURCE_DIR;

taviro::Settings doublePinyin() {
    taviro::Settings s;
    s.quanPin = false;
    return s;
}

// The spellings a buffer converts to, one set per syllable.
std::vector<std::set<std::string>> spellings(const Double2Pinyin& d, const std::string& keys) {
    std::vector<std::set<std::string>> out;
    for (const auto& codes : d.convertDoublePinyin(keys, doublePinyin())) {
        std::set<std::string> texts;
        for (int c : codes) texts.insert(std::string(PyString::syllableTextForCode(c)));
        out.push_back(texts);
    }
    return out;
}

} // namespace

// Every scheme loads and types a few syllables as its published layout has them.
TEST(BuiltinSchemes, EverySchemeTypesItsLayoutsSyllables) {
    using Cases = std::vector<std::pair<std::string, std::vector<std::string>>>;
    const Cases ziranma = {{"vsgo", {"zhong", "guo"}}, {"nihk", {"ni", "hao"}}, {"uhxm", {"shang", "xian"}},
                           {"igld", {"cheng", "liang"}}, {"aaah", {"a", "ang"}}, {"jtlv", {"jue", "lv"}}};
    const Cases xiaohe = {{"vsgo", {"zhong", "guo"}}, {"nihc", {"ni", "hao"}}, {"uhxm", {"shang", "xian"}},
                          {"bkjl", {"bing", "jiang"}}, {"xnww", {"xiao", "wei"}}, {"aaah", {"a", "ang"}}};
    const Cases abc = {{"asgo", {"zhong", "guo"}}, {"nihk", {"ni", "hao"}}, {"vhxw", {"shang", "xian"}},
                       {"ekjt", {"chao", "jiang"}}, {"oaoh", {"a", "ang"}}, {"zqjm", {"zei", "jue"}}};
    const Cases microsoft = {{"vsgo", {"zhong", "guo"}}, {"nihk", {"ni", "hao"}}, {"uhxm", {"shang", "xian"}},
                             {"b;ly", {"bing", "lv"}},  {"oaoh", {"a", "ang"}}, {"jtxc", {"jue", "xiao"}}};
    const Cases pinyinjiajia = {{"vygo", {"zhong", "guo"}}, {"nihd", {"ni", "hao"}}, {"igxj", {"shang", "xian"}},
                                {"bqjh", {"bing", "jiang"}}, {"ldlv", {"lao", "lv"}}, {"aaag", {"a", "ang"}}};
    const Cases ziguang = {{"uhgo", {"zhong", "guo"}}, {"nihq", {"ni", "hao"}}, {"isxf", {"shang", "xian"}},
                           {"b;jg", {"bing", "jiang"}}, {"aqxb", {"chao", "xiao"}}, {"oaos", {"a", "ang"}}};
    const std::map<std::string, Cases> schemes = {
        {"智能ABC.plist", abc},          {"小浪双拼.plist", xiaohe},           {"紫光拼音.plist", ziguang},
        {"自然码.plist", ziranma},       {"拼音加加.plist", pinyinjiajia},     {"微软双拼2003.plist", microsoft},
        {"微软双拼2003标准版.plist", microsoft}, {"大牛双拼.plist", xiaohe}, {"星空键道.plist", xiaohe},
        {"键道3.plist", xiaohe},         {"键道6.plist", xiaohe},              {"国标双拼.plist", ziranma},
    };
    ASSERT_EQ(schemes.size(), BuiltinFiles::splist.size());
    for (auto name : BuiltinFiles::splist) {
        SCOPED_TRACE(std::string(name));
        const fs::path path = kKelvane / fs::path(name);
        auto root = plat::readPlistFile(path, plat::PlistValue::Type::Dictionary);
        ASSERT_TRUE(root);
        EXPECT_EQ(root->find("Version")->asString(), "2.0");
        Double2Pinyin d(path);
        const auto scheme = d.scheme();
        EXPECT_FALSE(scheme->sheng.empty());
        EXPECT_FALSE(scheme->yun.empty());
        EXPECT_FALSE(scheme->special.empty());
        for (const auto& [keys, expected] : schemes.at(std::string(name))) {
            const auto got = spellings(d, keys);
            ASSERT_EQ(got.size(), expected.size()) << keys;
            for (std::size_t i = 0; i < expected.size(); ++i)
                EXPECT_TRUE(got[i].count(expected[i])) << keys << " syllable " << i << " lacks " << expected[i];
        }
    }
}

// Code and assist tables are "word<TAB>code" lines with lower-case key codes;
// assist codes have two keys (one in the "-纯单辅" tables).
TEST(BuiltinTables, LinesHaveTheImportersFormat) {
    auto check = [](std::string_view name, std::size_t minLines, std::size_t codeMin, std::size_t codeMax) {
        SCOPED_TRACE(std::string(name));
        auto text = plat::readWholeFile(kKelvane / fs::path(name));
        ASSERT_TRUE(text);
        std::size_t lines = 0, bad = 0;
        for (auto line : plat::splitLines(*text)) {
            if (line.empty()) continue;
            ++lines;
            auto f = plat::splitFields(line, '\t');
            const bool ok = f.size() == 2 && !f[0].empty() && f[1].size() >= codeMin && f[1].size() <= codeMax &&
                            std::all_of(f[1].begin(), f[1].end(), [](char c) { return (c >= 'a' && c <= 'z') || c == ';'; });
            if (!ok) ++bad;
        }
        EXPECT_GE(lines, minLines);
        EXPECT_EQ(bad, 0u);
    };
    for (auto name : BuiltinFiles::ctlist) check(name, 7000, 1, 64);
    for (auto name : BuiltinFiles::fplist) {
        const bool single = std::string_view(name).find("纯单辅") != std::string_view::npos;
        check(name, 7800, 1, single ? 1 : 2);
    }
}

// Known codes of the tables give their words.
TEST(BuiltinTables, KnownCodesGiveTheirWords) {
    const struct {
        const char* file;
        const char* word;
        const char* code;
    } cases[] = {
        {"五笔86.txt", "工", "a"},        {"五笔86.txt", "中国", "khlg"},   {"09五笔第一代.txt", "工", "aaaa"},
        {"雅虎倉頡.txt", "日", "a"},      {"仓颉五代.txt", "明", "ab"},      {"自然码.txt", "中国", "vsgo"},
        {"大牛双拼.txt", "你好", "nihc"}, {"智能 ABC 固顶码.txt", "中国", "asgo"}, {"键道3.txt", "的", "dep"},
        {"五笔画.txt", "一", "h"},        {"86版五笔辅码.txt", "的", "rq"}, {"速成辅码.txt", "明", "ab"},
        {"小牛形码-纯单辅.txt", "的", "p"},
    };
    std::map<std::string, std::set<std::string>> lines;
    for (const auto& c : cases) {
        auto& set = lines[c.file];
        if (set.empty()) {
            const std::string text = plat::readWholeFile(kKelvane / c.file).value_or("");
            for (auto line : plat::splitLines(text)) set.emplace(line);
        }
        EXPECT_TRUE(set.count(std::string(c.word) + "\t" + c.code)) << c.file << " " << c.word << " " << c.code;
    }
}

#ifdef TAVIRO_TYPE_PATH
namespace {

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The console client's output for each script of `scripts` (one line each),
// typed in `home`.
std::string typeIn(const fs::path& home, const std::vector<std::string>& scripts) {
    const std::string h = home.string();
    std::string command = "HOME=" + quoted(h) + " XDG_DATA_HOME=" + quoted(h + "/data") +
                          " XDG_CONFIG_HOME=" + quoted(h + "/config") + " XDG_CACHE_HOME=" + quoted(h + "/cache") +
                          " timeout 60 " + quoted(TAVIRO_TYPE_PATH);
    for (const auto& keys : scripts) command += " " + quoted(keys);
    command += " 2>/dev/null </dev/null";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        pclose(pipe);
    }
    return out;
}

std::string typeIn(const fs::path& home, const std::string& keys) { return typeIn(home, std::vector{keys}); }

} // namespace

// With full pinyin off and a built-in scheme installed as the preferences
// application installs it (built-in files into the user folder, the chosen
// plan copied to "spScheme.plist"), double-pinyin codes type their words.
TEST(BuiltinSchemes, TypingThroughTheConsoleWithAnInstalledScheme) {
    const struct {
        const char* scheme;
        const char* keys;
        const char* committed;
    } cases[] = {
        {"自然码.plist", "nihk ", "你好\n"},   {"自然码.plist", "vsgo ", "中国\n"},
        {"小浪双拼.plist", "nihc ", "你好\n"}, {"智能ABC.plist", "asgo ", "中国\n"},
        {"微软双拼2003.plist", "vsgo ", "中国\n"}, {"紫光拼音.plist", "uhgo ", "中国\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.scheme) + " " + c.keys);
        const fs::path home = taviro::test::freshDir("type-scheme");
        const fs::path userFolder = home / "Documents" / "塔维输入法";
        const fs::path perUser = home / "data" / "TaviroMac";
        const auto report = BuiltinFiles::install(BuiltinFiles::Page::ShuangPin, kKelvane, userFolder);
        ASSERT_TRUE(report.failed.empty());
        fs::create_directories(perUser);
        fs::copy_file(userFolder / "KeyMaps" / c.scheme, perUser / "spScheme.plist");
        plat::PlistValue config;
        config["QuanPin"] = false;
        ASSERT_TRUE(plat::writePlistFile(perUser / "config.plist", config));
        EXPECT_EQ(typeIn(home, c.keys), c.committed);
    }
}

// The layouts whose key map types ";" (for the final "ing") take it as a code
// key as soon as they are in use, whether chosen on the double-pinyin page or
// restored with "config.plist" and "spScheme.plist", without ";" in
// "ExtraCode".
TEST(BuiltinSchemes, SemicolonLayoutsTypeIngThroughTheConsole) {
    enum class Chosen { onThePage, restored };
    for (const std::string layout : {"微软双拼2003", "微软双拼2003标准版", "紫光拼音"}) {
        for (const Chosen how : {Chosen::onThePage, Chosen::restored}) {
            SCOPED_TRACE(layout + (how == Chosen::onThePage ? " chosen on the page" : " restored"));
            const fs::path home = taviro::test::freshDir("type-semicolon");
            const fs::path userFolder = home / "Documents" / "塔维输入法";
            const fs::path perUser = home / "data" / "TaviroMac";
            ASSERT_TRUE(BuiltinFiles::install(BuiltinFiles::Page::ShuangPin, kKelvane, userFolder).failed.empty());
            fs::create_directories(perUser);
            if (how == Chosen::onThePage) {
                auto previous =
                    kelvane::NotificationSender::setChannel(std::make_shared<plat::RecordingCommandChannel>());
                {
                    kelvane::ConfigManager config(perUser);
                    kelvane::ShuangPinPage page(config, {perUser, userFolder, kKelvane});
                    page.willAppear();
                    ASSERT_TRUE(page.selectScheme(layout));
                    EXPECT_TRUE(page.quickExtra());
                    config.quanPin = false;
                    config.save();
                    EXPECT_EQ(config.extraCode, "");
                }
                kelvane::NotificationSender::setChannel(previous);
            } else {
                // What a restore leaves: the whole settings file and the layout's copy.
                plat::PlistValue config;
                config["QuanPin"] = false;
                config["InputPlanName"] = layout;
                config["ExtraCode"] = std::string();
                config["DisableBootButton"] = false;
                ASSERT_TRUE(plat::writePlistFile(perUser / "config.plist", config));
                fs::copy_file(userFolder / "KeyMaps" / (layout + ".plist"), perUser / "spScheme.plist");
            }
            EXPECT_EQ(typeIn(home, std::vector<std::string>{"m;zi ", "x;fu "}), "名字\n幸福\n");
        }
    }
}

namespace {

class SilentSink : public kelvane::ProgressSink {
public:
    void setDoubleValue(double) override {}
    void setMaxValue(double) override {}
    void incrementBy(double) override {}
    void setStringValue(const std::string&) override {}
};

// Chooses a built-in main code table the way the code-table page does, with
// the input method's commands recorded instead of sent.
bool chooseMainCodeTable(const fs::path& perUser, const fs::path& userFolder, const std::string& title) {
    auto previous = kelvane::NotificationSender::setChannel(std::make_shared<plat::RecordingCommandChannel>());
    kelvane::ConfigManager config(perUser);
    const kelvane::TableLocations where{perUser, userFolder, kKelvane};
    plat::RunLoopDriver driver(plat::MainQueue::shared());
    int calls = 0;
    bool ok = false;
    plat::MainQueue::shared().async([&] {
        kelvane::CodeTableChooser::selectMainCodeTable(config, where, title, std::make_shared<SilentSink>(),
                                                       [&](bool result) {
                                                           ++calls;
                                                           ok = result;
                                                       });
    });
    driver.runUntil([&] { return calls > 0; }, std::chrono::seconds(60));
    kelvane::NotificationSender::setChannel(previous);
    return calls == 1 && ok;
}

} // namespace

// A built-in shape-code table chosen on the code-table page types its codes
// in the shape-code mode.
TEST(BuiltinTables, TypingThroughTheConsoleWithAChosenWubiTable) {
    const fs::path home = taviro::test::freshDir("type-wubi");
    const fs::path userFolder = home / "Documents" / "塔维输入法";
    const fs::path perUser = home / "data" / "TaviroMac";
    ASSERT_TRUE(BuiltinFiles::install(BuiltinFiles::Page::CodeTable, kKelvane, userFolder).failed.empty());
    ASSERT_TRUE(chooseMainCodeTable(perUser, userFolder, "五笔86"));
    auto config = plat::readPlistFile(perUser / "config.plist", plat::PlistValue::Type::Dictionary);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->find("CodeTableVersion")->asInteger(), 1);
    (*config)["QuanPin"] = false;
    (*config)["FourCode"] = 1;
    ASSERT_TRUE(plat::writePlistFile(perUser / "config.plist", *config));
    const struct {
        const char* keys;
        const char* committed;
    } cases[] = {{"khlg ", "中国\n"}, {"wqvb ", "你好\n"}, {"a ", "工\n"}};
    for (const auto& c : cases) EXPECT_EQ(typeIn(home, c.keys), c.committed) << c.keys;
}

// Shape-code words typed run together, each committed by the first key of the
// next (the overflow commit), are learnt as if committed by space: each code of
// several words leaves a user-dictionary row with the word it committed.
TEST(BuiltinTables, WordsCommittedByTheNextKeyAreLearnt) {
    for (const std::string title : {"五笔86", "09五笔第一代"}) {
        SCOPED_TRACE(title);
        const fs::path home = taviro::test::freshDir("type-runon");
        const fs::path userFolder = home / "Documents" / "塔维输入法";
        const fs::path perUser = home / "data" / "TaviroMac";
        ASSERT_TRUE(BuiltinFiles::install(BuiltinFiles::Page::CodeTable, kKelvane, userFolder).failed.empty());
        ASSERT_TRUE(chooseMainCodeTable(perUser, userFolder, title));
        auto config = plat::readPlistFile(perUser / "config.plist", plat::PlistValue::Type::Dictionary);
        ASSERT_TRUE(config);
        (*config)["QuanPin"] = false;
        (*config)["FourCode"] = 1;
        (*config)["CodeLength"] = 4;
        ASSERT_TRUE(plat::writePlistFile(perUser / "config.plist", *config));

        // Four-key codes of several words, in the table's order.
        std::vector<std::string> codes;
        std::map<std::string, int> words;
        const std::string text = plat::readWholeFile(userFolder / (title + ".txt")).value_or("");
        for (auto line : plat::splitLines(text)) {
            const auto f = plat::splitFields(line, '\t');
            if (f.size() != 2 || f[1].size() != 4 || f[1][0] == 'z') continue;
            if (++words[std::string(f[1])] == 2) codes.emplace_back(f[1]);
            if (codes.size() == 20) break;
        }
        ASSERT_EQ(codes.size(), 20u);
        std::string keys;
        for (const auto& code : codes) keys += code;
        const std::string committed = typeIn(home, keys + " ");

        // Every row of the user dictionary, by its code.
        std::map<std::string, std::vector<std::string>> rows;
        sqlkit::SQLDatabase db((perUser / "user.db").string());
        ASSERT_TRUE(db.openWithFlags(SQLITE_OPEN_READONLY));
        std::vector<std::string> tables;
        if (auto rs = db.executeQuery("SELECT name FROM sqlite_master WHERE type='table'")) {
            while (rs->next()) tables.push_back(rs->stringForColumnIndex(0).value_or(""));
            rs->close();
        }
        for (const auto& table : tables)
            if (auto rs = db.executeQuery("SELECT Py, Word FROM \"" + table + "\"")) {
                while (rs->next())
                    rows[rs->stringForColumnIndex(0).value_or("")].push_back(rs->stringForColumnIndex(1).value_or(""));
                rs->close();
            }
        db.close();
        std::string learnt;
        for (const auto& code : codes) {
            const auto it = rows.find(code);
            if (it == rows.end() || it->second.size() != 1) {
                ADD_FAILURE() << code << " was not learnt once";
                continue;
            }
            learnt += it->second.front();
        }
        EXPECT_EQ(learnt + "\n", committed);
    }
}
#endif
