#include "InputMethod/App/DesktopState.h"

#include "InputMethod/SharedFunctions.h"
#include "Platform/Notifications/BusLoop.h"

#include <sdbus-c++/sdbus-c++.h>

#include <atomic>
#include <thread>

namespace taviro {

struct DesktopState::Impl {
    std::atomic<std::uint32_t> colorScheme{0};
    std::atomic<bool> screenReader{false};
    std::atomic<bool> stopping{false};
    // Each proxy on a connection of its own, served by a loop that a bus gone
    // away ends quietly.
    std::unique_ptr<sdbus::IConnection> portalConnection, a11yConnection;
    std::unique_ptr<sdbus::IProxy> portal;
    std::unique_ptr<sdbus::IProxy> a11y;
    std::unique_ptr<plat::BusLoop> portalLoop, a11yLoop;
    std::thread reader;
};

namespace {

std::uint32_t schemeOf(const sdbus::Variant& v) {
    try {
        if (v.containsValueOfType<std::uint32_t>()) return v.get<std::uint32_t>();
        if (v.containsValueOfType<sdbus::Variant>()) return schemeOf(v.get<sdbus::Variant>());
    } catch (const std::exception&) {
    }
    return 0;
}

void readAll(DesktopState::Impl& d) {
    using namespace std::chrono_literals;
    try {
        d.portalConnection = sdbus::createSessionBusConnection();
        d.portal = sdbus::createProxy(*d.portalConnection, "org.freedesktop.portal.Desktop",
                                      "/org/freedesktop/portal/desktop");
        d.portal->uponSignal("SettingChanged")
            .onInterface("org.freedesktop.portal.Settings")
            .call([&d](const std::string& ns, const std::string& key, const sdbus::Variant& value) {
                if (ns == "org.freedesktop.appearance" && key == "color-scheme") d.colorScheme = schemeOf(value);
            });
        d.portal->finishRegistration();
        d.portalLoop = std::make_unique<plat::BusLoop>(*d.portalConnection);
        sdbus::Variant value;
        d.portal->callMethod("Read")
            .onInterface("org.freedesktop.portal.Settings")
            .withTimeout(1s)
            .withArguments(std::string("org.freedesktop.appearance"), std::string("color-scheme"))
            .storeResultsTo(value);
        d.colorScheme = schemeOf(value);
    } catch (const std::exception&) {
        // No portal: the appearance stays light unless GTK_THEME says dark.
    }
    if (d.stopping) return;
    try {
        d.a11yConnection = sdbus::createSessionBusConnection();
        d.a11y = sdbus::createProxy(*d.a11yConnection, "org.a11y.Bus", "/org/a11y/bus");
        d.a11y->uponSignal("PropertiesChanged")
            .onInterface("org.freedesktop.DBus.Properties")
            .call([&d](const std::string& iface, const std::map<std::string, sdbus::Variant>& changed,
                       const std::vector<std::string>&) {
                if (iface != "org.a11y.Status") return;
                auto it = changed.find("ScreenReaderEnabled");
                if (it == changed.end()) return;
                try {
                    d.screenReader = it->second.get<bool>();
                    setVoiceOverOn(d.screenReader);
                } catch (const std::exception&) {
                }
            });
        d.a11y->finishRegistration();
        d.a11yLoop = std::make_unique<plat::BusLoop>(*d.a11yConnection);
        sdbus::Variant value;
        d.a11y->callMethod("Get")
            .onInterface("org.freedesktop.DBus.Properties")
            .withTimeout(1s)
            .withArguments(std::string("org.a11y.Status"), std::string("ScreenReaderEnabled"))
            .storeResultsTo(value);
        d.screenReader = value.get<bool>();
        setVoiceOverOn(d.screenReader);
    } catch (const std::exception&) {
        // No accessibility bus: no screen reader.
    }
}

} // namespace

std::unique_ptr<DesktopState> DesktopState::start() {
    auto impl = std::make_shared<Impl>();
    impl->reader = std::thread([d = impl.get()] { readAll(*d); });
    return std::unique_ptr<DesktopState>(new DesktopState(std::move(impl)));
}

DesktopState::DesktopState(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

DesktopState::~DesktopState() {
    impl_->stopping = true;
    if (impl_->reader.joinable()) impl_->reader.join();
    impl_->portalLoop.reset();
    impl_->a11yLoop.reset();
    impl_->portal.reset();
    impl_->a11y.reset();
    impl_->portalConnection.reset();
    impl_->a11yConnection.reset();
}

std::optional<std::string> DesktopState::interfaceStyle() const {
    return interfaceStyleFromColorScheme(impl_->colorScheme.load());
}

bool DesktopState::screenReaderEnabled() const { return impl_->screenReader.load(); }

std::optional<std::string> DesktopState::interfaceStyleFromColorScheme(std::uint32_t scheme) {
    if (scheme == 1) return std::string("Dark");
    return std::nullopt;
}

} // namespace taviro
