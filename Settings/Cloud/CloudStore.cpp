#include "Settings/Cloud/CloudStore.h"

#include "Platform/Cloud/FolderStore.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Settings/ConfigManager.h"
#include "Settings/MainThread.h"

#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace kelvane {

const std::set<std::string>& moderatorRecordNames() {
    static const std::set<std::string> names{"_4d07b1e93a6c58f2e0b7d41a9c36e258", "_b59e02c7f14a8d63e2c09b7f5a1d3e46"};
    return names;
}

static std::string loginName() {
    if (const char* user = std::getenv("USER"); user && *user) return user;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name) return pw->pw_name;
    return {};
}

std::filesystem::path CloudStoreSettings::defaultFolder() {
    namespace fs = std::filesystem;
    const fs::path folder = plat::Paths::libraryFolder() / "TaviroMacCloudStore";
    const fs::path earlier = plat::Paths::perUserFolder() / "CloudStore";
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(folder, ec)) && fs::is_directory(fs::status(earlier, ec))) {
        if (fs::is_symlink(earlier, ec)) {
            // The user's link to a folder elsewhere: a new link to where it leads (a relative
            // one would lead elsewhere from the new place), then the old one goes.
            const fs::path target = fs::canonical(earlier, ec);
            if (!ec) fs::create_directory_symlink(target, folder, ec);
            if (!ec) fs::remove(earlier, ec);
        } else {
            fs::rename(earlier, folder, ec);
        }
        if (ec) {
            // Still found where it is.
            plat::log("Kelvane: cannot move the store " + earlier.string() + " to " + folder.string() + ": " +
                      ec.message());
            return earlier;
        }
        plat::log("Kelvane: moved the store " + earlier.string() + " to " + folder.string());
    }
    return folder;
}

// `text` with each control character (C0, DEL, C1 as UTF-8) written as "\xNN".
static std::string escapingControlCharacters(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        char hex[16];
        if (c < 0x20 || c == 0x7f) {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
            std::snprintf(hex, sizeof hex, "\\xc2\\x%02x", next);
            out += hex;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

CloudStoreSettings CloudStoreSettings::from(const plat::PlistValue::Dictionary& configData) {
    CloudStoreSettings s;
    s.folder.clear();
    s.accountName = loginName();
    if (const auto it = configData.find(kCloudStoreFolderKey); it != configData.end() && it->second.isString() &&
                                                               !it->second.asString().empty()) {
        const std::string& set = it->second.asString();
        std::filesystem::path p = set;
        if (const std::string shown = escapingControlCharacters(set); shown != set) {
            s.refusedFolder = set;
            plat::log("Kelvane: the store folder (CloudStoreFolder) " + shown +
                      " holds a control character; the default place is used");
        } else if (p.is_absolute()) {
            s.folder = p;
        }
    }
    if (s.folder.empty()) s.folder = defaultFolder();
    if (const auto it = configData.find(kCloudAccountNameKey); it != configData.end() && it->second.isString())
        s.accountName = it->second.asString();
    return s;
}

std::shared_ptr<plat::cloud::Container> makeCloudContainer(const CloudStoreSettings& settings,
                                                           const std::set<std::string>& moderators) {
    return plat::cloud::makeFolderContainer(
        {settings.folder, kCloudContainerIdentifier, settings.accountName, moderators, {"DownloadTimes"}, {},
         settings.refusedFolder ? "设置中的存储位置（CloudStoreFolder）含控制字符（例如末尾的换行），没有采用；现在用的是默认位置。"
                                : ""});
}

std::function<void(const plat::cloud::RecordID&, double)> progressOn(std::shared_ptr<PbarController> sheet,
                                                                    plat::cloud::RecordID id) {
    return [sheet = std::move(sheet), id = std::move(id)](const plat::cloud::RecordID& which, double fraction) {
        if (which == id) sheet->observeFractionCompleted(static_cast<int>(fraction * 100) / 100.0);
    };
}

void saveShowingProgress(const std::shared_ptr<plat::cloud::Database>& database, plat::cloud::Record record,
                         std::shared_ptr<PbarController> sheet, std::string failurePrefix,
                         std::function<void(plat::cloud::Record)> saved) {
    namespace cloud = plat::cloud;
    auto progress = progressOn(sheet, record.recordID());
    database->modifyRecords(
        {std::move(record)}, {}, {cloud::QueuePriority::VeryHigh, kTransferTimeout}, std::move(progress),
        [sheet, failurePrefix, saved](cloud::ModifyResult result) {
            onMain([sheet, failurePrefix, saved, result = std::move(result)] {
                if (result.error || result.savedRecords.empty()) {
                    sheet->fail(failurePrefix + (result.error ? cloud::describe(*result.error) : std::string()));
                    return;
                }
                saved(result.savedRecords.front());
            });
        });
}

std::shared_ptr<plat::cloud::Container> sharedCloudContainer() {
    return makeCloudContainer(CloudStoreSettings::from(ConfigManager::shared().configData));
}

} // namespace kelvane
