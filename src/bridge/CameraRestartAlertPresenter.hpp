#pragma once

#include <string_view>

namespace quillbridge {

// Shows the user a warning that needs only an acknowledgement. Called on the main actor; returns at once.
class CameraRestartAlertPresenter {
public:
    virtual ~CameraRestartAlertPresenter() = default;

    virtual void presentWarning(std::string_view message, std::string_view informativeText,
                                std::string_view buttonTitle) = 0;
};

}  // namespace quillbridge
