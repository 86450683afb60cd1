#include "InputMethod/App/Desktop/LookupTableView.h"

#include "InputMethod/TavCandidates/CandidateController.h"
#include "Platform/Dispatch/MainQueue.h"

namespace taviro {

LookupTableView::LookupTableView(const CandidateController& model, Output output, plat::MainQueue& queue)
    : model_(model), output_(std::move(output)), queue_(queue) {}

LookupTableView::~LookupTableView() = default;

void LookupTableView::modelChanged() {
    if (pending_) return;
    pending_ = true;
    std::weak_ptr<LookupTableView*> weak = self_;
    queue_.async([weak] {
        if (auto self = weak.lock()) (*self)->flush();
    });
}

std::optional<plat::HostLookupTable> LookupTableView::tableFor(const CandidateController& model) {
    if (!model.isVisible() || model.visiableCandidateCells().empty()) return std::nullopt;
    plat::HostLookupTable table;
    for (const CandidateCell* cell : model.visiableCandidateCells()) {
        table.candidates.push_back(cell->contentField.text);
        table.labels.push_back(cell->numberField.text);
    }
    table.cursor = model.selectedIndex() < model.visibleCandidateCount() ? model.selectedIndex() : 0;
    table.vertical = model.isVertical();
    return table;
}

void LookupTableView::flush() {
    pending_ = false;
    const auto table = tableFor(model_);
    if (table) {
        shown_ = true;
        if (output_.show) output_.show(*table);
    } else if (shown_) {
        shown_ = false;
        if (output_.hide) output_.hide();
    }
}

} // namespace taviro
