#include "platform/linux/update/UpdateVersionComparator.hpp"

#include <vector>

namespace quillbridge {
namespace {

struct Run {
    bool numeric = false;
    std::string_view text;  // for numbers: the digits without leading zeros
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::vector<Run> runsOf(std::string_view version) {
    std::vector<Run> runs;
    std::size_t index = 0;
    while (index < version.size()) {
        const char c = version[index];
        if (isDigit(c)) {
            std::size_t end = index;
            while (end < version.size() && isDigit(version[end])) {
                ++end;
            }
            auto digits = version.substr(index, end - index);
            while (digits.size() > 1 && digits.front() == '0') {
                digits.remove_prefix(1);
            }
            runs.push_back({true, digits});
            index = end;
        } else if (isLetter(c)) {
            std::size_t end = index;
            while (end < version.size() && isLetter(version[end])) {
                ++end;
            }
            runs.push_back({false, version.substr(index, end - index)});
            index = end;
        } else {
            ++index;
        }
    }
    return runs;
}

// Digit strings without leading zeros: the longer is larger, else the first difference decides.
std::strong_ordering compareNumbers(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) {
        return left.size() <=> right.size();
    }
    return left.compare(right) <=> 0;
}

// What the runs left over in the longer version make of it.
std::strong_ordering leftover(const std::vector<Run>& runs, std::size_t from) {
    for (std::size_t index = from; index < runs.size(); ++index) {
        if (!runs[index].numeric) {
            return std::strong_ordering::less;
        }
        if (runs[index].text != "0") {
            return std::strong_ordering::greater;
        }
    }
    return std::strong_ordering::equal;
}

}  // namespace

std::strong_ordering UpdateVersionComparator::compare(std::string_view left, std::string_view right) {
    const auto leftRuns = runsOf(left);
    const auto rightRuns = runsOf(right);
    const auto common = std::min(leftRuns.size(), rightRuns.size());
    for (std::size_t index = 0; index < common; ++index) {
        const auto& a = leftRuns[index];
        const auto& b = rightRuns[index];
        std::strong_ordering order = std::strong_ordering::equal;
        if (a.numeric && b.numeric) {
            order = compareNumbers(a.text, b.text);
        } else if (a.numeric != b.numeric) {
            order = a.numeric ? std::strong_ordering::greater : std::strong_ordering::less;
        } else {
            order = a.text.compare(b.text) <=> 0;
        }
        if (order != std::strong_ordering::equal) {
            return order;
        }
    }
    if (leftRuns.size() > common) {
        return leftover(leftRuns, common);
    }
    if (rightRuns.size() > common) {
        return 0 <=> leftover(rightRuns, common);
    }
    return std::strong_ordering::equal;
}

}  // namespace quillbridge
