#include "Platform/InputMethodKit/IBusHost.h"

#include "Platform/Foundation/Log.h"
#include "Platform/InputMethodKit/IBusKeyMap.h"
#include "Platform/InputMethodKit/InputMethodServer.h"
#include "Platform/InputMethodKit/PreeditClient.h"
#include "Platform/InputMethodKit/ProgramName.h"
#include "Platform/InputMethodKit/TextInputClient.h"
#include "Platform/InputMethodKit/Utf16.h"

#include <ibus.h>

#include <algorithm>
#include <list>
#include <map>

namespace plat {
namespace {

// One input context of the daemon, as the input controller sees it.
class IBusClient : public PreeditClient {
public:
    explicit IBusClient(std::string path) : path_(std::move(path)) {}

    // The program the input context belongs to (see IBusHost::Impl::applicationOf);
    // "" until known.
    std::optional<std::string> bundleIdentifier() const override { return clientId_; }
    // Every name of that application, clientId_ first.
    std::vector<std::string> applicationNames() const override { return applicationNames_; }
    std::vector<std::string> applicationNames_;

    const std::string& path() const { return path_; }
    IBusEngine* engine = nullptr;
    std::string clientId_;

protected:
    bool reachable() const override { return engine != nullptr; }
    void sendPreedit(const std::string& text, bool visible) override;
    void sendCommit(const std::string& text) override;

private:
    std::string path_;
};

} // namespace

struct IBusHost::Impl {
    InputMethodServer& server;
    Options options;
    IBusBus* bus = nullptr;
    IBusFactory* factory = nullptr;
    std::vector<IBusEngine*> engines;
    // Clients by input-context path, most recently focused first.
    std::list<std::unique_ptr<IBusClient>> clients;
    IBusClient* focused = nullptr;
    IBusEngine* focusedEngine = nullptr;
    unsigned engineCount = 0;
    X11FocusedProgram x11Focus;
    static constexpr std::size_t kMaxClients = 64;

    Impl(InputMethodServer& s, Options o) : server(s), options(std::move(o)) {}

    IBusClient& clientFor(const std::string& path) {
        auto it = std::find_if(clients.begin(), clients.end(), [&](const auto& c) { return c->path() == path; });
        if (it != clients.end()) {
            clients.splice(clients.begin(), clients, it);
            return *clients.front();
        }
        clients.push_front(std::make_unique<IBusClient>(path));
        // Contexts are never announced as gone: forget the least recently used.
        while (clients.size() > kMaxClients) {
            IBusClient* last = clients.back().get();
            if (last == focused) break;
            server.removeClient(*last);
            clients.pop_back();
        }
        return *clients.front();
    }

    double screenHeight() const {
        return options.primaryScreenHeight ? options.primaryScreenHeight() : 1080.0;
    }

    void focusIn(IBusEngine* engine, const std::string& path, const std::string& client) {
        if (client == "fake") {
            // The daemon's context for "nothing focused": show nothing there.
            focusOut(engine, focused ? focused->path() : std::string());
            return;
        }
        IBusClient& c = clientFor(path);
        if (focused == &c && focusedEngine == engine) return;
        if (focused && focused != &c) server.focusOut(*focused);
        c.engine = engine;
        if (auto names = applicationOf(client); !names.empty()) {
            c.clientId_ = names.front();
            c.applicationNames_ = std::move(names);
        }
        focused = &c;
        focusedEngine = engine;
        server.focusIn(c);
        // Clients send their surrounding text only when asked.
        IBusText* text = nullptr;
        guint cursor = 0, anchor = 0;
        ibus_engine_get_surrounding_text(engine, &text, &cursor, &anchor);
        sendProperties(engine);
    }

    // The names of the focused client's application, the form the silence
    // list uses (SharedLib/contract/ApplicationName.h). IBus names only the
    // toolkit of most clients ("QIBusInputContext", "xim"), so the window
    // with the X11 focus names those; a client that names itself (a GTK
    // program name, a bare IBus client) keeps its own name unless that
    // window is its own.
    std::vector<std::string> applicationOf(const std::string& client) {
        return clientApplicationNames(x11Focus.query(), client);
    }

    void focusOut(IBusEngine* engine, const std::string& path) {
        if (!focused || focusedEngine != engine) return;
        if (!path.empty() && focused->path() != path) return;
        IBusClient* c = focused;
        focused = nullptr;
        focusedEngine = nullptr;
        server.focusOut(*c);
        c->marked.clear();
        c->engine = nullptr;
    }

    void sendProperties(IBusEngine* engine) {
        if (!engine || !options.properties) return;
        IBusPropList* list = ibus_prop_list_new();
        for (const auto& p : options.properties()) {
            std::string label = p.label;
            if (!p.shortcut.empty()) label += "\t" + p.shortcut;
            IBusProperty* prop = ibus_property_new(
                p.key.c_str(), p.separator ? PROP_TYPE_SEPARATOR : PROP_TYPE_NORMAL,
                ibus_text_new_from_string(label.c_str()), nullptr, nullptr, TRUE, TRUE, PROP_STATE_UNCHECKED,
                nullptr);
            ibus_prop_list_append(list, prop);
        }
        ibus_engine_register_properties(engine, list);
    }

    bool processKey(IBusEngine* engine, guint keyval, guint keycode, guint state) {
        if (!focused || focusedEngine != engine) return false;
        std::string text;
        const gunichar ch = ibus_keyval_to_unicode(keyval);
        if (ch >= 0x20 && ch != 0x7F) {
            gchar buf[8] = {};
            const gint n = g_unichar_to_utf8(ch, buf);
            text.assign(buf, static_cast<std::size_t>(n));
        }
        const auto key = ibuskeys::transition(keycode, state, text);
        if (!key) return false;
        return server.handleKey(*focused, *key);
    }
};

namespace {

// --- the engine's GObject type --------------------------------------------

struct TaviroIBusEngine {
    IBusEngine parent;
    IBusHost::Impl* host;
};
struct TaviroIBusEngineClass {
    IBusEngineClass parent;
};

G_DEFINE_TYPE(TaviroIBusEngine, taviro_ibus_engine, IBUS_TYPE_ENGINE)

IBusHost::Impl* hostOf(IBusEngine* engine) { return reinterpret_cast<TaviroIBusEngine*>(engine)->host; }

gboolean engineProcessKey(IBusEngine* engine, guint keyval, guint keycode, guint state) {
    auto* host = hostOf(engine);
    return host && host->processKey(engine, keyval, keycode, state) ? TRUE : FALSE;
}

void engineFocusIn(IBusEngine* engine) {
    // Without an id (the first focus after the engine was created): the
    // daemon's focused context, so that a later focus by id finds its client.
    auto* host = hostOf(engine);
    if (!host) return;
    std::string path;
    if (gchar* current = ibus_bus_current_input_context(host->bus)) {
        path = current;
        g_free(current);
    }
    host->focusIn(engine, path, "");
}

void engineFocusOut(IBusEngine* engine) {
    if (auto* host = hostOf(engine)) host->focusOut(engine, "");
}

void engineFocusInId(IBusEngine* engine, const gchar* path, const gchar* client) {
    if (auto* host = hostOf(engine)) host->focusIn(engine, path ? path : "", client ? client : "");
}

void engineFocusOutId(IBusEngine* engine, const gchar* path) {
    if (auto* host = hostOf(engine)) host->focusOut(engine, path ? path : "");
}

void engineReset(IBusEngine* engine) {
    // The client dropped its preedit (a click elsewhere): finish the composition.
    auto* host = hostOf(engine);
    if (!host || !host->focused || host->focusedEngine != engine) return;
    if (auto* controller = host->server.activeController()) controller->commitComposition(host->focused);
}

void engineDisable(IBusEngine* engine) { engineFocusOut(engine); }

void engineSetCursorLocation(IBusEngine* engine, gint x, gint y, gint w, gint h) {
    auto* host = hostOf(engine);
    if (!host || !host->focused || host->focusedEngine != engine) return;
    const TextRect caret = IBusHost::toScreenPoints(x, y, w, h, host->screenHeight());
    if (host->focused->caret == caret) return;
    host->focused->caret = caret;
    if (host->options.caretMoved) host->options.caretMoved(*host->focused);
}

void engineSetSurroundingText(IBusEngine* engine, IBusText* text, guint cursor, guint anchor) {
    auto* host = hostOf(engine);
    if (!host || !host->focused || host->focusedEngine != engine || !text) return;
    IBusClient& c = *host->focused;
    const char* s = ibus_text_get_text(text);
    const std::string all = s ? s : "";
    const glong chars = g_utf8_strlen(all.c_str(), static_cast<gssize>(all.size()));
    const glong at = std::min<glong>(cursor, chars);
    const char* split = g_utf8_offset_to_pointer(all.c_str(), at);
    c.before.assign(all.c_str(), split);
    c.after.assign(split);
    const glong anchorAt = std::min<glong>(anchor, chars);
    const char* anchorPtr = g_utf8_offset_to_pointer(all.c_str(), anchorAt);
    if (anchorAt >= at) c.anchorOffset16 = static_cast<std::int64_t>(utf16Length(std::string(split, anchorPtr)));
    else c.anchorOffset16 = -static_cast<std::int64_t>(utf16Length(std::string(anchorPtr, split)));
    c.hasSurrounding = true;
    // Chain up so that ibus_engine_get_surrounding_text answers with it too.
    IBUS_ENGINE_CLASS(taviro_ibus_engine_parent_class)->set_surrounding_text(engine, text, cursor, anchor);
}

// The panel's lookup table: clicks and page buttons.
IBusHost::Impl* panelHost(IBusEngine* engine) {
    auto* host = hostOf(engine);
    return host && host->focused && host->focusedEngine == engine ? host : nullptr;
}

void engineCandidateClicked(IBusEngine* engine, guint index, guint, guint) {
    auto* host = panelHost(engine);
    if (host && host->options.candidateClicked) host->options.candidateClicked(static_cast<int>(index));
}

void enginePageUp(IBusEngine* engine) {
    auto* host = panelHost(engine);
    if (host && host->options.pageUp) host->options.pageUp();
}

void enginePageDown(IBusEngine* engine) {
    auto* host = panelHost(engine);
    if (host && host->options.pageDown) host->options.pageDown();
}

void enginePropertyActivate(IBusEngine* engine, const gchar* name, guint) {
    auto* host = hostOf(engine);
    if (host && name && host->options.propertyActivated) host->options.propertyActivated(name);
}

void engineDestroy(IBusObject* object) {
    auto* engine = reinterpret_cast<IBusEngine*>(object);
    if (auto* host = hostOf(engine)) {
        if (host->focusedEngine == engine) host->focusOut(engine, "");
        for (auto& c : host->clients)
            if (c->engine == engine) c->engine = nullptr;
        std::erase(host->engines, engine);
        reinterpret_cast<TaviroIBusEngine*>(engine)->host = nullptr;
    }
    IBUS_OBJECT_CLASS(taviro_ibus_engine_parent_class)->destroy(object);
}

void taviro_ibus_engine_class_init(TaviroIBusEngineClass* klass) {
    auto* engineClass = IBUS_ENGINE_CLASS(klass);
    engineClass->process_key_event = engineProcessKey;
    engineClass->focus_in = engineFocusIn;
    engineClass->focus_out = engineFocusOut;
    engineClass->focus_in_id = engineFocusInId;
    engineClass->focus_out_id = engineFocusOutId;
    engineClass->reset = engineReset;
    engineClass->disable = engineDisable;
    engineClass->set_cursor_location = engineSetCursorLocation;
    engineClass->set_surrounding_text = engineSetSurroundingText;
    engineClass->property_activate = enginePropertyActivate;
    engineClass->candidate_clicked = engineCandidateClicked;
    engineClass->page_up = enginePageUp;
    engineClass->page_down = enginePageDown;
    IBUS_OBJECT_CLASS(klass)->destroy = engineDestroy;
}

void taviro_ibus_engine_init(TaviroIBusEngine* engine) { engine->host = nullptr; }

IBusEngine* createEngine(IBusFactory*, const gchar* name, gpointer data) {
    auto* host = static_cast<IBusHost::Impl*>(data);
    if (!name || host->options.engineName != name) return nullptr;
    const std::string path = "/org/freedesktop/IBus/Engine/TaviroMac2/" + std::to_string(++host->engineCount);
    auto* engine = static_cast<IBusEngine*>(g_object_new(taviro_ibus_engine_get_type(), "engine-name", name,
                                                         "object-path", path.c_str(), "connection",
                                                         ibus_bus_get_connection(host->bus), "has-focus-id",
                                                         TRUE, nullptr));
    reinterpret_cast<TaviroIBusEngine*>(engine)->host = host;
    host->engines.push_back(engine);
    return engine;
}

void busDisconnected(IBusBus*, gpointer data) {
    auto* host = static_cast<IBusHost::Impl*>(data);
    plat::log("ibus: the bus went away");
    if (host->options.disconnected) host->options.disconnected();
}

// --- the client ------------------------------------------------------------

} // namespace

void IBusClient::sendPreedit(const std::string& text, bool visible) {
    IBusText* t = ibus_text_new_from_string(text.c_str());
    const guint length = static_cast<guint>(g_utf8_strlen(text.c_str(), static_cast<gssize>(text.size())));
    if (length > 0) ibus_text_append_attribute(t, IBUS_ATTR_TYPE_UNDERLINE, IBUS_ATTR_UNDERLINE_SINGLE, 0, length);
    ibus_engine_update_preedit_text_with_mode(engine, t, length, visible ? TRUE : FALSE, IBUS_ENGINE_PREEDIT_CLEAR);
}

void IBusClient::sendCommit(const std::string& text) {
    ibus_engine_commit_text(engine, ibus_text_new_from_string(text.c_str()));
}

// --- the host ------------------------------------------------------------------

IBusHost::IBusHost(InputMethodServer& server, Options options)
    : impl_(std::make_unique<Impl>(server, std::move(options))) {}

IBusHost::~IBusHost() {
    if (impl_->focused) impl_->server.focusOut(*impl_->focused);
    for (auto& c : impl_->clients) impl_->server.removeClient(*c);
    for (IBusEngine* e : impl_->engines) reinterpret_cast<TaviroIBusEngine*>(e)->host = nullptr;
    if (impl_->bus) {
        g_signal_handlers_disconnect_by_data(impl_->bus, impl_.get());
        if (impl_->factory) g_signal_handlers_disconnect_by_data(impl_->factory, impl_.get());
        g_object_unref(impl_->bus);
    }
}

bool IBusHost::start() {
    ibus_init();
    Impl& d = *impl_;
    d.bus = ibus_bus_new();
    if (!ibus_bus_is_connected(d.bus)) {
        plat::log("ibus: no IBus daemon to connect to");
        return false;
    }
    g_signal_connect(d.bus, "disconnected", G_CALLBACK(busDisconnected), &d);
    d.factory = ibus_factory_new(ibus_bus_get_connection(d.bus));
    g_object_ref_sink(d.factory);
    g_signal_connect(d.factory, "create-engine", G_CALLBACK(createEngine), &d);
    ibus_factory_add_engine(d.factory, d.options.engineName.c_str(), taviro_ibus_engine_get_type());
    if (d.options.standalone) {
        IBusComponent* component = ibus_component_new(
            d.options.componentName.c_str(), d.options.description.c_str(), d.options.version.c_str(), "GPL",
            "TaviroMac2", "", d.options.execPath.c_str(), "");
        ibus_component_add_engine(
            component, ibus_engine_desc_new_varargs(
                           "name", d.options.engineName.c_str(), "longname", d.options.longName.c_str(),
                           "description", d.options.description.c_str(), "language", d.options.language.c_str(),
                           "license", "GPL", "author", "TaviroMac2", "icon", d.options.iconPath.c_str(),
                           "layout", "us", "rank", 99, nullptr));
        const gboolean ok = ibus_bus_register_component(d.bus, component);
        if (!ok) {
            plat::log("ibus: the daemon refused the component");
            return false;
        }
    } else if (ibus_bus_request_name(d.bus, d.options.componentName.c_str(), 0) == 0) {
        plat::log("ibus: cannot own " + d.options.componentName);
        return false;
    }
    return true;
}

bool IBusHost::isConnected() const { return impl_->bus && ibus_bus_is_connected(impl_->bus); }

bool IBusHost::forwardKeyPress(std::uint16_t virtualCode) {
    Impl& d = *impl_;
    if (!d.focused || !d.focusedEngine) return false;
    const auto key = ibuskeys::forwardKey(virtualCode);
    if (!key) return false;
    ibus_engine_forward_key_event(d.focusedEngine, key->keyval, key->evdevCode, 0);
    ibus_engine_forward_key_event(d.focusedEngine, key->keyval, key->evdevCode, IBUS_RELEASE_MASK);
    return true;
}

void IBusHost::refreshProperties() { impl_->sendProperties(impl_->focusedEngine); }

void IBusHost::showLookupTable(const HostLookupTable& table) {
    Impl& d = *impl_;
    if (!d.focused || !d.focusedEngine) return;
    if (table.candidates.empty()) {
        hideLookupTable();
        return;
    }
    // The whole table is the one page our window shows: the panel's paging
    // comes back to us as page-up and page-down.
    const auto count = static_cast<guint>(std::min<std::size_t>(table.candidates.size(), 16));
    const guint cursor = std::min(static_cast<guint>(std::max(table.cursor, 0)), count - 1);
    IBusLookupTable* t = ibus_lookup_table_new(count, cursor, TRUE, FALSE);
    for (guint i = 0; i < count; ++i) {
        ibus_lookup_table_append_candidate(t, ibus_text_new_from_string(table.candidates[i].c_str()));
        if (i < table.labels.size())
            ibus_lookup_table_append_label(t, ibus_text_new_from_string(table.labels[i].c_str()));
    }
    ibus_lookup_table_set_orientation(t, table.vertical ? IBUS_ORIENTATION_VERTICAL : IBUS_ORIENTATION_HORIZONTAL);
    ibus_engine_update_lookup_table(d.focusedEngine, t, TRUE);
}

void IBusHost::hideLookupTable() {
    Impl& d = *impl_;
    if (d.focusedEngine) ibus_engine_hide_lookup_table(d.focusedEngine);
}

TextInputClient* IBusHost::focusedClient() const { return impl_->focused; }

std::optional<TextRect> IBusHost::caretRect() const {
    if (!impl_->focused) return std::nullopt;
    return impl_->focused->caret;
}

TextRect IBusHost::toScreenPoints(int x, int y, int w, int h, double screenHeight) {
    return TextRect{static_cast<double>(x), screenHeight - static_cast<double>(y) - static_cast<double>(h),
                    static_cast<double>(w), static_cast<double>(h)};
}

} // namespace plat
