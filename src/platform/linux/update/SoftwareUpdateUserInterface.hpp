#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/linux/update/AppcastParser.hpp"

namespace quillbridge {

// The updater's own window, seen from the updater. Main actor only.
class SoftwareUpdateUserInterface {
public:
    enum class Choice { install, skipThisVersion, remindMeLater };

    virtual ~SoftwareUpdateUserInterface() = default;

    // choose: a button was pressed; closed: the user closed the window.
    virtual void setHandlers(std::function<void(Choice)> choose, std::function<void()> closed) = 0;

    virtual void showChecking() = 0;
    virtual void showUpdate(const AppcastItem& item, const std::string& currentDisplayVersion) = 0;
    virtual void showUpToDate(const std::string& currentDisplayVersion) = 0;
    virtual void showDownloadProgress(std::uint64_t receivedBytes, std::uint64_t totalBytes) = 0;
    virtual void showInstalling() = 0;
    virtual void showInstalled() = 0;
    virtual void showError(const std::string& message) = 0;
    // Closes the window without calling closed.
    virtual void close() = 0;
};

}  // namespace quillbridge
