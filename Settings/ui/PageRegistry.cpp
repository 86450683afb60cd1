#include "Settings/ui/PageRegistry.h"

#include <map>

namespace kelvane::ui {
namespace {

struct SubPage {
    QString title;
    PageFactory factory;
};

struct Registry {
    std::map<std::string, PageFactory, std::less<>> tabs;
    std::map<int, PageFactory> inputModes;
    std::map<std::string, SubPage, std::less<>> subPages;
};

Registry& registry() {
    static Registry r;
    return r;
}

} // namespace

void registerTabPage(const std::string& identifier, PageFactory factory) {
    registry().tabs[identifier] = std::move(factory);
}

void registerInputModePage(int index, PageFactory factory) { registry().inputModes[index] = std::move(factory); }

void registerSubPage(const std::string& route, const QString& title, PageFactory factory) {
    registry().subPages[route] = SubPage{title, std::move(factory)};
}

PageFactory tabPageFactory(std::string_view identifier) {
    auto it = registry().tabs.find(identifier);
    return it == registry().tabs.end() ? PageFactory{} : it->second;
}

PageFactory inputModePageFactory(int index) {
    auto it = registry().inputModes.find(index);
    return it == registry().inputModes.end() ? PageFactory{} : it->second;
}

PageFactory subPageFactory(std::string_view route) {
    auto it = registry().subPages.find(route);
    return it == registry().subPages.end() ? PageFactory{} : it->second.factory;
}

QString subPageTitle(std::string_view route) {
    auto it = registry().subPages.find(route);
    return it == registry().subPages.end() ? QString() : it->second.title;
}

} // namespace kelvane::ui
