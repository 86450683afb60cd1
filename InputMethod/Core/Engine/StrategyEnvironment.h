#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <string_view>

namespace taviro {

class Database;
struct Settings;

// What a strategy works against: the store (whose folders also give the
// scheme file and the bundle tables, and whose settings snapshot every lookup
// reads), the deadlines of its timed waits and two seams for tests.
struct StrategyEnvironment {
    struct Deadlines {
        std::chrono::milliseconds query{800};   // a whole pinyin query
        std::chrono::milliseconds lookup{500};  // one prefix lookup
        std::chrono::milliseconds assist{500};  // the assist-code filter
        std::chrono::milliseconds shape{1000};  // a shape-code query
    };

    // Null means Database::shared().
    std::shared_ptr<Database> database;
    Deadlines deadlines;
    // Whether pinyin strategies set up the SunPinyin engine.
    bool useSunpinyin = true;
    // Runs first in every source task, named by its source ("userDictionary",
    // "mainTable", "phrase", ...), before the task's cancel check.
    std::function<void(std::string_view source)> beforeSource;
    // Runs after that check: whether the task goes on to read its source.
    std::function<void(std::string_view source, bool proceeds)> afterCheck;

    // The store, Database::shared() when none was given.
    Database& store() const;
    std::shared_ptr<Database> storePtr() const;
    // The store's current settings snapshot.
    std::shared_ptr<const Settings> settings() const;
};

} // namespace taviro
