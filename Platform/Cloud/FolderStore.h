#pragma once
#include "Platform/Cloud/CloudDatabase.h"

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace plat::cloud {

// A container kept in a folder on this machine or on a folder several users share (a
// network share or a synchronised folder). Each database is a folder: one property-list
// file per record, written atomically, and the record's asset files beside it. Nothing
// holds a lock on the folder, so it may sit where file locks do not work.
//
//   <folder>/<container>/Public/Records/<type>/<record name>.plist
//   <folder>/<container>/Public/Assets/<record name>/<key>-<uuid>
//   <folder>/<container>/Private/<user record name>/...   (same layout)
//
// In the public database a record may be changed and deleted only by its creator or a
// moderator; any account may change the fields listed in `openFields` of any record.
struct FolderStoreConfig {
    std::filesystem::path folder;
    std::string containerIdentifier;
    std::string accountName;            // empty: no account, the store is not available
    std::set<std::string> moderators;   // user record names
    std::set<std::string> openFields;   // public fields anyone may change
    std::filesystem::path cacheFolder;  // fetched assets; empty: <cache>/TaviroMac/CloudAssets
};

std::shared_ptr<Container> makeFolderContainer(FolderStoreConfig config);

// The user record name of an account: "_" and 32 lower-case hexadecimal digits, the same
// on every machine.
std::string userRecordNameForAccount(std::string_view accountName);

} // namespace plat::cloud
