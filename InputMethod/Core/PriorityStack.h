#pragma once
#include <cstddef>
#include <utility>
#include <vector>

namespace taviro {

// A bounded list of the heaviest elements pushed, heaviest first. T provides
// <, <=, >, >= and ==. After every push rowList() is non-increasing and holds
// at most maxLength() elements.
template <typename T>
class PriorityStack {
public:
    using value_type = T;
    using const_iterator = typename std::vector<T>::const_iterator;

    PriorityStack(std::vector<T> rowList, int maxLength)
        : rowList_(std::move(rowList)), maxLength_(maxLength) {}

    const std::vector<T>& rowList() const { return rowList_; }
    int maxLength() const { return maxLength_; }

    const_iterator begin() const { return rowList_.begin(); }
    const_iterator end() const { return rowList_.end(); }
    std::size_t size() const { return rowList_.size(); }
    bool empty() const { return rowList_.empty(); }

    // Probes the middle element once, then scans linearly away from it. An
    // element equal to others goes behind equal elements before the middle
    // and in front of equal elements from the middle on. A stack whose
    // maxLength is below 1 keeps nothing.
    void push(T e) {
        if (maxLength_ < 1) return;
        const std::size_t n = rowList_.size();
        if (n == static_cast<std::size_t>(maxLength_) && rowList_.back() > e) return;
        if (n == 0) {
            rowList_.push_back(std::move(e));
            return;
        }
        const std::size_t m = n / 2;
        std::size_t at = n;
        if (e > rowList_[m]) {
            at = 0;
            for (std::size_t i = m; i-- > 0;) {
                if (rowList_[i] >= e) {
                    at = i + 1;
                    break;
                }
            }
        } else {
            for (std::size_t i = m; i < n; ++i) {
                if (rowList_[i] <= e) {
                    at = i;
                    break;
                }
            }
        }
        rowList_.insert(rowList_.begin() + static_cast<std::ptrdiff_t>(at), std::move(e));
        if (rowList_.size() > static_cast<std::size_t>(maxLength_)) rowList_.pop_back();
    }

private:
    std::vector<T> rowList_;
    int maxLength_;
};

} // namespace taviro
