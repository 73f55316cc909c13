#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "session/PowerSourceReader.hpp"

namespace quillbridge {

// Reads the power sources from the kernel's power-supply class: one folder per source, its "type" and
// "scope" attributes in files of those names.
class SysfsPowerSourceReader final : public PowerSourceReader {
public:
    explicit SysfsPowerSourceReader(std::filesystem::path root = "/sys/class/power_supply");

    // Nothing when the folder cannot be listed; a source whose type cannot be read is left out.
    std::optional<std::vector<PowerSourceDescription>> powerSources() const override;

private:
    std::filesystem::path root;
};

}  // namespace quillbridge
