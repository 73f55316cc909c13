#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QWidget>
#include <asio/any_io_executor.hpp>

#include "app/LoginItemService.hpp"
#include "capture/ScreenRecorder.hpp"

namespace quillbridge {

// The menu window's settings: the session status, the name the headset shows for this host, the display to
// stream, peer-to-peer connections and opening at login. It reads the recorder whenever the menu window
// refreshes it, and reads the login item again each time it is shown. Main thread only.
class ConfigurationView final : public QWidget {
public:
    struct Dependencies {
        asio::any_io_executor mainActor;
        std::shared_ptr<ScreenRecorder> screenRecorder;
        std::shared_ptr<LoginItemService> loginItem;
        // The name the headset shows for this host.
        std::string localDeviceName;
    };

    explicit ConfigurationView(Dependencies dependencies, QWidget* parent = nullptr);

    // Reads the recorder's status, displays and peer-to-peer setting into the controls.
    void refresh();
    // Reads the login item's status into the toggle and the hint under it.
    void refreshLoginItemStatus();
    // The user switched the login toggle.
    void setOpensAtLogin(bool opensAtLogin);

    bool opensAtLogin() const { return opensAtLogin_; }
    const std::optional<std::string>& launchAtLoginErrorMessage() const { return launchAtLoginErrorMessage_; }

    QLabel* statusLabel() const { return status_; }
    QLabel* deviceNameLabel() const { return deviceName_; }
    QComboBox* displayPicker() const { return displayPicker_; }
    QCheckBox* peerToPeerToggle() const { return peerToPeer_; }
    QCheckBox* openAtLoginToggle() const { return openAtLogin_; }
    QLabel* loginErrorLabel() const { return loginError_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showLoginItemState();

    Dependencies dependencies_;
    bool opensAtLogin_ = false;
    std::optional<std::string> launchAtLoginErrorMessage_;
    // The selection identifiers of the picker's rows, in order.
    std::vector<std::string> displayRows_;

    QLabel* status_;
    QLabel* deviceName_;
    QComboBox* displayPicker_;
    QCheckBox* peerToPeer_;
    QCheckBox* openAtLogin_;
    QLabel* loginError_;
};

}  // namespace quillbridge
