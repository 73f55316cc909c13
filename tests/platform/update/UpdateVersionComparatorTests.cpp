#include "platform/linux/update/UpdateVersionComparator.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

const char* nameOf(std::strong_ordering order) {
    if (order == std::strong_ordering::less) {
        return "less";
    }
    return order == std::strong_ordering::greater ? "greater" : "equal";
}

TEST(UpdateVersionComparatorTest, OrdersVersionsByTheValueOfTheirDigitRuns) {
    struct Case {
        std::string left;
        std::string right;
        std::strong_ordering expected;
    };
    const auto less = std::strong_ordering::less;
    const auto equal = std::strong_ordering::equal;
    const auto greater = std::strong_ordering::greater;
    const std::vector<Case> cases = {
        {"1.10", "1.9", greater},
        {"10", "9", greater},
        {"1.2.3", "1.2.3", equal},
        {"1.02", "1.2", equal},
        {"1.0", "1.0.0", equal},
        {"1.0.1", "1.0", greater},
        {"2", "10", less},
        {"412", "411", greater},
        {"99999999999999999999999", "99999999999999999999998", greater},
        {"1.0b1", "1.0", less},
        {"1.0b2", "1.0b1", greater},
        {"1.0rc1", "1.0b9", greater},
        {"1.0.1", "1.0b", greater},
        {"1.0-3", "1.0.3", equal},
        {"", "1", less},
        {"", "", equal},
        {"abc", "1", less},
    };
    for (const auto& entry : cases) {
        const auto order = UpdateVersionComparator::compare(entry.left, entry.right);
        EXPECT_EQ(order, entry.expected) << entry.left << " vs " << entry.right << ": " << nameOf(order);
        const auto reverse = UpdateVersionComparator::compare(entry.right, entry.left);
        EXPECT_EQ(reverse, 0 <=> entry.expected)
            << entry.right << " vs " << entry.left << ": " << nameOf(reverse);
    }
}

}  // namespace
}  // namespace quillbridge
