#pragma once
#include <string>
#include <vector>

namespace taviro {

// One partial segmentation of the typed letters and its score. Nodes are
// ordered and compared by weight alone: two nodes with different paths and
// equal weights are equal, and every comparison involving NaN is false.
struct DagNode {
    std::vector<std::string> path;
    double weight = 0.0;

    friend bool operator<(const DagNode& a, const DagNode& b) { return a.weight < b.weight; }
    friend bool operator<=(const DagNode& a, const DagNode& b) { return a.weight <= b.weight; }
    friend bool operator>(const DagNode& a, const DagNode& b) { return a.weight > b.weight; }
    friend bool operator>=(const DagNode& a, const DagNode& b) { return a.weight >= b.weight; }
    friend bool operator==(const DagNode& a, const DagNode& b) { return a.weight == b.weight; }
};

} // namespace taviro
