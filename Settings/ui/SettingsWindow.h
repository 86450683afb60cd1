#pragma once
#include "Settings/App/SettingsController.h"
#include "Settings/ui/PageRegistry.h"

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QStackedWidget;
class QTabBar;
class QMessageBox;

namespace kelvane::ui {

// The settings window: a tab bar over the five tab pages, sized by its presenter
// (SettingsController). The pages come from the page registry (PageRegistry.h).
class SettingsWindow : public QWidget, public SettingsWindowView {
public:
    SettingsWindow(SettingsController& controller, ConfigManager& config);
    ~SettingsWindow() override;

    // SettingsWindowView
    void showTab(int index) override;
    void setContentSize(Size size) override;
    bool hasSubPage(std::string_view route) const override;
    void openSubPage(std::string_view route) override;
    bool sheetOpen() const override;
    void showNotice(std::string_view message) override;

    QWidget* page(int index) const;
    QTabBar* tabBar() const { return tabBar_; }
    const PageContext& context() const { return context_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    SettingsController& controller_;
    PageContext context_;
    QTabBar* tabBar_ = nullptr;
    QStackedWidget* stack_ = nullptr;
};

// The alert that stands alone after the window closed, when settings changes
// could not be written before exit. With `text`, the alert asks it again while
// it stands and shows what it says now.
QMessageBox* makeExitAlert(const std::string& message);
QMessageBox* makeExitAlert(std::function<std::string()> text);

} // namespace kelvane::ui
