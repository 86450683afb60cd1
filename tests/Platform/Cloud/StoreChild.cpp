// A second account on a folder store, in its own process: counts downloads of one
// public record, fetching the record, raising "DownloadTimes" by one and saving it,
// again after a ServerRecordChanged. Prints "ready", waits until its standard input
// closes, then prints "saved <n> refused <m>" and exits. With <cycles> 0 it saves the
// record new instead (no asset) and prints "created"; with -1 it saves the record in its
// private database instead, with an asset, as a backup. Given a user and group id, it runs
// as that user of that group with umask 002, as members of a shared folder's group do.
//
//   cloud_store_child <store folder> <account> <record name> <cycles> [<uid> <gid>]
#include "Platform/Cloud/CloudDatabase.h"
#include "Platform/Cloud/FolderStore.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <grp.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace plat::cloud;

namespace {

template <class R>
std::optional<R> bounded(std::future<R> f) {
    if (f.wait_for(std::chrono::seconds(20)) != std::future_status::ready) return std::nullopt;
    return f.get();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 7) return 2;
    if (argc == 7) {
        const gid_t gid = static_cast<gid_t>(std::stoul(argv[6]));
        if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(static_cast<uid_t>(std::stoul(argv[5]))) != 0)
            return 6;
        ::umask(002);
    }
    auto container = makeFolderContainer({argv[1], "iCloud.test", argv[2], {}, {"DownloadTimes"}, {}, {}});
    auto db = container->publicCloudDatabase();
    const RecordID id{argv[3]};
    const int cycles = std::stoi(argv[4]);
    if (cycles <= 0) {
        Record r(cycles == 0 ? "MainCodeTables" : "Backups", id);
        r.setValue("Name", std::string("shared"));
        r.setValue("DownloadTimes", std::int64_t{0});
        char data[] = "/tmp/taviro-store-child-XXXXXX";
        const int fd = ::mkstemp(data);
        if (cycles < 0) {
            if (fd < 0 || ::write(fd, "phrases", 7) != 7) return 8;
            db = container->privateCloudDatabase();
            r.setValue("CustomCodeTable", Asset(data));
        }
        auto done = std::make_shared<std::promise<ModifyResult>>();
        db->modifyRecords({r}, {}, {}, {}, [done](ModifyResult m) { done->set_value(std::move(m)); });
        const auto result = bounded(done->get_future());
        if (fd >= 0) {
            ::close(fd);
            ::unlink(data);
        }
        if (!result || result->error) {
            std::printf("failed %s\n", result && result->error ? describe(*result->error).c_str() : "");
            return 7;
        }
        std::printf("created\n");
        return 0;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) {
    }

    int saved = 0, refused = 0;
    for (int attempt = 0; saved < cycles && attempt < cycles * 50; ++attempt) {
        auto fetched = std::make_shared<std::promise<FetchResult>>();
        db->fetchRecords({id}, std::vector<std::string>{"DownloadTimes"}, {}, {},
                         [fetched](FetchResult r) { fetched->set_value(std::move(r)); });
        auto got = bounded(fetched->get_future());
        if (!got || !got->records.count(id)) return 3;
        Record r = got->records.at(id);
        r.setValue("DownloadTimes", r.integerForKey("DownloadTimes").value_or(0) + 1);
        auto done = std::make_shared<std::promise<ModifyResult>>();
        db->modifyRecords({r}, {}, {}, {}, [done](ModifyResult m) { done->set_value(std::move(m)); });
        auto result = bounded(done->get_future());
        if (!result) return 4;
        if (!result->error) ++saved;
        else if (result->error->code == ErrorCode::ServerRecordChanged) ++refused;
        else {
            std::printf("failed %s\n", describe(*result->error).c_str());
            return 5;
        }
    }
    std::printf("saved %d refused %d\n", saved, refused);
    std::fflush(stdout);
    return 0;
}
