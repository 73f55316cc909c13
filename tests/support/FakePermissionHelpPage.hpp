#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/PermissionHelpPage.hpp"

namespace quillbridge {

// Records the sections asked for, in order; unknown sections are refused as the real page refuses them.
class FakePermissionHelpPage final : public PermissionHelpPage {
public:
    void openSection(std::string_view section) override {
        if (!isSection(section)) {
            refused.emplace_back(section);
            return;
        }
        opened.emplace_back(section);
    }

    std::vector<std::string> opened;
    std::vector<std::string> refused;
};

}  // namespace quillbridge
