// A plain GTK 3 text field for the end-to-end tests: it types through GTK's
// IBus input module (GTK_IM_MODULE=ibus) and prints, on standard output,
// "TEXT <text>" when its text changes, "PREEDIT <text>" when the preedit it
// draws changes (empty: none) and "CARET <position>" when the caret moves
// (in characters), "FOCUS in|out" when the field gains or loses the keyboard
// focus. "READY" once the window is on screen.
#include <gtk/gtk.h>

#include <cstdio>

namespace {

void say(const char* what, const char* text) {
    std::printf("%s %s\n", what, text);
    std::fflush(stdout);
}

void onChanged(GtkEditable* field, gpointer) {
    gchar* text = gtk_editable_get_chars(field, 0, -1);
    say("TEXT", text);
    g_free(text);
}

void onPreedit(GtkEntry*, const gchar* preedit, gpointer) { say("PREEDIT", preedit ? preedit : ""); }

void onCaret(GObject* field, GParamSpec*, gpointer) {
    gint position = 0;
    g_object_get(field, "cursor-position", &position, nullptr);
    char number[16];
    std::snprintf(number, sizeof number, "%d", position);
    say("CARET", number);
}

gboolean onFocusIn(GtkWidget*, GdkEvent*, gpointer) {
    say("FOCUS", "in");
    return FALSE;
}

gboolean onFocusOut(GtkWidget*, GdkEvent*, gpointer) {
    say("FOCUS", "out");
    return FALSE;
}

gboolean onMapped(GtkWidget*, GdkEvent*, gpointer) {
    std::printf("READY\n");
    std::fflush(stdout);
    return FALSE;
}

} // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), argc > 1 ? argv[1] : "taviro-e2e-gtk-field");
    gtk_window_set_default_size(GTK_WINDOW(window), 400, 40);
    gtk_window_move(GTK_WINDOW(window), 100, 300);
    GtkWidget* field = gtk_entry_new();
    // The IBus module whatever the locale's default would be.
    g_object_set(field, "im-module", "ibus", nullptr);
    gtk_container_add(GTK_CONTAINER(window), field);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    g_signal_connect(field, "changed", G_CALLBACK(onChanged), nullptr);
    g_signal_connect(field, "preedit-changed", G_CALLBACK(onPreedit), nullptr);
    g_signal_connect(field, "notify::cursor-position", G_CALLBACK(onCaret), nullptr);
    g_signal_connect(field, "focus-in-event", G_CALLBACK(onFocusIn), nullptr);
    g_signal_connect(field, "focus-out-event", G_CALLBACK(onFocusOut), nullptr);
    g_signal_connect(window, "map-event", G_CALLBACK(onMapped), nullptr);
    gtk_widget_show_all(window);
    gtk_window_present(GTK_WINDOW(window));
    gtk_widget_grab_focus(field);
    gtk_main();
    return 0;
}
