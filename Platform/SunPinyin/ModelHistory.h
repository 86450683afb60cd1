#pragma once
#include <filesystem>
#include <string>

namespace plat {

// SunPinyin records the user's history ("history" in its user data folder) by
// word id, and word ids belong to one model. The folder therefore notes in
// "model" which model its history belongs to; on a change of model the
// history is set aside as "history-<identity of its model>" (never read, never
// deleted) and the new model's own history, if one was set aside before, comes
// back.

// A fingerprint of the model files in `dataDir` (lm_sc.t3g, pydict_sc.bin):
// their sizes and a hash of the dictionary, which holds every word by id.
// "" when the files cannot be read.
std::string sunpinyinModelIdentity(const std::filesystem::path& dataDir);

// The same identity, remembered in `userDir` ("model-stamp") together with the
// folder, sizes, change times (ctime, which tools that copy or unpack files
// cannot set) and inodes of the two files: while none of them changes, the
// dictionary is not read again.
std::string cachedSunpinyinModelIdentity(const std::filesystem::path& dataDir, const std::filesystem::path& userDir);

// Makes "history" in `userDir` the one written against the model `identity`.
// False when the history of another model could not be set aside; the caller
// must then not let the engine read the folder's history.
bool adoptSunpinyinHistory(const std::filesystem::path& userDir, const std::string& identity);

} // namespace plat
