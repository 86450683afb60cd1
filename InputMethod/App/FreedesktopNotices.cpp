#include "InputMethod/App/FreedesktopNotices.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Notifications/BusLoop.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdlib>

namespace taviro {

namespace {
constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
// Replies come within this time or not at all.
constexpr std::chrono::seconds kReplyTimeout{10};
} // namespace

struct FreedesktopNoticeCenter::Impl {
    std::unique_ptr<sdbus::IConnection> connection;
    std::unique_ptr<sdbus::IProxy> proxy;
    std::unique_ptr<sdbus::IProxy> bus;  // org.freedesktop.DBus, for the service's owner
    Executor executor;
    std::filesystem::path recordFile;
    mutable std::mutex m;
    std::map<std::uint32_t, Notice> delivered;  // by the service's id
    std::string server;                         // unique name of the service that gave the ids
    std::function<void(const Notice&)> activate;
    std::function<void(const Notice&)> undelivered;
    // Serves the connection; a bus gone away ends it quietly.
    std::unique_ptr<plat::BusLoop> loop;

    // Writes the ids shown now and their server; under `m`.
    void writeRecordLocked() const {
        if (recordFile.empty()) return;
        if (delivered.empty()) {
            std::error_code ec;
            std::filesystem::remove(recordFile, ec);
            return;
        }
        plat::PlistValue record = plat::PlistValue::dictionary();
        record["Server"] = server;
        plat::PlistValue ids = plat::PlistValue::array();
        for (const auto& [id, n] : delivered) ids.append(static_cast<std::int64_t>(id));
        record["Ids"] = std::move(ids);
        if (!plat::writePlistFile(recordFile, record)) plat::log("notices: the record of shown notices not written");
    }

    void close(std::uint32_t id) const {
        try {
            proxy->callMethodAsync("CloseNotification")
                .onInterface(kInterface)
                .withTimeout(kReplyTimeout)
                .withArguments(id)
                .uponReplyInvoke([](const sdbus::Error*) {});
        } catch (const std::exception&) {
        }
    }

    void reportUndelivered(const std::shared_ptr<Impl>& self, const Notice& notice) {
        std::weak_ptr<Impl> weak = self;
        executor([weak, notice] {
            if (auto d = weak.lock(); d && d->undelivered) d->undelivered(notice);
        });
    }
};

std::filesystem::path FreedesktopNoticeCenter::defaultRecordFile() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || runtime[0] != '/') return {};
    return std::filesystem::path(runtime) / "TaviroMac2-notices.plist";
}

std::unique_ptr<FreedesktopNoticeCenter> FreedesktopNoticeCenter::create(Executor executor,
                                                                         std::filesystem::path recordFile) {
    auto impl = std::make_shared<Impl>();
    impl->executor = std::move(executor);
    impl->recordFile = std::move(recordFile);
    try {
        impl->connection = sdbus::createSessionBusConnection();
        impl->proxy = sdbus::createProxy(*impl->connection, kService, kPath);
        impl->bus = sdbus::createProxy(*impl->connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
        std::weak_ptr<Impl> weak = impl;
        impl->proxy->uponSignal("ActionInvoked").onInterface(kInterface).call(
            [weak](std::uint32_t id, const std::string&) {
                auto d = weak.lock();
                if (!d) return;
                std::optional<Notice> notice;
                {
                    std::lock_guard lk(d->m);
                    if (auto it = d->delivered.find(id); it != d->delivered.end()) notice = it->second;
                }
                if (notice)
                    d->executor([weak, n = *notice] {
                        if (auto dd = weak.lock(); dd && dd->activate) dd->activate(n);
                    });
            });
        impl->proxy->uponSignal("NotificationClosed").onInterface(kInterface).call(
            [weak](std::uint32_t id, std::uint32_t) {
                if (auto d = weak.lock()) {
                    std::lock_guard lk(d->m);
                    if (d->delivered.erase(id)) d->writeRecordLocked();
                }
            });
        impl->proxy->finishRegistration();
        impl->bus->finishRegistration();
        impl->loop = std::make_unique<plat::BusLoop>(*impl->connection);
    } catch (const std::exception& e) {
        plat::log(std::string("notices: no session bus (") + e.what() + ")");
        return nullptr;
    }
    return std::unique_ptr<FreedesktopNoticeCenter>(new FreedesktopNoticeCenter(std::move(impl)));
}

FreedesktopNoticeCenter::FreedesktopNoticeCenter(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {
    // Clicks and undelivered notices reach the handlers the application sets later.
    impl_->activate = [this](const Notice& n) {
        if (onActivate_) onActivate_(n);
    };
    impl_->undelivered = [this](const Notice& n) {
        if (onUndelivered_) onUndelivered_(n);
    };
}

FreedesktopNoticeCenter::~FreedesktopNoticeCenter() {
    impl_->activate = nullptr;
    impl_->undelivered = nullptr;
    impl_->loop.reset();
    impl_->proxy.reset();
    impl_->bus.reset();
    impl_->connection.reset();
}

void FreedesktopNoticeCenter::deliver(const Notice& notice) {
    std::string body = notice.subtitle ? *notice.subtitle + "\n" + notice.informativeText : notice.informativeText;
    std::vector<std::string> actions;
    if (notice.identifier) actions = {"default", notice.title};
    std::map<std::string, sdbus::Variant> hints;
    std::weak_ptr<Impl> weak = impl_;
    try {
        auto call = impl_->proxy->createMethodCall(kInterface, "Notify");
        call << std::string("TaviroMac2") << std::uint32_t{0} << std::string("input-keyboard") << notice.title << body
             << actions << hints << std::int32_t{-1};
        impl_->proxy->callMethod(
            call,
            [weak, notice](sdbus::MethodReply& reply, const sdbus::Error* error) {
                auto d = weak.lock();
                if (!d) return;
                std::uint32_t id = 0;
                if (!error) {
                    try {
                        reply >> id;
                    } catch (const std::exception&) {
                        id = 0;
                    }
                }
                if (error || id == 0) {
                    plat::log("notices: no notification service took a notice; shown another way");
                    d->reportUndelivered(d, notice);
                    return;
                }
                std::lock_guard lk(d->m);
                const std::string server = reply.getSender();
                if (server != d->server) d->delivered.clear();  // ids of another service mean nothing here
                d->server = server;
                d->delivered[id] = notice;
                d->writeRecordLocked();
            },
            kReplyTimeout);
    } catch (const std::exception& e) {
        plat::log(std::string("notices: ") + e.what());
        impl_->reportUndelivered(impl_, notice);
    }
}

bool FreedesktopNoticeCenter::deliverNow(const Notice& notice, std::chrono::milliseconds timeout) {
    const std::string body =
        notice.subtitle ? *notice.subtitle + "\n" + notice.informativeText : notice.informativeText;
    try {
        std::uint32_t id = 0;
        impl_->proxy->callMethod("Notify")
            .onInterface(kInterface)
            .withTimeout(timeout)
            .withArguments(std::string("TaviroMac2"), std::uint32_t{0}, std::string("input-keyboard"), notice.title,
                           body, std::vector<std::string>{}, std::map<std::string, sdbus::Variant>{},
                           std::int32_t{-1})
            .storeResultsTo(id);
        return id != 0;
    } catch (const std::exception& e) {
        plat::log(std::string("notices: ") + e.what());
        return false;
    }
}

void FreedesktopNoticeCenter::removeDelivered(const Notice& notice) {
    std::vector<std::uint32_t> ids;
    {
        std::lock_guard lk(impl_->m);
        for (auto it = impl_->delivered.begin(); it != impl_->delivered.end();) {
            if (it->second == notice) {
                ids.push_back(it->first);
                it = impl_->delivered.erase(it);
            } else {
                ++it;
            }
        }
        if (!ids.empty()) impl_->writeRecordLocked();
    }
    for (auto id : ids) impl_->close(id);
}

void FreedesktopNoticeCenter::removeAllDelivered() {
    for (const auto& n : delivered()) removeDelivered(n);
    // Notices an earlier run left: closed only when the service that gave
    // their ids still holds the name (a new service reuses ids for others).
    if (impl_->recordFile.empty()) return;
    const auto record = plat::readPlistFile(impl_->recordFile, plat::PlistValue::Type::Dictionary);
    std::error_code ec;
    std::filesystem::remove(impl_->recordFile, ec);
    if (!record) return;
    const auto* server = record->find("Server");
    const auto* ids = record->find("Ids");
    if (!server || !server->getString() || !ids || !ids->asArray()) return;
    std::vector<std::uint32_t> earlier;
    for (const auto& v : *ids->asArray())
        if (auto id = v.getInteger(); id && *id > 0 && *id <= UINT32_MAX) earlier.push_back(static_cast<std::uint32_t>(*id));
    if (earlier.empty()) return;
    std::weak_ptr<Impl> weak = impl_;
    try {
        impl_->bus->callMethodAsync("GetNameOwner")
            .onInterface("org.freedesktop.DBus")
            .withTimeout(kReplyTimeout)
            .withArguments(std::string(kService))
            .uponReplyInvoke([weak, owner = *server->getString(), earlier](const sdbus::Error* error,
                                                                           const std::string& now) {
                auto d = weak.lock();
                if (!d || error || now != owner) return;
                for (auto id : earlier) d->close(id);
            });
    } catch (const std::exception&) {
    }
}

std::vector<Notice> FreedesktopNoticeCenter::delivered() const {
    std::lock_guard lk(impl_->m);
    std::vector<Notice> out;
    for (const auto& [id, n] : impl_->delivered) out.push_back(n);
    return out;
}

} // namespace taviro
