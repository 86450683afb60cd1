#include "Settings/App/AppDelegate.h"

#include "Settings/App/SettingsController.h"
#include "Settings/App/URLScheme.h"

namespace kelvane {

void AppDelegate::handleGetURL(const std::optional<std::string>& text) {
    if (text) routeURL(*text);
}

void AppDelegate::routeURL(const std::string& url) {
    SettingsController* window = URLSchemeProcessor::keyWindow();
    if (!window || !window->hasWindow()) {
        pending_.push_back(url);
        return;
    }
    carryOut(url);
}

void AppDelegate::windowDidLoad() {
    auto pending = std::move(pending_);
    pending_.clear();
    for (const auto& url : pending) routeURL(url);
}

void AppDelegate::carryOut(const std::string& url) {
    const auto parsed = parseURL(url);
    if (!parsed) return;
    const auto host = urlSchemeTypeFromRaw(parsed->host);
    if (!host) return;
    const auto command = urlSchemeFunctionsFromRaw(parsed->path);
    if (*host == URLSchemeType::tab) {
        if (command) URLSchemeProcessor::selectTab(*command);
        return;
    }
    if (command) {
        URLSchemeProcessor::openSubPage(*command);
        return;
    }
    // Pages registered beyond the five sub-page commands open the same way.
    SettingsController* window = URLSchemeProcessor::keyWindow();
    if (!parsed->path.empty() && window->takesCommands()) window->openSubPageIfRegistered(parsed->path);
}

} // namespace kelvane
