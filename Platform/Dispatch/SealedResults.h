#pragma once
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace plat {

// Result slots filled by parallel tasks and read once by a waiter that may
// stop waiting early. Tasks offer() their result; the waiter seal()s at its
// deadline and gets what arrived. Offers after the seal are dropped. Copies
// share the slots, so tasks capture a copy by value and may outlive the waiter.
//
//   SealedResults<std::vector<Row>> results(3);
//   group.async([results, ...]() mutable { results.offer(0, lookupA()); });
//   ...
//   group.waitUntil(deadline);
//   auto got = results.seal();   // got[i] is empty when task i was late
template <class T>
class SealedResults {
public:
    explicit SealedResults(std::size_t slots) : state_(std::make_shared<State>()) {
        state_->slots.resize(slots);
    }

    // Stores value in slot (replacing an earlier offer). False when the
    // results are sealed or the slot does not exist; the value is then dropped.
    bool offer(std::size_t slot, T value) const {
        std::lock_guard lk(state_->m);
        if (state_->sealed || slot >= state_->slots.size()) return false;
        state_->slots[slot] = std::move(value);
        return true;
    }

    // Closes the slots and returns what arrived. Later calls return empty slots.
    std::vector<std::optional<T>> seal() const {
        std::lock_guard lk(state_->m);
        std::vector<std::optional<T>> out(state_->slots.size());
        if (!state_->sealed) {
            state_->sealed = true;
            out.swap(state_->slots);
        }
        return out;
    }

    bool isSealed() const {
        std::lock_guard lk(state_->m);
        return state_->sealed;
    }

    std::size_t size() const {
        std::lock_guard lk(state_->m);
        return state_->slots.size();
    }

private:
    struct State {
        std::mutex m;
        std::vector<std::optional<T>> slots;
        bool sealed = false;
    };
    std::shared_ptr<State> state_;
};

} // namespace plat
