#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quillbridge {

// Why the camera receiver refused a format message: no format description can be built from it.
class PersonaCameraReceiveError : public std::runtime_error {
public:
    enum class Case { invalidFormatDescription };

    static PersonaCameraReceiveError invalidFormatDescription(std::int32_t status) {
        return PersonaCameraReceiveError(Case::invalidFormatDescription, status);
    }

    Case errorCase() const { return case_; }
    std::int32_t status() const { return status_; }

private:
    PersonaCameraReceiveError(Case errorCase, std::int32_t status)
        : std::runtime_error("The Persona camera format cannot be used (status " + std::to_string(status) +
                             ")"),
          case_(errorCase),
          status_(status) {}

    Case case_;
    std::int32_t status_;
};

}  // namespace quillbridge
