#pragma once

#include <memory>

#include "platform/linux/update/SoftwareUpdateUserInterface.hpp"

class QLabel;
class QProgressBar;
class QPushButton;
class QTextBrowser;

namespace quillbridge {

class SoftwareUpdateWindow;

// The updater's window: the new version and its release notes with Install Update, Skip This Version and
// Remind Me Later, then the download's progress and the result or the error.
class SoftwareUpdateDialog final : public SoftwareUpdateUserInterface {
public:
    static constexpr const char* windowTitle = "Software Update";
    static constexpr const char* installTitle = "Install Update";
    static constexpr const char* skipTitle = "Skip This Version";
    static constexpr const char* laterTitle = "Remind Me Later";

    SoftwareUpdateDialog();
    ~SoftwareUpdateDialog() override;

    void setHandlers(std::function<void(Choice)> choose, std::function<void()> closed) override;
    void showChecking() override;
    void showUpdate(const AppcastItem& item, const std::string& currentDisplayVersion) override;
    void showUpToDate(const std::string& currentDisplayVersion) override;
    void showDownloadProgress(std::uint64_t receivedBytes, std::uint64_t totalBytes) override;
    void showInstalling() override;
    void showInstalled() override;
    void showError(const std::string& message) override;
    void close() override;

    // For tests: the window and its parts.
    SoftwareUpdateWindow& window() const { return *window_; }

private:
    void present();

    std::unique_ptr<SoftwareUpdateWindow> window_;
};

}  // namespace quillbridge
