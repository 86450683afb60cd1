#include "Platform/InputMethodKit/ProgramName.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace plat {

struct X11FocusedProgram::Impl {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t netWmPid = 0, netActiveWindow = 0;
    std::string hostName;

    ~Impl() { disconnect(); }

    void disconnect() {
        if (connection) xcb_disconnect(connection);
        connection = nullptr;
    }

    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : 0;
        std::free(reply);
        return a;
    }

    bool connect() {
        if (connection && !xcb_connection_has_error(connection)) return true;
        disconnect();
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) return false;
        int screenNumber = 0;
        connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection)) {
            disconnect();
            return false;
        }
        auto it = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
        if (!it.rem) {
            disconnect();
            return false;
        }
        root = it.data->root;
        netWmPid = atom("_NET_WM_PID");
        netActiveWindow = atom("_NET_ACTIVE_WINDOW");
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) == 0) hostName = host;
        return true;
    }

    // A property's bytes (at most 4 KiB), empty when absent.
    std::string property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
        if (!name) return {};
        auto* reply = xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, name, type, 0, 1024), nullptr);
        std::string out;
        if (reply && reply->type != XCB_NONE) {
            const int length = xcb_get_property_value_length(reply);
            if (length > 0) out.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                                       static_cast<std::size_t>(length));
        }
        std::free(reply);
        return out;
    }

    // What a window that describes itself, or the nearest of its ancestors
    // that does, says of its application.
    std::optional<WindowIdentity> programOf(xcb_window_t window) {
        for (int depth = 0; depth < 16 && window && window != root; ++depth) {
            WindowIdentity identity;
            const std::string pid = property(window, netWmPid, XCB_ATOM_CARDINAL);
            const std::string machine = property(window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING);
            const bool local = machine.empty() || std::string(machine.c_str()) == hostName;
            if (pid.size() == 4 && local) {
                std::uint32_t value = 0;
                std::memcpy(&value, pid.data(), 4);
                identity.program = programNameOfProcess(static_cast<long>(value));
            }
            // WM_CLASS: the instance name, a NUL, the class name.
            const std::string wmClass = property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
            const auto nul = wmClass.find('\0');
            identity.wmInstance = wmClass.substr(0, nul);
            if (nul != std::string::npos) identity.wmClass = std::string(wmClass.c_str() + nul + 1);
            if (!identity.program.empty() || !identity.wmInstance.empty() || !identity.wmClass.empty())
                return identity;
            auto* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
            if (!tree) return std::nullopt;
            window = tree->parent;
            std::free(tree);
        }
        return std::nullopt;
    }

    std::optional<WindowIdentity> query() {
        if (!connect()) return std::nullopt;
        auto* focus = xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
        const xcb_window_t focused = focus ? focus->focus : 0;
        std::free(focus);
        // 0 is none, 1 follows the pointer: neither is a window.
        if (focused > 1)
            if (auto name = programOf(focused)) return name;
        const std::string active = property(root, netActiveWindow, XCB_ATOM_WINDOW);
        if (active.size() == 4) {
            xcb_window_t window = 0;
            std::memcpy(&window, active.data(), 4);
            if (window > 1) return programOf(window);
        }
        if (xcb_connection_has_error(connection)) disconnect();
        return std::nullopt;
    }
};

X11FocusedProgram::X11FocusedProgram() : impl_(std::make_unique<Impl>()) {}
X11FocusedProgram::~X11FocusedProgram() = default;

std::optional<WindowIdentity> X11FocusedProgram::query() { return impl_->query(); }

} // namespace plat
