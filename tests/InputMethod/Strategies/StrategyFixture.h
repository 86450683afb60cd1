#pragma once
// A store over the generated bundle data (dag.db, english.db, py2hz.plist,
// emoji.plist, pyfreq.plist) with a fresh per-user folder, the Xiaohe
// double-pinyin scheme and settings the test controls.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/StrategyEnvironment.h"
#include "InputMethod/Core/Settings.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "support/TestHome.h"

namespace taviro::test {

inline const std::filesystem::path& bundleDir() {
    static const std::filesystem::path dir(TAVIRO_RESOURCE_DIR);
    return dir;
}

inline bool haveBundleData() {
    for (const char* f : {"dag.db", "english.db", "py2hz.plist", "emoji.plist", "pyfreq.plist"})
        if (!std::filesystem::exists(bundleDir() / f)) return false;
    return true;
}

inline std::string sqlQuoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

inline void runSql(const std::filesystem::path& file, const std::string& sql) {
    sqlkit::SQLDatabase db(file.string());
    ASSERT_TRUE(db.open()) << file;
    ASSERT_TRUE(db.executeStatements(sql)) << sql;
    db.close();
}

struct Row {
    std::string code;
    std::string table;
    double weight = 0;
};

// A file with a CodeTable (Code, Table, Weight) holding the rows.
inline void writeRows(const std::filesystem::path& file, const std::vector<Row>& rows,
                      const std::string& extra = "") {
    std::string sql = "CREATE TABLE IF NOT EXISTS CodeTable (Code TEXT, \"Table\" TEXT, Weight REAL);\n" + extra;
    for (const auto& r : rows)
        sql += "INSERT INTO CodeTable VALUES(" + sqlQuoted(r.code) + "," + sqlQuoted(r.table) + "," +
               std::to_string(r.weight) + ");\n";
    runSql(file, sql);
}

inline std::vector<std::string> words(const std::vector<CodeTable>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(r.table);
    return out;
}

inline std::ptrdiff_t indexOf(const std::vector<CodeTable>& records, const std::string& word) {
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].table == word) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

class StrategyTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveBundleData()) GTEST_SKIP() << "generated bundle data missing in " << bundleDir();
        base_ = freshDir("strategies");
        loc_ = Database::Locations{base_ / "user", bundleDir(), base_ / "library"};
        std::filesystem::create_directories(loc_.userFolder);
        std::filesystem::create_directories(loc_.libraryDir);
        // The double-pinyin fixture scheme of the pinyin-model tests.
        const auto scheme = std::filesystem::path(TAVIRO_TEST_DATA_DIR).parent_path().parent_path() / "Pinyin" /
                            "data" / "xiaohe.plist";
        std::filesystem::copy_file(scheme, loc_.userFolder / "spScheme.plist");
        set([](Settings& s) {
            s.quanPin = false;
            s.fourCode = 0;
            s.mixEnglishInput = false;
            s.noEmoji = true;
            s.superSP = false;
        });
    }

    void TearDown() override {
        if (store_) store_->closeAll();
    }

    // Opens the store over the files written so far.
    StrategyEnvironment open() {
        store_ = Database::create(loc_);
        Database::Hooks h;
        // Tasks abandoned at a deadline may still read settings after the test.
        h.settings = [box = settings_] {
            std::lock_guard lk(box->m);
            return std::make_shared<const Settings>(box->value);
        };
        store_->setHooks(h);
        store_->openDatabases(Database::reloadScript());
        StrategyEnvironment env;
        env.database = store_;
        // Generous deadlines: a loaded machine must not change what a test
        // sees. The deadline tests set their own.
        env.deadlines = {std::chrono::seconds(20), std::chrono::seconds(15), std::chrono::seconds(10),
                         std::chrono::seconds(20)};
        return env;
    }

    void set(const std::function<void(Settings&)>& change) {
        std::lock_guard lk(settings_->m);
        change(settings_->value);
    }

    // A main code table of the given rows, chosen in the settings.
    void useMainTable(const std::vector<Row>& rows) {
        writeRows(loc_.userFolder / "mainCodeTable.database", rows);
        set([](Settings& s) {
            s.codeTableName = "测试码表";
            s.codeTableVersion = 1;
        });
    }

    void useCustomPhrases(const std::vector<Row>& rows) { writeRows(loc_.userFolder / "custom.db", rows); }

    // An assist table: code -> characters, and the reverse table.
    void useAssistTable(const std::vector<Row>& rows) {
        std::string extra = "CREATE TABLE TableCode (\"Table\" TEXT, Code TEXT);\n";
        for (const auto& r : rows)
            extra += "INSERT INTO TableCode VALUES(" + sqlQuoted(r.table) + "," + sqlQuoted(r.code) + ");\n";
        writeRows(loc_.userFolder / "assist.database", rows, extra);
        set([](Settings& s) { s.assistPlanName = "测试辅码"; });
    }

    std::filesystem::path base_;
    Database::Locations loc_;
    std::shared_ptr<Database> store_;
    struct SettingsBox {
        std::mutex m;
        Settings value;
    };
    std::shared_ptr<SettingsBox> settings_ = std::make_shared<SettingsBox>();
};

} // namespace taviro::test
