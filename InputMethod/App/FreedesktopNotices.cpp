#include "InputMethod/App/FreedesktopNotices.h"

#include "Platform/Foundation/Log.h"

#include <sdbus-c++/sdbus-c++.h>

namespace taviro {

namespace {
constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
} // namespace

struct FreedesktopNoticeCenter::Impl {
    std::unique_ptr<sdbus::IProxy> proxy;
    Executor executor;
    mutable std::mutex m;
    std::map<std::uint32_t, Notice> delivered;  // by the service's id
    std::function<void(const Notice&)> activate;
};

std::unique_ptr<FreedesktopNoticeCenter> FreedesktopNoticeCenter::create(Executor executor) {
    auto impl = std::make_shared<Impl>();
    impl->executor = std::move(executor);
    try {
        auto connection = sdbus::createSessionBusConnection();
        impl->proxy = sdbus::createProxy(std::move(connection), kService, kPath);
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
                    d->delivered.erase(id);
                }
            });
        impl->proxy->finishRegistration();
    } catch (const std::exception& e) {
        plat::log(std::string("notices: no session bus (") + e.what() + ")");
        return nullptr;
    }
    return std::unique_ptr<FreedesktopNoticeCenter>(new FreedesktopNoticeCenter(std::move(impl)));
}

FreedesktopNoticeCenter::FreedesktopNoticeCenter(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {
    // Clicks reach the handler the application sets later.
    std::weak_ptr<Impl> weak = impl_;
    impl_->activate = [this](const Notice& n) {
        if (onActivate_) onActivate_(n);
    };
}

FreedesktopNoticeCenter::~FreedesktopNoticeCenter() {
    impl_->activate = nullptr;
    impl_->proxy.reset();
}

void FreedesktopNoticeCenter::deliver(const Notice& notice) {
    std::string body = notice.subtitle ? *notice.subtitle + "\n" + notice.informativeText : notice.informativeText;
    std::vector<std::string> actions;
    if (notice.identifier) actions = {"default", notice.title};
    std::map<std::string, sdbus::Variant> hints;
    std::weak_ptr<Impl> weak = impl_;
    try {
        impl_->proxy->callMethodAsync("Notify")
            .onInterface(kInterface)
            .withArguments(std::string("TaviroMac2"), std::uint32_t{0}, std::string("input-keyboard"), notice.title,
                           body, actions, hints, std::int32_t{-1})
            .uponReplyInvoke([weak, notice](const sdbus::Error* error, std::uint32_t id) {
                if (error) {
                    plat::log("notices: the notification service did not take a notice");
                    return;
                }
                if (auto d = weak.lock()) {
                    std::lock_guard lk(d->m);
                    d->delivered[id] = notice;
                }
            });
    } catch (const std::exception& e) {
        plat::log(std::string("notices: ") + e.what());
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
    }
    for (auto id : ids) {
        try {
            impl_->proxy->callMethodAsync("CloseNotification")
                .onInterface(kInterface)
                .withArguments(id)
                .uponReplyInvoke([](const sdbus::Error*) {});
        } catch (const std::exception&) {
        }
    }
}

void FreedesktopNoticeCenter::removeAllDelivered() {
    for (const auto& n : delivered()) removeDelivered(n);
}

std::vector<Notice> FreedesktopNoticeCenter::delivered() const {
    std::lock_guard lk(impl_->m);
    std::vector<Notice> out;
    for (const auto& [id, n] : impl_->delivered) out.push_back(n);
    return out;
}

} // namespace taviro
