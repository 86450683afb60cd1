#pragma once
#include <functional>
#include <optional>

namespace taviro {

class NoticeCenter;

// What the input method asks of an updater.
class Updater {
public:
    virtual ~Updater() = default;
    // A silent check; a found update is reported to the found handler.
    virtual void checkForUpdateInformation() = 0;
    // The user asked (menu item "检查更新").
    virtual void checkForUpdates() = 0;
    virtual void checkForUpdatesInBackground() = 0;
    // Seconds between background checks.
    virtual double updateCheckInterval() const = 0;
    virtual void setUpdateCheckInterval(double seconds) = 0;
    void setFoundHandler(std::function<void()> handler) { found_ = std::move(handler); }

protected:
    std::function<void()> found_;
};

// On Linux the package manager brings updates: nothing is checked; asking
// tells the user so. The interval is kept in the user defaults.
class PackageManagerUpdater : public Updater {
public:
    static constexpr const char* kIntervalKey = "SUScheduledCheckInterval";
    static constexpr double kDefaultInterval = 86400;

    explicit PackageManagerUpdater(NoticeCenter& notices);
    void checkForUpdateInformation() override {}
    void checkForUpdates() override;
    void checkForUpdatesInBackground() override {}
    double updateCheckInterval() const override;
    void setUpdateCheckInterval(double seconds) override;

private:
    NoticeCenter& notices_;
};

} // namespace taviro
