#include "Settings/App/SingleInstance.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Notifications/BusLoop.h"

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>

namespace kelvane {

struct SingleInstance::Impl {
    std::unique_ptr<sdbus::IConnection> connection;
    std::unique_ptr<sdbus::IObject> object;
    std::unique_ptr<plat::BusLoop> loop;
};

SingleInstance::SingleInstance(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SingleInstance::~SingleInstance() {
    if (!impl_ || !impl_->connection) return;
    impl_->loop.reset();
    try {
        impl_->object.reset();
        impl_->connection->releaseName(kBusName);
    } catch (const std::exception&) {
    }
}

namespace {

std::unique_ptr<sdbus::IConnection> connect(const std::optional<std::string>& address) {
    return address ? sdbus::createSessionBusConnectionWithAddress(*address) : sdbus::createSessionBusConnection();
}

// Hands the URLs to the owner of the name; false when that did not work.
bool forward(const std::vector<std::string>& urls, const std::optional<std::string>& address) {
    try {
        auto connection = connect(address);
        auto proxy = sdbus::createProxy(*connection, SingleInstance::kBusName, SingleInstance::kObjectPath);
        proxy->callMethod("OpenURLs")
            .onInterface(SingleInstance::kInterface)
            .withTimeout(std::chrono::seconds(5))
            .withArguments(urls);
        return true;
    } catch (const std::exception& e) {
        plat::log(std::string("Kelvane: could not reach the running instance: ") + e.what());
        return false;
    }
}

} // namespace

std::pair<SingleInstance::Role, std::unique_ptr<SingleInstance>>
SingleInstance::claim(const std::vector<std::string>& urls, Handler handler, std::optional<std::string> address,
                      Lost lost) {
    auto impl = std::make_unique<Impl>();
    try {
        impl->connection = connect(address);
    } catch (const std::exception& e) {
        plat::log(std::string("Kelvane: no session bus, running on its own: ") + e.what());
        return {Role::First, nullptr};
    }
    // Two tries: an owner that goes away between the failed claim and the call leaves
    // the name free for the second claim.
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            impl->connection->requestName(kBusName);
            impl->object = sdbus::createObject(*impl->connection, kObjectPath);
            impl->object->registerMethod("OpenURLs")
                .onInterface(kInterface)
                .implementedAs([handler](const std::vector<std::string>& received) {
                    try {
                        if (handler) handler(received);
                    } catch (const std::exception& e) {
                        plat::log(std::string("Kelvane: URLs handed over were not taken: ") + e.what());
                    }
                });
            impl->object->finishRegistration();
            impl->loop = std::make_unique<plat::BusLoop>(*impl->connection, [lost](const std::string& why) {
                plat::log("Kelvane: the session bus is gone (" + why + ")");
                if (lost) lost();
            });
            return {Role::First, std::unique_ptr<SingleInstance>(new SingleInstance(std::move(impl)))};
        } catch (const sdbus::Error&) {
            impl->object.reset();
        }
        if (forward(urls, address)) return {Role::Forwarded, nullptr};
    }
    plat::log("Kelvane: another instance holds the bus name but does not answer; running on its own");
    return {Role::First, nullptr};
}

} // namespace kelvane
