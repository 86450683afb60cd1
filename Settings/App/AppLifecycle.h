#pragma once
#include "Platform/Foundation/ReplaceJournal.h"
#include "Settings/CodeTable/CodeTableChooser.h"

#include <chrono>
#include <string>

namespace kelvane {

// The end of the process, after the settings window closed: a job that keeps the input
// method's databases closed gets `grace` to finish; then its bracket is closed anyway
// ("needsReloadDBLink", "okToUse" true) and the job is abandoned. Queued commands are
// sent before this returns. Returns how many brackets had to be closed here.
// The start of the process, before the settings are read: a restore that a killed run
// left half done is finished (the input method told to let go of its databases around
// it and to reload after it) or undone, and abandoned temporaries are removed.
plat::ReplaceJournal::Recovery prepareStart(const TableLocations& where);

int finishBeforeExit(std::chrono::milliseconds grace = std::chrono::seconds(5));

class ConfigManager;
// At quit, before finishBeforeExit(): settings changes still waiting for the lock get one
// last write, waiting up to `lockWait`. Empty when nothing is lost; else the alert text
// saying what was not saved (also logged).
std::string saveSettingsBeforeExit(ConfigManager& config,
                                   std::chrono::milliseconds lockWait = std::chrono::seconds(2));

// What the alert left standing at exit says now: `unsaved` (what saveSettingsBeforeExit
// returned) while the change still waits; once a retry has written it, that it was
// saved after all.
std::string exitAlertText(const ConfigManager& config, const std::string& unsaved);

} // namespace kelvane
