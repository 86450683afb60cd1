#pragma once
// Small SQLite fixtures for the dictionary store: a bundle folder with dag.db
// and english.db, a per-user folder and a Library folder, all fresh per test.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/PyString.h"
#include "InputMethod/Core/Settings.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "support/TestHome.h"

namespace taviro::test {

inline void execSql(const std::filesystem::path& file, const std::string& sql) {
    sqlkit::SQLDatabase db(file.string());
    ASSERT_TRUE(db.open()) << file;
    ASSERT_TRUE(db.executeStatements("BEGIN;\n" + sql + "\nCOMMIT;")) << sql;
    db.close();
}

// Overwrites `count` bytes of `file` from `from` with junk (a damaged database page).
inline void overwriteWithJunk(const std::filesystem::path& file, std::streamoff from, std::size_t count) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(from);
    const std::string junk(count, '\xAB');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
}

inline int syllable(const std::string& text) {
    auto code = PyString::syllableCodeForText(text);
    EXPECT_TRUE(code.has_value()) << text;
    return code.value_or(0);
}

// A dag.db row: the syllables of the word (texts) and its "Word" value.
struct DagRow {
    std::string table;
    std::vector<std::string> syllables;
    std::string word;
};

inline std::string sqlText(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

inline void writeDag(const std::filesystem::path& file, const std::vector<DagRow>& rows) {
    std::filesystem::remove(file);
    std::string sql;
    auto columns = [](int n) {
        std::string c;
        for (int i = 1; i <= n; ++i) {
            c += 'p';
            c += std::to_string(i);
            c += " INTEGER, ";
        }
        return c;
    };
    for (int n = 1; n <= 7; ++n)
        sql += "CREATE TABLE w" + std::to_string(n) + " (" + columns(n) + "Word TEXT);\n";
    for (int n = 2; n <= 5; ++n)
        sql += "CREATE TABLE jw" + std::to_string(n) + " (" + columns(n) + "Word TEXT);\n";
    sql += "CREATE TABLE CodeTable (Code TEXT, \"Table\" TEXT, Weight REAL);\n";
    for (const auto& r : rows) {
        sql += "INSERT INTO " + r.table + " VALUES(";
        for (const auto& s : r.syllables) sql += std::to_string(syllable(s)) + ",";
        sql += (r.word == "NULL" ? std::string("NULL") : sqlText(r.word)) + ");\n";
    }
    execSql(file, sql);
}

// (Code, Table, Weight) rows of a table named CodeTable.
struct CodeRow {
    std::string code;
    std::string table;
    double weight;
};

inline void writeCodeTable(const std::filesystem::path& file, const std::vector<CodeRow>& rows,
                           const std::string& extra = "") {
    std::string sql = "CREATE TABLE IF NOT EXISTS CodeTable (Code TEXT, \"Table\" TEXT, Weight REAL);\n" + extra;
    for (const auto& r : rows)
        sql += "INSERT INTO CodeTable VALUES(" + sqlText(r.code) + "," + sqlText(r.table) + "," +
               std::to_string(r.weight) + ");\n";
    execSql(file, sql);
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = freshDir("store");
        loc_ = Database::Locations{base_ / "user", base_ / "bundle", base_ / "library"};
        for (const auto& d : {loc_.userFolder, loc_.resourceDir, loc_.libraryDir})
            std::filesystem::create_directories(d);
        writeDag(loc_.resourceDir / "dag.db", {});
        writeCodeTable(loc_.resourceDir / "english.db", {});
    }

    void TearDown() override {
        if (db_) db_->closeAll();
    }

    // hooks_, with the settings taken from the fixture's. The hook shares
    // them rather than pointing at the fixture: a lookup part abandoned at its
    // deadline may still ask for them after the test has ended.
    Database::Hooks storeHooks() {
        Database::Hooks h = hooks_;
        h.settings = [state = settings_] {
            std::lock_guard lk(state->mutex);
            return std::make_shared<const Settings>(state->settings);
        };
        return h;
    }

    // A store over the fixture folders whose settings come from the fixture's,
    // with nothing opened yet.
    Database& fresh() {
        db_ = Database::create(loc_);
        db_->setHooks(storeHooks());
        return *db_;
    }

    // The same store with its files open.
    Database& open() {
        fresh();
        db_->openDatabases(Database::reloadScript());
        return *db_;
    }

    void setSettings(const std::function<void(Settings&)>& change) {
        std::lock_guard lk(settings_->mutex);
        change(settings_->settings);
    }

    std::filesystem::path base_;
    Database::Locations loc_;
    Database::Hooks hooks_;
    std::shared_ptr<Database> db_;
    struct SharedSettings {
        std::mutex mutex;
        Settings settings;
    };
    std::shared_ptr<SharedSettings> settings_ = std::make_shared<SharedSettings>();
};

// Keeps the messages the store posts for the user.
class RecordingNotice : public UserNotice {
public:
    void post(const std::string& title, const std::string& text) override {
        std::lock_guard lk(m_);
        posts_.push_back(title + ": " + text);
    }
    std::size_t count() const {
        std::lock_guard lk(m_);
        return posts_.size();
    }
    std::vector<std::string> posts() const {
        std::lock_guard lk(m_);
        return posts_;
    }

private:
    mutable std::mutex m_;
    std::vector<std::string> posts_;
};

inline std::vector<std::string> words(const std::vector<CodeTable>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(r.table);
    return out;
}

} // namespace taviro::test
