#include "InputMethod/App/CrashLog.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

namespace taviro {
namespace {

std::atomic<bool> started{false};
// Opened at start: a handler may only make async-signal-safe calls.
int logFd = -1;

void writeText(const char* s) {
    if (logFd >= 0) (void)!::write(logFd, s, std::strlen(s));
}

void onFatalSignal(int sig) {
    writeText("TaviroMac2 crashed: signal ");
    char num[16];
    int n = 0;
    for (int v = sig; v > 0 && n < 15; v /= 10) num[n++] = static_cast<char>('0' + v % 10);
    for (int i = n - 1; i >= 0; --i) (void)!::write(logFd, &num[i], 1);
    writeText("\n");
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    if (logFd >= 0) ::backtrace_symbols_fd(frames, count, logFd);
    writeText("\n");
    // Let the default action end the process (and dump core where enabled).
    std::signal(sig, SIG_DFL);
    ::raise(sig);
}

} // namespace

void CrashLog::start(const std::filesystem::path& logFile) {
    if (started.exchange(true)) return;
    std::error_code ec;
    std::filesystem::create_directories(logFile.parent_path(), ec);
    logFd = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    // backtrace() loads its helper library on first use: do it now, not in the handler.
    void* warm[1];
    ::backtrace(warm, 1);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) std::signal(sig, onFatalSignal);
}

bool CrashLog::isStarted() { return started.load(); }

} // namespace taviro
