#pragma once
#include "Platform/Cloud/CloudDatabase.h"
#include "Platform/Cloud/FolderStore.h"
#include "Platform/Foundation/FileUtil.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <vector>

namespace plat::cloud::test {

// Blocking forms of the operations, each bounded by 20 s.
template <class R>
R waitFor(std::future<R> f) {
    if (f.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "cloud operation did not complete";
        return R{};
    }
    return f.get();
}

inline ModifyResult save(Database& db, std::vector<Record> records, std::vector<RecordID> del = {},
                         std::vector<double>* progress = nullptr) {
    auto p = std::make_shared<std::promise<ModifyResult>>();
    db.modifyRecords(
        std::move(records), std::move(del), {},
        [progress](const RecordID&, double f) {
            if (progress) progress->push_back(f);
        },
        [p](ModifyResult r) { p->set_value(std::move(r)); });
    return waitFor(p->get_future());
}

inline FetchResult fetch(Database& db, std::vector<RecordID> ids, DesiredKeys keys = std::nullopt) {
    auto p = std::make_shared<std::promise<FetchResult>>();
    db.fetchRecords(std::move(ids), std::move(keys), {}, {}, [p](FetchResult r) { p->set_value(std::move(r)); });
    return waitFor(p->get_future());
}

inline QueryResult query(Database& db, Query q, DesiredKeys keys, std::size_t limit) {
    auto p = std::make_shared<std::promise<QueryResult>>();
    db.performQuery(std::move(q), std::move(keys), limit, {}, [p](QueryResult r) { p->set_value(std::move(r)); });
    return waitFor(p->get_future());
}

inline QueryResult more(Database& db, QueryCursor c, DesiredKeys keys, std::size_t limit) {
    auto p = std::make_shared<std::promise<QueryResult>>();
    db.continueQuery(std::move(c), std::move(keys), limit, {}, [p](QueryResult r) { p->set_value(std::move(r)); });
    return waitFor(p->get_future());
}

// A fresh store, cache and folder of files to upload, and accounts on the store.
class FolderStoreTest : public ::testing::Test {
protected:
    std::shared_ptr<Container> open(const std::string& account, std::set<std::string> moderators = {}) {
        return makeFolderContainer(
            {store_, "iCloud.test", account, std::move(moderators), {"DownloadTimes"}, cache_, {}});
    }
    std::filesystem::path file(const std::string& name, const std::string& bytes) {
        const std::filesystem::path p = files_ / name;
        EXPECT_TRUE(plat::writeFileAtomically(p, bytes));
        return p;
    }
    Record table(const std::string& name, std::int64_t downloads, const std::filesystem::path& data) {
        Record r("MainCodeTables", RecordID::random());
        r.setValue("Name", name);
        r.setValue("DownloadTimes", downloads);
        r.setValue("Data", Asset(data));
        return r;
    }

    std::filesystem::path store_ = taviro::test::freshDir("store");
    std::filesystem::path cache_ = taviro::test::freshDir("cache");
    std::filesystem::path files_ = taviro::test::freshDir("files");
};

} // namespace plat::cloud::test
