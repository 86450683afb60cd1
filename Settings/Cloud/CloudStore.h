#pragma once
#include "Platform/Cloud/CloudDatabase.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/Pages/PbarController.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace kelvane {

inline constexpr const char* kCloudContainerIdentifier = "iCloud.com.quorvel.taviro";
// Keys of "config.plist": the folder of the local or shared store and the account name.
inline constexpr const char* kCloudStoreFolderKey = "CloudStoreFolder";
inline constexpr const char* kCloudAccountNameKey = "CloudAccountName";

// The user record names of the two moderator accounts.
const std::set<std::string>& moderatorRecordNames();

// Time-outs of the operations the user waits for (lists, transfers) and of the small
// background ones (the download counter).
inline constexpr std::chrono::seconds kTransferTimeout{120};
inline constexpr std::chrono::seconds kListTimeout{30};

// Where the store is and who uses it, from the settings: "CloudStoreFolder" (default
// defaultFolder()) and "CloudAccountName" (default the login name). A folder holding a
// control character is not taken (a line feed at its end is easily pasted and lost on
// the way to other programs): the default folder is used and the store says so.
struct CloudStoreSettings {
    std::filesystem::path folder;
    std::string accountName;
    // "CloudStoreFolder" as set, when it was refused.
    std::optional<std::string> refusedFolder;

    // "TaviroMacCloudStore" beside the per-user folder, outside what uninstalling removes,
    // so that backups outlive the program. A store at the earlier default place,
    // "CloudStore" in the per-user folder, is moved there when that place is still free.
    static std::filesystem::path defaultFolder();

    static CloudStoreSettings from(const plat::PlistValue::Dictionary& configData);
};

// The container over the folder store; only the download counter of a shared record
// may be changed by other accounts.
std::shared_ptr<plat::cloud::Container> makeCloudContainer(
    const CloudStoreSettings& settings, const std::set<std::string>& moderators = moderatorRecordNames());

// Moves `sheet` with the transfer of one record, in whole percents.
std::function<void(const plat::cloud::RecordID&, double)> progressOn(std::shared_ptr<PbarController> sheet,
                                                                    plat::cloud::RecordID id);

// Saves one record with its progress on `sheet`. On the main queue: a failure shows
// `failurePrefix` and the error on the sheet with Done enabled; a success runs `saved`
// with the stored record (which closes the sheet when it is done with it).
void saveShowingProgress(const std::shared_ptr<plat::cloud::Database>& database, plat::cloud::Record record,
                         std::shared_ptr<PbarController> sheet, std::string failurePrefix,
                         std::function<void(plat::cloud::Record)> saved);

// The container of the running program, from the shared settings; main thread.
std::shared_ptr<plat::cloud::Container> sharedCloudContainer();

} // namespace kelvane
