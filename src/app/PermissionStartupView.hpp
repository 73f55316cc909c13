#pragma once

#include <array>
#include <functional>
#include <memory>

#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include "app/MandatoryPermissionSequence.hpp"
#include "app/PermissionHelpPage.hpp"
#include "app/PermissionOnboardingCoordinator.hpp"
#include "capture/ScreenRecorder.hpp"

class QLabel;
class QPushButton;

namespace quillbridge {

class MandatoryPermissionStatusRow;

// The setup window's content. Before the flow it explains the three permissions and waits for "Set Up
// Permissions"; once the flow has started it shows one live status row per permission (a row that needs the
// user's action opens the permission's section of the help page) and ends with "Done". Closing the window in
// any other way than "Done" quits the host; its destruction at the application's end does not. Main thread
// only.
class PermissionStartupView final : public QWidget {
public:
    using Permission = MandatoryPermissionSequence::Permission;
    using RowState = MandatoryPermissionSequence::RowState;

    struct Environment {
        std::shared_ptr<PermissionOnboardingCoordinator> permissionOnboarding;
        std::shared_ptr<ScreenRecorder> screenRecorder;
        // Opens a section of the help page.
        OpenPermissionHelpSection openHelpSection;
        // Quits the host.
        std::function<void()> terminate;
    };

    // How long the start task waits after the window shows (or after the flow starts) before it asks the
    // coordinator to begin.
    static constexpr int startDelayMilliseconds = 200;

    // The fixed width for the application's text size (its font's point size): wider for larger text.
    static int contentWidth(double fontPointSize);
    // The texts of the rows, by permission.
    static QString title(Permission permission);
    static QString explanation(Permission permission);
    // Empty when the permission has none.
    static QString settingsNote(Permission permission);
    // What assistive technology reads as a status row's value.
    static QString accessibilityValue(RowState state);

    explicit PermissionStartupView(Environment environment, QWidget* parent = nullptr);
    ~PermissionStartupView() override;

    // For tests and screenshots: the state each status row shows and the buttons on screen.
    RowState shownRowState(Permission permission) const;
    bool showsStatusList() const;
    QPushButton* setUpButton() const { return setUpButton_; }
    QPushButton* doneButton() const { return doneButton_; }
    QPushButton* quitButton() const { return quitButton_; }
    QPushButton* openSettingsButton(Permission permission) const;
    bool isStartPending() const { return startTimer_.isActive(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // Watches the hosting window for its closing.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The window's parts, top to bottom, added to its column.
    void addHeader(QVBoxLayout* stack);
    // What will be asked for, shown before the flow starts.
    void addExplanations(QVBoxLayout* stack);
    // Each permission's state, shown during the flow.
    void addStatuses(QVBoxLayout* stack);
    void addButtons(QVBoxLayout* stack);
    // The flow's start timer and the models the view follows.
    void followOnboarding();

    // Re-reads the coordinator and the recorder into the widgets.
    void refresh();
    // The start task, keyed by the coordinator's started flag.
    void restartStartTask();
    void openSettings(Permission permission);
    void done();

    Environment environment_;
    PermissionOnboardingCoordinator::ObserverID observerID_ = 0;
    bool isCompletingSetup_ = false;
    bool isOnScreen_ = false;
    QPointer<QWidget> watchedWindow_;
    bool startTaskKey_ = false;
    QTimer startTimer_;
    QWidget* explanationList_ = nullptr;
    QWidget* statusList_ = nullptr;
    std::array<MandatoryPermissionStatusRow*, 3> statusRows_{};
    QPushButton* quitButton_ = nullptr;
    QPushButton* setUpButton_ = nullptr;
    QPushButton* doneButton_ = nullptr;
};

}  // namespace quillbridge
