#include "InputMethod/App/Desktop/DesktopServices.h"

#include "Platform/Foundation/Log.h"
#include "Platform/InputMethodKit/IBusHost.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gio/gio.h>

namespace taviro {

void DesktopServices::postKeyPress(std::uint16_t keyCode) {
    if (!host_.forwardKeyPress(keyCode)) plat::log("desktop: key " + std::to_string(keyCode) + " not forwarded");
}

std::optional<std::string> DesktopServices::pasteboardString() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return std::nullopt;
    const QString text = clipboard->text();
    if (text.isEmpty()) return std::nullopt;
    return text.toStdString();
}

bool DesktopServices::openURL(const std::string& url) { return openWithDesktop(url); }

bool openWithDesktop(const std::string& url) {
    GError* error = nullptr;
    const gboolean ok = g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error);
    if (error) g_error_free(error);
    return ok != FALSE;
}

bool hasSchemeHandler(const std::string& scheme) {
    GAppInfo* info = g_app_info_get_default_for_uri_scheme(scheme.c_str());
    if (!info) return false;
    g_object_unref(info);
    return true;
}

bool launchProgram(const std::string& path) {
    gchar* argv[] = {const_cast<gchar*>(path.c_str()), nullptr};
    GError* error = nullptr;
    const gboolean ok = g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, &error);
    if (error) g_error_free(error);
    return ok != FALSE;
}

} // namespace taviro
