#include "InputMethod/App/Updater.h"

#include "InputMethod/App/Notices.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"

namespace taviro {
namespace {
std::filesystem::path settingsFile() { return plat::Paths::perUserFile("Updater.plist"); }
} // namespace

PackageManagerUpdater::PackageManagerUpdater(NoticeCenter& notices) : notices_(notices) {}

void PackageManagerUpdater::checkForUpdates() {
    notices_.deliver(Notice{std::nullopt, "检查更新", std::nullopt,
                            "塔维输入法的更新由系统的软件包管理器提供，请用它检查并安装更新。"});
}

double PackageManagerUpdater::updateCheckInterval() const {
    const auto file = plat::readPlistFile(settingsFile(), plat::PlistValue::Type::Dictionary);
    if (!file) return kDefaultInterval;
    const auto* v = file->find(kIntervalKey);
    return v ? v->asNumber(kDefaultInterval) : kDefaultInterval;
}

void PackageManagerUpdater::setUpdateCheckInterval(double seconds) {
    auto file = plat::readPlistFile(settingsFile(), plat::PlistValue::Type::Dictionary)
                    .value_or(plat::PlistValue::dictionary());
    file[kIntervalKey] = seconds;
    plat::Paths::ensurePerUserFolder();
    plat::writePlistFile(settingsFile(), file);
}

} // namespace taviro
