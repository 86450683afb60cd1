#include "InputMethod/App/AboutController.h"

#include "InputMethod/App/Updater.h"
#include "Platform/Dispatch/MainQueue.h"

namespace taviro {

const std::vector<std::string>& AboutController::popupItems() {
    static const std::vector<std::string> items = {"每天", "每周", "每月", "从不"};
    return items;
}

AboutController::AboutController(Updater* updater, std::string shortVersion, std::string buildVersion,
                                 plat::MainQueue* queue)
    : updater_(updater), shortVersion_(std::move(shortVersion)), build_(std::move(buildVersion)), queue_(queue) {}

void AboutController::viewDidLoad() {
    versionLabel_ = "Version " + shortVersion_ + " (build " + build_ + ")";
    if (updater_) {
        Updater* updater = updater_;
        (queue_ ? *queue_ : plat::MainQueue::shared()).async([updater] { updater->checkForUpdatesInBackground(); });
        const double days = updater_->updateCheckInterval() / 86400.0;
        if (days == 0) selectedIndex_ = 3;
        else if (days == 1) selectedIndex_ = 0;
        else if (days == 7) selectedIndex_ = 1;
        else if (days == 30) selectedIndex_ = 2;
    }
}

void AboutController::updateFreq(int index) {
    if (!updater_ || index < 0 || index > 3) return;
    selectedIndex_ = index;
    updater_->setUpdateCheckInterval(kIntervals[static_cast<std::size_t>(index)]);
}

AboutController::Alert AboutController::goToWeb() const {
    return Alert{"加入塔维输入法用户群",
                 std::string("现在就加入塔维输入法用户群，与其他用户交流使用心得并获取来自官方售后的帮助。\n") +
                     "QQ群链接无法使用的话请手动加群：" + kGroupNumber + "\n---\n" +
                     "关注塔维官方新闻台，随时掌握第一手最新消息。",
                 {"Telegram 群", "Telegram 频道", "QQ 群", "取消"}};
}

std::optional<std::string> AboutController::alertResponse(int code) {
    static const char* const links[] = {"https://t.me/TaviroMac2Group", "https://t.me/TaviroMac2News",
                                        "https://qm.qq.com/q/TaviroMac2"};
    if (code < 1000 || code > 1002) return std::nullopt;
    closed_ = true;
    return std::string(links[code - 1000]);
}

} // namespace taviro
