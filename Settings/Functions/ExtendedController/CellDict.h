#pragma once
#include <cstdint>
#include <string>

namespace kelvane {

// One imported word library as the library page lists it.
struct CellDict {
    std::string name;
    int64_t id = 0;
    int64_t rowCount = 0;

    bool operator==(const CellDict&) const = default;
};

} // namespace kelvane
