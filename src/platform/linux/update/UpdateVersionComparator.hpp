#pragma once

#include <compare>
#include <string_view>

namespace quillbridge {

// Orders release versions the way people number them: digit runs compare by value ("1.10" after "1.9",
// "10" after "9", "1.02" equal to "1.2"), letter runs alphabetically, and any other characters only separate
// runs. A number is newer than letters in the same place ("1.0.1" after "1.0b"). When one version ends first,
// more numbers make the other newer unless they are all zero ("1.0" equals "1.0.0"), and letters make it
// older
// ("1.0b1" before "1.0").
struct UpdateVersionComparator {
    static std::strong_ordering compare(std::string_view left, std::string_view right);
};

}  // namespace quillbridge
