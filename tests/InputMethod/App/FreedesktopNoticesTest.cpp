#include "InputMethod/App/FreedesktopNotices.h"
#include "PrivateBus.h"
#include "Platform/Foundation/Plist.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace taviro::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Waits, bounded, until `done` holds; `m` guards what it reads.
template <class Pred>
bool waitUntil(std::mutex& m, std::condition_variable& cv, Pred done) {
    std::unique_lock lk(m);
    return cv.wait_for(lk, 10s, done);
}

// Notices the center could not hand to a service, as the main queue would run them.
struct Undelivered {
    std::mutex m;
    std::condition_variable cv;
    std::vector<Notice> notices;
    FreedesktopNoticeCenter::Executor executor() {
        return [](std::function<void()> fn) { fn(); };
    }
    void attach(NoticeCenter& center) {
        center.setUndeliveredHandler([this](const Notice& n) {
            std::lock_guard lk(m);
            notices.push_back(n);
            cv.notify_all();
        });
    }
};

// A notification service on the session bus: numbers the notices from 41 and
// records which ids were closed.
class FakeNotificationService {
public:
    FakeNotificationService() {
        connection_ = sdbus::createSessionBusConnection("org.freedesktop.Notifications");
        object_ = sdbus::createObject(*connection_, "/org/freedesktop/Notifications");
        const char* iface = "org.freedesktop.Notifications";
        object_->registerMethod("Notify").onInterface(iface).implementedAs(
            [this](const std::string&, std::uint32_t, const std::string&, const std::string& title,
                   const std::string&, const std::vector<std::string>&, const std::map<std::string, sdbus::Variant>&,
                   std::int32_t) {
                std::lock_guard lk(m);
                titles.push_back(title);
                cv.notify_all();
                return next_++;
            });
        object_->registerMethod("CloseNotification").onInterface(iface).implementedAs([this](std::uint32_t id) {
            std::lock_guard lk(m);
            closed.push_back(id);
            cv.notify_all();
        });
        object_->registerSignal("ActionInvoked").onInterface(iface).withParameters<std::uint32_t, std::string>();
        object_->registerSignal("NotificationClosed").onInterface(iface).withParameters<std::uint32_t, std::uint32_t>();
        object_->finishRegistration();
        connection_->enterEventLoopAsync();
    }
    ~FakeNotificationService() {
        object_.reset();
        connection_->leaveEventLoop();
    }

    std::mutex m;
    std::condition_variable cv;
    std::vector<std::string> titles;
    std::vector<std::uint32_t> closed;

private:
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IObject> object_;
    std::uint32_t next_ = 41;
};

Notice updateNotice() { return Notice{std::string("update_alert"), "有更新", std::string("点我"), "正文"}; }

TEST(FreedesktopNotices, WithoutAServiceANoticeGoesToTheUndeliveredHandler) {
    PrivateBus bus;
    if (!bus.ok()) GTEST_SKIP() << "dbus-daemon cannot be started";
    Undelivered undelivered;
    auto center = FreedesktopNoticeCenter::create(undelivered.executor(), freshDir("runtime") / "notices.plist");
    ASSERT_TRUE(center);
    undelivered.attach(*center);
    center->deliver(updateNotice());
    ASSERT_TRUE(waitUntil(undelivered.m, undelivered.cv, [&] { return !undelivered.notices.empty(); }));
    EXPECT_EQ(undelivered.notices[0], updateNotice());
    EXPECT_TRUE(center->delivered().empty());
}

// At exit a notice is handed over and its answer awaited: taken by a service; none on
// the bus; the bus itself gone (the end of the session, after which the center's own
// bus thread has ended quietly). It answers within the time given and never throws.
TEST(FreedesktopNotices, AtExitANoticeIsHandedOverAndAnswered) {
    enum class Bus { withService, noService, gone };
    for (Bus how : {Bus::withService, Bus::noService, Bus::gone}) {
        SCOPED_TRACE(static_cast<int>(how));
        PrivateBus bus;
        if (!bus.ok()) GTEST_SKIP() << "dbus-daemon cannot be started";
        std::optional<FakeNotificationService> service;
        if (how == Bus::withService) service.emplace();
        auto center = FreedesktopNoticeCenter::create([](std::function<void()> fn) { fn(); }, {});
        ASSERT_TRUE(center);
        if (how == Bus::gone) {
            bus.stop();
            std::this_thread::sleep_for(100ms);
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(center->deliverNow(updateNotice(), 2s), how == Bus::withService);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
        if (service) {
            std::lock_guard lk(service->m);
            EXPECT_EQ(service->titles, std::vector<std::string>{updateNotice().title});
        }
        center.reset();
    }
}

// The earlier run: a child process that shows one notice and ends without
// removing it. Runs only when the test below starts it.
TEST(FreedesktopNoticesChild, ShowsOneNoticeAndEnds) {
    const char* record = std::getenv("TAVIRO_NOTICE_CHILD_RECORD");
    if (!record) GTEST_SKIP() << "started by EarlierRunsNoticesAreRemovedAtTheNextStart";
    auto center = FreedesktopNoticeCenter::create([](std::function<void()> fn) { fn(); }, record);
    ASSERT_TRUE(center);
    center->deliver(updateNotice());
    for (int i = 0; i < 1000 && center->delivered().empty(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(center->delivered().size(), 1u);
    std::_Exit(0);  // as a killed process: no clean-up
}

TEST(FreedesktopNotices, EarlierRunsNoticesAreRemovedAtTheNextStart) {
    PrivateBus bus;
    if (!bus.ok()) GTEST_SKIP() << "dbus-daemon cannot be started";
    FakeNotificationService service;
    const fs::path record = freshDir("runtime") / "notices.plist";

    // The earlier run, in a process of its own.
    const std::string recordEnv = "TAVIRO_NOTICE_CHILD_RECORD=" + record.string();
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back(recordEnv);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=FreedesktopNoticesChild.ShowsOneNoticeAndEnds";
    char* argv[] = {exe.data(), filter.data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    {
        std::lock_guard lk(service.m);
        ASSERT_EQ(service.titles, (std::vector<std::string>{"有更新"}));
    }
    ASSERT_TRUE(fs::exists(record));

    // The next start removes it, and keeps no record of it.
    Undelivered undelivered;
    auto center = FreedesktopNoticeCenter::create(undelivered.executor(), record);
    ASSERT_TRUE(center);
    center->removeAllDelivered();
    EXPECT_TRUE(waitUntil(service.m, service.cv, [&] { return !service.closed.empty(); }));
    {
        std::lock_guard lk(service.m);
        EXPECT_EQ(service.closed, (std::vector<std::uint32_t>{41}));
    }
    EXPECT_FALSE(fs::exists(record));

    // A notice of this run is shown, recorded, and removed again.
    center->deliver(updateNotice());
    for (int i = 0; i < 1000 && center->delivered().empty(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(center->delivered().size(), 1u);
    EXPECT_TRUE(fs::exists(record));
    center->removeDelivered(updateNotice());
    EXPECT_TRUE(waitUntil(service.m, service.cv, [&] { return service.closed.size() == 2; }));
    EXPECT_FALSE(fs::exists(record));
    EXPECT_TRUE(undelivered.notices.empty());
}

// Ids recorded under another service process are not closed: that service may
// have given the same numbers to other programs' notices.
TEST(FreedesktopNotices, IdsOfAnotherServiceAreLeftAlone) {
    PrivateBus bus;
    if (!bus.ok()) GTEST_SKIP() << "dbus-daemon cannot be started";
    FakeNotificationService service;
    const fs::path record = freshDir("runtime") / "notices.plist";
    plat::PlistValue old = plat::PlistValue::dictionary();
    old["Server"] = std::string(":1.99999");
    plat::PlistValue ids = plat::PlistValue::array();
    ids.append(std::int64_t{41});
    old["Ids"] = std::move(ids);
    ASSERT_TRUE(plat::writePlistFile(record, old));
    auto center = FreedesktopNoticeCenter::create([](std::function<void()> fn) { fn(); }, record);
    ASSERT_TRUE(center);
    center->removeAllDelivered();
    // A notice shown afterwards proves the bus went round once.
    center->deliver(updateNotice());
    EXPECT_TRUE(waitUntil(service.m, service.cv, [&] { return !service.titles.empty(); }));
    std::this_thread::sleep_for(100ms);
    std::lock_guard lk(service.m);
    EXPECT_TRUE(service.closed.empty());
}

} // namespace
} // namespace taviro::test
