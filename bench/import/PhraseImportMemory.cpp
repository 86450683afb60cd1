// Peak memory of Kelvane's custom-phrase text import, against a plain insert of
// the same rows, held in memory as the import holds them, through SQLite:
//   bench_phrase_import_memory [rows]        (default 300000)
// Each run measures the process's peak resident size (VmHWM) from a reset, in
// a temporary home that is removed at the end.
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "Platform/Notifications/CommandChannel.h"
#include "Settings/Functions/ModelManager.h"
#include "Settings/NotificationSender.h"
#include "Settings/Pages/PbarController.h"
#include "Settings/Tables/CustomPhraseEditor.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Discard : plat::CommandChannel {
    void post(const plat::Command&) override {}
};

// A size in KiB from /proc/self/status: "VmHWM" (the peak since the last reset) or
// "VmRSS" (now).
long statusKiB(const std::string& field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::string phrase(long i) {
    static const char* chars[] = {"天", "气", "很", "好", "我", "们", "世", "界", "中", "国"};
    std::string out;
    for (long n = i % 4 + 2, k = i; n > 0; --n, k /= 10) out += chars[k % 10];
    return out;
}

std::string code(long i) {
    std::string out;
    for (long k = i; out.size() < 6; k /= 26) out += char('a' + k % 26);
    return out;
}

void plainInsert(const fs::path& db, long rows) {
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    sqlite3_exec(h, "PRAGMA journal_mode=WAL; CREATE TABLE IF NOT EXISTS CodeTable(code TEXT, word TEXT, weight REAL);"
                    "BEGIN IMMEDIATE;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h, "INSERT INTO CodeTable VALUES(?,?,?)", -1, &st, nullptr);
    std::vector<kelvane::CodeTable> held(static_cast<size_t>(rows));
    for (long i = 0; i < rows; ++i) {
        held[size_t(i)].code = code(i);
        held[size_t(i)].table = phrase(i);
        held[size_t(i)].weight = double(i % 100);
    }
    for (const auto& row : held) {
        sqlite3_bind_text(st, 1, row.code.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, row.table.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(st, 3, row.weight);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(h, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(h);
}

} // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 300000;
    char pattern[] = "/tmp/bench-phrase-import-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const fs::path home = pattern;
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    fs::create_directories(home / "data");
    kelvane::NotificationSender::setChannel(std::make_shared<Discard>());

    const fs::path text = home / "phrases.txt";
    {
        std::ofstream out(text);
        for (long i = 0; i < rows; ++i) out << phrase(i) << '\t' << code(i) << '\t' << (i % 100) << '\n';
    }
    const long base = statusKiB("VmRSS");
    resetPeak();
    plainInsert(home / "plain.db", rows);
    const long plain = statusKiB("VmHWM");

    int result = 1;
    {
        kelvane::ModelManager store(home / "folder");
        kelvane::CustomPhraseEditor editor(store);
        plat::RunLoopDriver driver(plat::MainQueue::shared());
        auto sheet = kelvane::PbarController::make();
        bool finished = false, ok = false;
        resetPeak();
        plat::MainQueue::shared().async([&] {
            editor.importFile(text, sheet, [&](bool r) {
                finished = true;
                ok = r;
            });
        });
        driver.runUntil([&] { return finished; });
        const long imported = statusKiB("VmHWM");
        std::printf("rows %ld: resident before %ld KiB; peak of a plain insert %ld KiB; peak of the import %ld KiB "
                    "(%.2fx the plain insert, above the resident size before)\n",
                    rows, base, plain, imported, double(imported - base) / double(std::max(1L, plain - base)));
        result = ok && long(editor.rows().size()) == rows ? 0 : 1;
        if (result) std::printf("the import failed\n");
    }
    std::error_code ec;
    fs::remove_all(home, ec);
    return result;
}
