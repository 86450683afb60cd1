#pragma once
#include "Platform/Cloud/CloudDatabase.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace plat::cloud {

// A container kept in a folder on this machine or on a folder several users share (a
// network share or a synchronised folder). Each database is a folder: one property-list
// file per record, written atomically, and the record's asset files beside it.
//
//   <folder>/<container>/Public/Records/<type>/<record name>.plist
//   <folder>/<container>/Public/Assets/<record name>/<key>-<uuid>
//   <folder>/<container>/Private/<user record name>/...   (same layout)
//
// A save checks the record's change tag and renames the new record file in place while
// it holds an advisory lock (flock) on "<database>/.lock", so two processes that save
// one record at once cannot both succeed; where the file system takes no locks the save
// goes on without one and the change tag catches only saves that are not simultaneous.
// Below <folder> no link is followed: a record whose file, folder or asset is a link,
// is not a regular file or is larger than the limits below is skipped with a log line.
//
// In the public database a record may be changed and deleted only by its creator or a
// moderator; any account may change the fields listed in `openFields` of any record.
// The creator is the account name each user sets, so this guards against mistakes, not
// against other users of the folder.
struct FolderStoreConfig {
    std::filesystem::path folder;
    std::string containerIdentifier;
    std::string accountName;            // empty: no account, the store is not available
    std::set<std::string> moderators;   // user record names
    std::set<std::string> openFields;   // public fields anyone may change
    std::filesystem::path cacheFolder;  // fetched assets; empty: <cache>/TaviroMac/CloudAssets
    std::string notice;                 // storeNotice()
};

// The largest record file read or written; records hold names and counters only.
inline constexpr std::uintmax_t kMaxRecordFileBytes = std::uintmax_t{1} << 20;
// The largest asset stored or fetched: the largest text table the importers take.
inline constexpr std::uintmax_t kMaxAssetBytes = std::uintmax_t{128} << 20;
// How long a save waits for another process's save of the same database.
inline constexpr std::chrono::milliseconds kLockWait{10000};

std::shared_ptr<Container> makeFolderContainer(FolderStoreConfig config);

// The user record name of an account: "_" and 32 lower-case hexadecimal digits, the same
// on every machine.
std::string userRecordNameForAccount(std::string_view accountName);

} // namespace plat::cloud
