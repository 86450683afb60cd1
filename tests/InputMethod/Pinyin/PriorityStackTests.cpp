#include "InputMethod/Core/DagNode.h"
#include "InputMethod/Core/PriorityStack.h"

#include <gtest/gtest.h>

#include <cmath>

namespace taviro {
namespace {

DagNode node(double weight, std::string tag = "old") { return DagNode{{std::move(tag)}, weight}; }

// The stack as (weight, tag) pairs, so tests can tell a new node from an old
// one of equal weight.
std::vector<std::pair<double, std::string>> contents(const PriorityStack<DagNode>& stack) {
    std::vector<std::pair<double, std::string>> out;
    for (const auto& n : stack) out.emplace_back(n.weight, n.path.front());
    return out;
}

TEST(PriorityStack, PushPlacesAndTrims) {
    using Row = std::vector<std::pair<double, std::string>>;
    const struct {
        std::vector<double> start;
        int maxLength;
        double pushed;
        Row expected;
    } cases[] = {
        {{9, 5, 2}, 3, 1, {{9, "old"}, {5, "old"}, {2, "old"}}},
        {{9, 5, 2}, 3, 2, {{9, "old"}, {5, "old"}, {2, "new"}}},
        {{9, 5, 2}, 3, 6, {{9, "old"}, {6, "new"}, {5, "old"}}},
        {{9, 5, 2}, 3, 10, {{10, "new"}, {9, "old"}, {5, "old"}}},
        {{9}, 3, 4, {{9, "old"}, {4, "new"}}},
        {{9}, 3, 9, {{9, "new"}, {9, "old"}}},
        {{}, 1, 7, {{7, "new"}}},
        {{7}, 1, 3, {{7, "old"}}},
        {{7}, 1, 8, {{8, "new"}}},
        {{7}, 1, 7, {{7, "new"}}},
        {{5, 3, 3, 1}, 10, 3, {{5, "old"}, {3, "old"}, {3, "new"}, {3, "old"}, {1, "old"}}},
        {{9, 7, 7, 5, 3, 1},
         10,
         7,
         {{9, "old"}, {7, "old"}, {7, "old"}, {7, "new"}, {5, "old"}, {3, "old"}, {1, "old"}}},
        {{9, 8, 5, 5}, 10, 5, {{9, "old"}, {8, "old"}, {5, "new"}, {5, "old"}, {5, "old"}}},
        {{9, 5, 2}, 0, 100, {{9, "old"}, {5, "old"}, {2, "old"}}},
    };
    for (const auto& c : cases) {
        std::vector<DagNode> rows;
        for (double w : c.start) rows.push_back(node(w));
        PriorityStack<DagNode> stack(rows, c.maxLength);
        stack.push(node(c.pushed, "new"));
        EXPECT_EQ(contents(stack), c.expected)
            << "push " << c.pushed << " onto " << c.start.size() << " rows, max " << c.maxLength;
    }
}

TEST(PriorityStack, StaysOrderedAndBounded) {
    PriorityStack<DagNode> stack({}, 3);
    for (double w : {4.0, 1.0, 8.0, 8.0, 2.0, 9.0, 3.0, 8.5, 0.5, 9.0})
        stack.push(node(w));
    ASSERT_EQ(stack.size(), 3u);
    EXPECT_EQ(stack.rowList()[0].weight, 9.0);
    EXPECT_EQ(stack.rowList()[1].weight, 9.0);
    EXPECT_EQ(stack.rowList()[2].weight, 8.5);
    EXPECT_EQ(stack.maxLength(), 3);
}

TEST(DagNode, ComparesByWeightOnly) {
    DagNode a{{"ni", "hao"}, 2.5};
    DagNode b{{"ni", "h", "ao"}, 2.5};
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(a <= b && a >= b);
    EXPECT_FALSE(a < b || a > b);
    DagNode nan{{}, std::nan("")};
    EXPECT_FALSE(nan == nan || nan < a || nan > a || nan <= a || nan >= a);
}

} // namespace
} // namespace taviro
