#pragma once
// How pages get into the settings window.
//
// A page is a QWidget built by a factory when the window is built (tab pages and the
// pages of the input-mode tab) or each time it is opened (sub-pages and editors). Register
// factories before the window is created: add one line per page to registerPages() in
// RegisteredPages.cpp, which the program and the tests call once.
//
//   registerTabPage("qvcloud", [](const PageContext& c) { return new QvCloudView(c); });
//   registerInputModePage(1, [](const PageContext& c) { return new ShuangPinView(c); });
//   registerSubPage("puncMap", "标点映射", [](const PageContext& c) { return new PuncMapView(c); });
//
// Tab pages fill one of the five tabs ("general", "codetable", "advance", "qvcloud",
// "backups"); the window sizes each tab itself. Input-mode pages are the inner pages of the
// "codetable" tab: 0 full pinyin, 1 double pinyin, 2 code tables alone, 3 combined.
// Sub-pages open as a sheet over the system tab, from its buttons (openSubPage) and from
// "taviromac2://functions/<route>" URLs; the sheet has a "完成" button that closes it,
// and a page may close it itself with closeSheet(this). The system tab's buttons open the
// routes "silence", "extended", "keyLogger", "customCodetable", "bootButton" and
// "puncMap"; a button stays disabled until its route is registered. Any other route
// registered here opens from "taviromac2://functions/<route>" as well.
//
// Long jobs show presentProgressSheet(context.window): the presenter it returns is a
// ProgressSink for the importers and closes the sheet on dismiss(), or keeps it open with
// an error and an enabled done button on fail(text).

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kelvane {
class ConfigManager;
class SettingsController;
class PbarController;
} // namespace kelvane

namespace kelvane::ui {

// What every page gets.
struct PageContext {
    QWidget* window = nullptr;            // the settings window: parent of sheets and dialogs
    ConfigManager* config = nullptr;      // the settings store
    SettingsController* controller = nullptr; // tab selection, sizes, sub-page routing
};

using PageFactory = std::function<QWidget*(const PageContext&)>;

void registerTabPage(const std::string& identifier, PageFactory factory);
void registerInputModePage(int index, PageFactory factory);
void registerSubPage(const std::string& route, const QString& title, PageFactory factory);

// Lookups used by the window; an empty factory when nothing is registered.
PageFactory tabPageFactory(std::string_view identifier);
PageFactory inputModePageFactory(int index);
PageFactory subPageFactory(std::string_view route);
QString subPageTitle(std::string_view route);

// Registers every page of the program, once (later calls do nothing).
void registerPages();

// Opens a registered sub-page as a sheet over `window`; false when none is registered.
bool openSubPageSheet(const PageContext& context, std::string_view route);
// Closes the sheet that holds `page`, when it is in one.
void closeSheet(QWidget* page);

// Presents a progress sheet over `window` for one job and returns its presenter; the
// sheet closes itself when the presenter is dismissed.
std::shared_ptr<PbarController> presentProgressSheet(QWidget* window);

} // namespace kelvane::ui
