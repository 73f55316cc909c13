#pragma once

#include <string_view>

#include "bridge/CameraRestartAlertPresenter.hpp"

namespace quillbridge {

// The warning as an application-modal message box on Qt's GUI thread (the main actor), shown without waiting
// for it to be closed. Without a Qt application (a host without windows) it is only logged.
class QtCameraRestartAlertPresenter final : public CameraRestartAlertPresenter {
public:
    void presentWarning(std::string_view message, std::string_view informativeText,
                        std::string_view buttonTitle) override;
};

}  // namespace quillbridge
