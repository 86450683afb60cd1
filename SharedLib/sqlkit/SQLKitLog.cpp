#include "SharedLib/sqlkit/SQLKitLog.h"

#include <cstdio>
#include <mutex>

namespace sqlkit {
namespace {
std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
SQLLogSink& sink() {
    static SQLLogSink s;
    return s;
}
} // namespace

void logLine(std::string_view line) {
    std::lock_guard lock(sinkMutex());
    if (sink()) {
        sink()(line);
        return;
    }
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

SQLLogSink setLogSink(SQLLogSink newSink) {
    std::lock_guard lock(sinkMutex());
    SQLLogSink old = std::move(sink());
    sink() = std::move(newSink);
    return old;
}

} // namespace sqlkit
