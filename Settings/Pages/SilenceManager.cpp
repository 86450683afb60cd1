#include "Settings/Pages/SilenceManager.h"

#include "Settings/ConfigManager.h"
#include "SharedLib/contract/ApplicationName.h"

namespace kelvane {

SilenceManager::SilenceManager(ConfigManager& config) : config_(config) { reload(); }

void SilenceManager::reload() {
    data_.clear();
    for (const auto& [identifier, name] : config_.silenceDict) data_.push_back(identifier); // map: sorted by bytes
}

std::string SilenceManager::objectValue(const std::string& column, size_t row) const {
    if (row >= data_.size()) return {};
    if (column == "id") return data_[row];
    if (column == "name") {
        auto it = config_.silenceDict.find(data_[row]);
        return it == config_.silenceDict.end() ? std::string() : it->second;
    }
    return {};
}

void SilenceManager::addApplications(const std::vector<DesktopApplication>& apps) {
    for (const auto& app : apps) {
        const auto names = app.names.empty() && !app.program.empty() ? std::vector<std::string>{app.program} : app.names;
        if (!names.empty() && !app.name.empty()) config_.addSilenceApp(contract::silencePattern(names), app.name);
    }
    reload();
}

std::string SilenceManager::pickerLabel(const DesktopApplication& app) {
    std::string names;
    for (const auto& n : app.names.empty() ? std::vector<std::string>{app.program} : app.names)
        if (!n.empty()) names += (names.empty() ? "" : ", ") + n;
    return app.name + "  (" + (names.empty() ? app.identifier : names) + ")";
}

void SilenceManager::deleteRows(const std::set<size_t>& rows) {
    for (size_t row : rows)
        if (row < data_.size()) config_.removeSilenceApp(data_[row]);
    reload();
}

bool SilenceManager::endEditing(long row, int column, const std::string& text) {
    if (row < 0 || static_cast<size_t>(row) >= data_.size()) return false;
    const std::string old = data_[static_cast<size_t>(row)];
    bool changed = false;
    if (column == 1) {
        config_.addSilenceApp(old, text);
        changed = true;
    } else if (column == 0 && !text.empty()) {
        const std::string name = config_.silenceDict.count(old) ? config_.silenceDict.at(old) : std::string();
        config_.removeSilenceApp(old);
        config_.addSilenceApp(text, name);
        changed = true;
    }
    reload();
    return changed;
}

} // namespace kelvane
