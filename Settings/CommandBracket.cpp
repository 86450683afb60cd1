#include "Settings/CommandBracket.h"

#include "Settings/NotificationSender.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLTransaction.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace kelvane {
namespace {

struct OpenBrackets {
    std::mutex m;
    std::condition_variable cv;
    std::vector<const CommandBracket*> open; // in opening order
};

OpenBrackets& openBrackets() {
    static OpenBrackets* brackets = new OpenBrackets; // outlives every static bracket
    return *brackets;
}

} // namespace

CommandBracket::CommandBracket(Kind kind) : kind_(kind) {
    auto& brackets = openBrackets();
    std::lock_guard lk(brackets.m);
    switch (kind_) {
    case Kind::Full:
        NotificationSender::okToUse(false);
        NotificationSender::post(plat::command::kCloseDatabase);
        break;
    case Kind::UserDictionary:
        NotificationSender::post(plat::command::kCloseDatabase);
        NotificationSender::okToUse(false);
        break;
    case Kind::OkToUseOnly: NotificationSender::okToUse(false); break;
    }
    brackets.open.push_back(this);
}

CommandBracket::~CommandBracket() {
    auto& brackets = openBrackets();
    std::lock_guard lk(brackets.m);
    auto it = std::find(brackets.open.begin(), brackets.open.end(), this);
    if (it == brackets.open.end()) return; // closed already by closeAllOpen
    brackets.open.erase(it);
    postClosing();
    brackets.cv.notify_all();
}

void CommandBracket::postClosing() const {
    if (kind_ != Kind::OkToUseOnly) NotificationSender::post(plat::command::kNeedsReloadDBLink);
    NotificationSender::okToUse(true);
}

bool CommandBracket::commitInside(Kind kind, sqlkit::SQLTransaction& transaction, sqlkit::SQLDatabase& db) {
    // The commit writes only what is left of the transaction; the copy of the log into
    // the file, which SQLite would otherwise start inside the commit, comes after.
    db.executeStatements("PRAGMA wal_autocheckpoint = 0;");
    bool committed = false;
    {
        CommandBracket bracket(kind);
        committed = transaction.commit();
    }
    db.executeStatements("PRAGMA wal_autocheckpoint = 1000;");
    if (committed) {
        // Readers go on meanwhile; one still reading the old data lets the log stay.
        const bool logs = db.logsErrors();
        const double wait = db.maxBusyRetryTimeInterval();
        db.setLogsErrors(false);
        db.setMaxBusyRetryTimeInterval(0.2);
        db.executeStatements("PRAGMA wal_checkpoint(TRUNCATE);");
        db.setMaxBusyRetryTimeInterval(wait);
        db.setLogsErrors(logs);
    }
    return committed;
}

bool CommandBracket::waitUntilAllClosed(std::chrono::milliseconds timeout) {
    auto& brackets = openBrackets();
    std::unique_lock lk(brackets.m);
    return brackets.cv.wait_for(lk, timeout, [&] { return brackets.open.empty(); });
}

int CommandBracket::closeAllOpen() {
    auto& brackets = openBrackets();
    std::lock_guard lk(brackets.m);
    const int count = static_cast<int>(brackets.open.size());
    for (auto it = brackets.open.rbegin(); it != brackets.open.rend(); ++it) (*it)->postClosing();
    brackets.open.clear();
    brackets.cv.notify_all();
    return count;
}

} // namespace kelvane
