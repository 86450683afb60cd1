// A bare IBus client for the end-to-end tests that need no display: one
// input context, focused, with preedit and lookup-table capabilities.
//
//   taviro-e2e-raw ENGINE
//
// Selects ENGINE on its context and prints "READY" (or "FAILED <why>").
// Then reads commands on standard input, one a line:
//   KEY <keysym name> <evdev code>   press and release; prints "HANDLED 0|1"
// and prints what the engine sends: "COMMIT <text>", "PREEDIT <text>" (the
// preedit as a client that keeps what it was sent draws it: empty when
// hidden), "TABLE <cursor> <candidate>..." and "HIDE-TABLE", each before the
// "HANDLED" of the key that caused it. Ends at end of input.
#include <ibus.h>

#include <cstdio>
#include <string>

namespace {

IBusInputContext* context = nullptr;
GMainLoop* loop = nullptr;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void onCommit(IBusInputContext*, IBusText* text, gpointer) { say(std::string("COMMIT ") + ibus_text_get_text(text)); }

std::string preedit;
bool preeditVisible = false;

void sayPreedit() { say("PREEDIT " + (preeditVisible ? preedit : std::string())); }

void onPreedit(IBusInputContext*, IBusText* text, guint, gboolean visible, gpointer) {
    preedit = ibus_text_get_text(text);
    preeditVisible = visible;
    sayPreedit();
}

void onShowPreedit(IBusInputContext*, gpointer) {
    preeditVisible = true;
    sayPreedit();
}

void onHidePreedit(IBusInputContext*, gpointer) {
    preeditVisible = false;
    sayPreedit();
}

void onTable(IBusInputContext*, IBusLookupTable* table, gboolean visible, gpointer) {
    if (!visible) {
        say("HIDE-TABLE");
        return;
    }
    std::string line = "TABLE " + std::to_string(ibus_lookup_table_get_cursor_pos(table));
    const guint n = ibus_lookup_table_get_number_of_candidates(table);
    for (guint i = 0; i < n; ++i) {
        IBusText* label = ibus_lookup_table_get_label(table, i);
        line += std::string(" ") + (label ? ibus_text_get_text(label) : "") + ":" +
                ibus_text_get_text(ibus_lookup_table_get_candidate(table, i));
    }
    say(line);
}

void onHideTable(IBusInputContext*, gpointer) { say("HIDE-TABLE"); }

gboolean onInput(GIOChannel* channel, GIOCondition, gpointer) {
    gchar* raw = nullptr;
    gsize length = 0;
    if (g_io_channel_read_line(channel, &raw, &length, nullptr, nullptr) != G_IO_STATUS_NORMAL) {
        g_main_loop_quit(loop);
        return FALSE;
    }
    const std::string line(raw, length);
    g_free(raw);
    char name[64] = {};
    unsigned code = 0;
    if (std::sscanf(line.c_str(), "KEY %63s %u", name, &code) == 2) {
        const guint keyval = ibus_keyval_from_name(name);
        const gboolean handled = ibus_input_context_process_key_event(context, keyval, code, 0);
        ibus_input_context_process_key_event(context, keyval, code, IBUS_RELEASE_MASK);
        // What the engine sent before its answers arrived with them.
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        say(std::string("HANDLED ") + (handled ? "1" : "0"));
    }
    return TRUE;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: taviro-e2e-raw ENGINE\n");
        return 2;
    }
    ibus_init();
    IBusBus* bus = ibus_bus_new();
    if (!ibus_bus_is_connected(bus)) {
        say("FAILED no IBus daemon");
        return 1;
    }
    context = ibus_bus_create_input_context(bus, "taviro-e2e-raw");
    if (!context) {
        say("FAILED no input context");
        return 1;
    }
    ibus_input_context_set_capabilities(context, IBUS_CAP_PREEDIT_TEXT | IBUS_CAP_LOOKUP_TABLE | IBUS_CAP_FOCUS);
    g_signal_connect(context, "commit-text", G_CALLBACK(onCommit), nullptr);
    g_signal_connect(context, "update-preedit-text", G_CALLBACK(onPreedit), nullptr);
    g_signal_connect(context, "show-preedit-text", G_CALLBACK(onShowPreedit), nullptr);
    g_signal_connect(context, "hide-preedit-text", G_CALLBACK(onHidePreedit), nullptr);
    g_signal_connect(context, "update-lookup-table", G_CALLBACK(onTable), nullptr);
    g_signal_connect(context, "hide-lookup-table", G_CALLBACK(onHideTable), nullptr);
    ibus_input_context_focus_in(context);
    GError* error = nullptr;
    GVariant* result = g_dbus_proxy_call_sync(G_DBUS_PROXY(context), "SetEngine", g_variant_new("(s)", argv[1]),
                                              G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    if (!result) {
        say(std::string("FAILED ") + (error ? error->message : "SetEngine"));
        return 1;
    }
    g_variant_unref(result);
    say("READY");

    loop = g_main_loop_new(nullptr, FALSE);
    GIOChannel* input = g_io_channel_unix_new(0);
    g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP), onInput, nullptr);
    g_main_loop_run(loop);
    g_io_channel_unref(input);
    g_object_unref(context);
    g_object_unref(bus);
    return 0;
}
