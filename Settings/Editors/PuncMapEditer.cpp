#include "Settings/Editors/PuncMapEditer.h"

#include "Settings/ConfigManager.h"

#include <algorithm>

namespace kelvane {

const PuncMapEditer::Alert PuncMapEditer::kResetAlert = {
    "警告", "重置映射符号到默认配置，此行为不可恢复。", {"继续", "取消"}, false};
const PuncMapEditer::Alert PuncMapEditer::kDuplicateKeyAlert = {"错误！", "映射英文符号不可以重复。", {"好"}, true};

PuncMapEditer::PuncMapEditer(ConfigManager& config) : config_(config) {}

void PuncMapEditer::viewDidLoad() {
    reloadKeys();
    selected_.reset();
}

void PuncMapEditer::reloadKeys() {
    puncList_.clear();
    // The map is ordered by key bytes, which for ASCII keys is character-code order.
    for (const auto& [key, value] : config_.puncMapDict) puncList_.push_back(key);
}

bool PuncMapEditer::forceEngComma() const { return config_.forceEngComma; }

void PuncMapEditer::setForceEngComma(bool on) {
    config_.forceEngComma = on;
    config_.save();
}

std::string PuncMapEditer::cellText(int row, int column) const {
    if (row < 0 || row >= numberOfRows()) return {};
    const std::string& key = puncList_[static_cast<size_t>(row)];
    if (column == 0) return key;
    const auto it = config_.puncMapDict.find(key);
    return it == config_.puncMapDict.end() ? std::string() : it->second;
}

void PuncMapEditer::addRow() {
    puncList_.emplace_back();
    selected_ = numberOfRows() - 1;
}

void PuncMapEditer::deleteRows(const std::set<int>& rows) {
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (*it < 0 || *it >= numberOfRows()) continue;
        const std::string key = puncList_[static_cast<size_t>(*it)];
        puncList_.erase(puncList_.begin() + *it);
        config_.removePuncMapEntry(key);
    }
    selected_.reset();
}

PuncMapEditer::Edit PuncMapEditer::commitEdit(std::optional<int> row, int column, const std::string& text) {
    if (!row || *row < 0 || *row >= numberOfRows()) return Edit::ignored;
    const auto index = static_cast<size_t>(*row);
    const std::string oldKey = puncList_[index];
    if (column != 0) {
        config_.setPuncMapEntry(oldKey, text);
        return Edit::stored;
    }
    auto shownElsewhere = [&](const std::string& key) {
        for (size_t i = 0; i < puncList_.size(); ++i)
            if (i != index && puncList_[i] == key) return true;
        return false;
    };
    if (!text.empty() && shownElsewhere(text)) return Edit::duplicateKey;
    const auto old = config_.puncMapDict.find(oldKey);
    const std::string value = old == config_.puncMapDict.end() ? std::string() : old->second;
    puncList_[index] = text;
    // A renamed key leaves no stray entry behind, unless another row still shows it.
    if (text != oldKey && !shownElsewhere(oldKey)) config_.puncMapDict.erase(oldKey);
    config_.setPuncMapEntry(text, value);
    return Edit::stored;
}

void PuncMapEditer::reset(bool confirmed) {
    if (!confirmed) return;
    config_.resetPuncMap();
    reloadKeys();
    selected_.reset();
}

} // namespace kelvane
