#pragma once
// A settings window over a fresh settings folder, the recording command channel
// and the lookups the view tests share.
#include "QtTestSupport.h"
#include "RecordingChannelFixture.h"
#include "Settings/App/AppDelegate.h"
#include "Settings/App/SettingsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/SettingsWindow.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTableWidget>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace kelvane::test {

class SettingsWindowFixture : public RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        qtApp();
        ui::registerPages();
        folder_ = taviro::test::freshDir("peruser");
        config_ = std::make_unique<ConfigManager>(folder_);
        prepareSettings(*config_);
        controller_ = std::make_unique<SettingsController>(*config_);
        window_ = std::make_unique<ui::SettingsWindow>(*controller_, *config_);
        URLSchemeProcessor::setKeyWindow(controller_.get());
        window_->show();
        QApplication::processEvents();
        channel_->clear();
    }
    void TearDown() override {
        URLSchemeProcessor::setKeyWindow(nullptr);
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top != window_.get() && top->isVisible()) top->close();
        window_.reset();
        QApplication::processEvents();
        RecordingChannelFixture::TearDown();
    }
    // Runs before the window is built: a test may fill and save the settings here.
    virtual void prepareSettings(ConfigManager&) {}

    // Opens a sub-page from its URL and returns its newest sheet.
    QDialog* openURL(const std::string& route) {
        AppDelegate().routeURL("taviromac2://functions/" + route);
        QApplication::processEvents();
        const auto sheets = window_->findChildren<QDialog*>(QString::fromStdString(route + "Sheet"));
        return sheets.isEmpty() ? nullptr : sheets.back();
    }
    template <class T> static T* in(QWidget* sheet, const char* name) {
        return sheet ? sheet->findChild<T*>(name) : nullptr;
    }
    // A widget of that name in any top-level window (sub-pages open as sheets).
    template <class T> static T* findAnywhere(const char* name) {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == name && qobject_cast<T*>(top)) return qobject_cast<T*>(top);
            if (T* found = top->findChild<T*>(name)) return found;
        }
        return nullptr;
    }
    // The alert currently shown over the window, if any.
    QMessageBox* alert() const {
        for (auto* box : window_->findChildren<QMessageBox*>())
            if (box->isVisible()) return box;
        return nullptr;
    }
    static int rowOf(QTableWidget* table, const QString& key) {
        for (int r = 0; r < table->rowCount(); ++r)
            if (table->item(r, 0) && table->item(r, 0)->text() == key) return r;
        return -1;
    }
    // Runs Qt's loop (and the main queue inside it) until `done` holds, at most 30 s.
    static bool spinUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    std::filesystem::path folder_;
    std::unique_ptr<ConfigManager> config_;
    std::unique_ptr<SettingsController> controller_;
    std::unique_ptr<ui::SettingsWindow> window_;
};

} // namespace kelvane::test
