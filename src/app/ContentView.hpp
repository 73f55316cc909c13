#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <asio/any_io_executor.hpp>

#include "app/ConfigurationView.hpp"
#include "app/DisclosureGroup.hpp"
#include "app/LoginItemService.hpp"
#include "app/MenuSectionRules.hpp"
#include "app/PairingPromptPlacement.hpp"
#include "app/PermissionOnboardingCoordinator.hpp"
#include "app/ScenePhase.hpp"
#include "app/SoftwareUpdateModel.hpp"
#include "app/SystemMicrophoneInstallerModel.hpp"
#include "capture/ScreenRecorder.hpp"

namespace quillbridge {

// The menu window's content, 340 pixels wide: before the permission flow has started, the set-up banner;
// after, the pairing prompt slot, what still blocks streaming (or the Local Network progress row, or the
// settings), the camera extension banner, "My Devices" and "Virtual Microphone"; always "Software Update",
// "About" and Quit. It follows the recorder, the onboarding coordinator, the pairing prompt's placement, the
// update controller and the microphone installer, and re-lays itself out on a later turn after each change.
// Each time it is shown every group starts collapsed, the installer's state is read again and, once the
// permission flow has completed or its requests have started, Local Network access is resolved again; the
// same happens (but the groups) whenever the application becomes active. Main thread only.
class ContentView final : public QWidget {
public:
    struct Dependencies {
        asio::any_io_executor mainActor;
        std::shared_ptr<ScreenRecorder> screenRecorder;
        std::shared_ptr<PermissionOnboardingCoordinator> permissionOnboarding;
        // Empty: the prompt is always shown in the menu.
        std::shared_ptr<PairingPromptPlacement> pairingPromptPresenter;
        // Empty: updating is not configured.
        std::shared_ptr<SoftwareUpdateModel> updateController;
        std::shared_ptr<LoginItemService> loginItem;
        // Makes the view's own microphone installer, once, on first use. Empty: the program carries no
        // installer packages.
        std::function<std::shared_ptr<SystemMicrophoneInstallerModel>()> makeSystemMicrophoneInstaller;
        // Makes the pairing prompt shown inline; called each time the prompt comes into the menu.
        std::function<QWidget*(QWidget* parent)> makePairingPromptView;
        // "Set Up Permissions": records the permission flow as started.
        std::function<void()> markPermissionFlowStarted;
        // The state of a permission's row in the permission flow; nothing when unknown.
        std::function<std::optional<MenuSectionRules::RowState>(MandatoryPermissionIssue)> permissionRowState;
        // Opens a scene window by identifier ("permission-onboarding").
        std::function<void(std::string_view identifier)> openWindow;
        // Opens the host's help page at a section ("screen-recording", "local-network", "accessibility",
        // "camera-extension").
        std::function<void(std::string_view section)> openHelp;
        // Quit: asks the application to terminate.
        std::function<void()> terminate;
        // The name the headset shows for this host.
        std::string localDeviceName;
    };

    static constexpr int fixedWidth = 340;
    static constexpr int pairedDevicesMaximumHeight = 180;

    explicit ContentView(Dependencies dependencies, QWidget* parent = nullptr);
    ~ContentView() override;

    // What the view does when it appears: the groups collapse, the installer's state is read again, and Local
    // Network access is resolved again once the flow has completed or its requests have started.
    void didAppear();
    // The application's phase changed (not called for the first one).
    void scenePhaseDidChange(ScenePhase newPhase);

    // Lays the view out from the current state at once (it otherwise does so on a later turn).
    void refresh();

    bool disableInput() const { return disableInput_; }
    const MenuSectionRules::Sections& sections() const { return sections_; }
    // The view's microphone installer (made on first use).
    SystemMicrophoneInstallerModel& systemMicrophoneInstaller();

    // The widgets, for the tests and the accessibility tree.
    QWidget* setupBanner() const { return setupBanner_; }
    QWidget* pairingSlot() const { return pairingSlot_; }
    QWidget* inlinePairingPrompt() const { return inlinePrompt_; }
    QPushButton* returnPromptButton() const { return returnPromptButton_; }
    QWidget* issueList() const { return issueList_; }
    QPushButton* issueActionButton() const { return issueActionButton_; }
    QWidget* localNetworkProgressRow() const { return progressRow_; }
    ConfigurationView* configurationView() const { return configurationView_; }
    QWidget* cameraBanner() const { return cameraBanner_; }
    DisclosureGroup* pairedDevicesGroup() const { return pairedDevicesGroup_; }
    QListWidget* pairedDevicesList() const { return pairedDevicesList_; }
    DisclosureGroup* microphoneGroup() const { return microphoneGroup_; }
    DisclosureGroup* softwareUpdateGroup() const { return softwareUpdateGroup_; }
    DisclosureGroup* aboutGroup() const { return aboutGroup_; }
    QPushButton* quitButton() const { return quitButton_; }
    // The context menu of a device row, with its one item, "Forget"; nothing for a row that does not exist.
    std::unique_ptr<QMenu> pairedDeviceMenu(int row);

    // The microphone group's parts.
    QLabel* microphoneDetailLabel() const { return microphoneDetail_; }
    QLabel* microphoneStartErrorLabel() const { return microphoneStartError_; }
    QLabel* microphoneLaunchErrorLabel() const { return microphoneLaunchError_; }
    QWidget* microphoneButtonRow() const { return microphoneButtons_; }
    // The update group's parts.
    QLabel* updateStatusLabel() const { return updateStatus_; }
    QPushButton* updateCheckButton() const { return updateCheckButton_; }
    QPushButton* updateNowButton() const { return updateNowButton_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The menu's sections, top to bottom, added to the view's column.
    void addSetupBanner(QVBoxLayout* root);
    void addPairingSlot(QVBoxLayout* root);
    void addReadinessBlock(QVBoxLayout* root);
    void addCameraBanner(QVBoxLayout* root);
    void addPairedDevices(QVBoxLayout* root);
    void addVirtualMicrophone(QVBoxLayout* root);
    void addSoftwareUpdate(QVBoxLayout* root);
    void addAboutAndQuit(QVBoxLayout* root);
    // Lays the view out again whenever one of its models changes.
    void followModels();

    void scheduleRefresh();
    void resolveLocalNetworkIfFlowBegan();
    void rebuildIssueList(const std::vector<MandatoryPermissionIssue>& issues);
    void refreshPairedDevices();
    void refreshMicrophone();
    void refreshSoftwareUpdate();
    void openLeadingIssueSettings();
    std::optional<MenuSectionRules::RowState> rowState(MandatoryPermissionIssue issue) const;

    Dependencies dependencies_;
    std::shared_ptr<SystemMicrophoneInstallerModel> systemMicrophoneInstaller_;
    bool disableInput_ = false;
    bool isRefreshScheduled_ = false;
    MenuSectionRules::Sections sections_;
    std::vector<MandatoryPermissionIssue> shownIssues_;
    std::optional<MenuSectionRules::IssueAction> shownIssueAction_;
    std::vector<std::pair<Uuid, std::string>> shownPeers_;
    ScenePhase scenePhase_ = ScenePhase::inactive;
    // Observers registered with the models reach the view only while it lives.
    std::shared_ptr<ContentView*> self_;

    QWidget* setupBanner_ = nullptr;
    QWidget* pairingSlot_ = nullptr;
    QPointer<QWidget> inlinePrompt_;
    QPushButton* returnPromptButton_ = nullptr;
    QWidget* issueList_ = nullptr;
    QWidget* issueRows_ = nullptr;
    QPushButton* issueActionButton_ = nullptr;
    QWidget* progressRow_ = nullptr;
    ConfigurationView* configurationView_ = nullptr;
    QWidget* cameraBanner_ = nullptr;
    QWidget* cameraBannerDivider_ = nullptr;
    DisclosureGroup* pairedDevicesGroup_ = nullptr;
    QWidget* pairedDevicesDivider_ = nullptr;
    QListWidget* pairedDevicesList_ = nullptr;
    DisclosureGroup* microphoneGroup_ = nullptr;
    QWidget* microphoneDivider_ = nullptr;
    QLabel* microphoneDetail_ = nullptr;
    QLabel* microphoneStartError_ = nullptr;
    QLabel* microphoneLaunchError_ = nullptr;
    QWidget* microphoneButtons_ = nullptr;
    DisclosureGroup* softwareUpdateGroup_ = nullptr;
    QLabel* updateStatus_ = nullptr;
    QPushButton* updateCheckButton_ = nullptr;
    QPushButton* updateNowButton_ = nullptr;
    QWidget* updateProgress_ = nullptr;
    QCheckBox* automaticChecks_ = nullptr;
    DisclosureGroup* aboutGroup_ = nullptr;
    QPushButton* quitButton_ = nullptr;
};

}  // namespace quillbridge
