#include "app/ContentView.hpp"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QProgressBar>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>

#include "app/BuildInfo.hpp"
#include "app/HostAboutWindow.hpp"
#include "app/MainActorTask.hpp"
#include "app/MenuWidgets.hpp"

namespace quillbridge {
using namespace menu_widgets;

ContentView::ContentView(Dependencies dependencies, QWidget* parent)
    : QWidget(parent), dependencies_(std::move(dependencies)), self_(std::make_shared<ContentView*>(this)) {
    if (!dependencies_.pairingPromptPresenter) {
        dependencies_.pairingPromptPresenter = std::make_shared<InlinePairingPromptPlacement>();
    }
    if (!dependencies_.updateController) {
        dependencies_.updateController = std::make_shared<NotConfiguredSoftwareUpdate>();
    }
    setObjectName(QStringLiteral("content-view"));
    setFixedWidth(fixedWidth);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(12, 12, 12, 12);
    root->setSpacing(8);

    addSetupBanner(root);
    addPairingSlot(root);
    addReadinessBlock(root);
    addCameraBanner(root);
    addPairedDevices(root);
    addVirtualMicrophone(root);
    addSoftwareUpdate(root);
    addAboutAndQuit(root);
    followModels();
    refresh();
}

void ContentView::followModels() {
    // Following the models: each change lays the view out again on a later turn; a change of the permission
    // issues also sets whether the settings take input.
    const std::weak_ptr<ContentView*> weak = self_;
    auto observe = [weak] {
        if (auto alive = weak.lock()) {
            (*alive)->scheduleRefresh();
        }
    };
    dependencies_.screenRecorder->addPropertyObserver([weak](ScreenRecorderProperty property) {
        auto alive = weak.lock();
        if (!alive) {
            return;
        }
        ContentView& view = **alive;
        if (property == ScreenRecorderProperty::permissionIssues) {
            view.disableInput_ = !view.dependencies_.screenRecorder->permissionIssues().empty();
        }
        view.scheduleRefresh();
    });
    dependencies_.permissionOnboarding->addObserver(observe);
    dependencies_.pairingPromptPresenter->addObserver(observe);
    dependencies_.updateController->addObserver(observe);
    systemMicrophoneInstaller().addObserver(observe);

    if (qGuiApp != nullptr) {
        scenePhase_ =
            qGuiApp->applicationState() == Qt::ApplicationActive ? ScenePhase::active : ScenePhase::inactive;
        QObject::connect(
            qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
                const ScenePhase phase = state == Qt::ApplicationActive     ? ScenePhase::active
                                         : state == Qt::ApplicationInactive ? ScenePhase::inactive
                                                                            : ScenePhase::background;
                if (phase != scenePhase_) {
                    scenePhaseDidChange(phase);
                }
            });
    }
}

ContentView::~ContentView() {
    self_.reset();
}

SystemMicrophoneInstallerModel& ContentView::systemMicrophoneInstaller() {
    if (!systemMicrophoneInstaller_) {
        systemMicrophoneInstaller_ = dependencies_.makeSystemMicrophoneInstaller
                                         ? dependencies_.makeSystemMicrophoneInstaller()
                                         : nullptr;
        if (!systemMicrophoneInstaller_) {
            systemMicrophoneInstaller_ = std::make_shared<MissingSystemMicrophoneInstaller>();
        }
    }
    return *systemMicrophoneInstaller_;
}

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        didAppear();
    }
}

void ContentView::didAppear() {
    // Every opening starts with the groups collapsed.
    for (auto* group : {pairedDevicesGroup_, microphoneGroup_, softwareUpdateGroup_, aboutGroup_}) {
        group->setExpanded(false);
    }
    systemMicrophoneInstaller().refreshState();
    resolveLocalNetworkIfFlowBegan();
    refresh();
}

void ContentView::scenePhaseDidChange(ScenePhase newPhase) {
    scenePhase_ = newPhase;
    if (newPhase != ScenePhase::active) {
        return;
    }
    systemMicrophoneInstaller().refreshState();
    resolveLocalNetworkIfFlowBegan();
}

void ContentView::resolveLocalNetworkIfFlowBegan() {
    const auto& onboarding = *dependencies_.permissionOnboarding;
    if (!onboarding.hasCompletedPermissionFlow() && !onboarding.permissionRequestsHaveStarted()) {
        return;
    }
    startUnkeptTask(
        dependencies_.mainActor,
        [recorder = dependencies_.screenRecorder,
         weak = std::weak_ptr<ContentView*>(self_)]() -> asio::awaitable<void> {
            co_await recorder->resolveLocalNetworkPermission();
            if (auto alive = weak.lock()) {
                (*alive)->disableInput_ = !recorder->permissionIssues().empty();
                (*alive)->scheduleRefresh();
            }
        },
        "menu Local Network resolution");
}

void ContentView::scheduleRefresh() {
    if (isRefreshScheduled_) {
        return;
    }
    isRefreshScheduled_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            isRefreshScheduled_ = false;
            refresh();
        },
        Qt::QueuedConnection);
}

std::optional<MenuSectionRules::RowState> ContentView::rowState(MandatoryPermissionIssue issue) const {
    if (!dependencies_.permissionRowState) {
        return std::nullopt;
    }
    return dependencies_.permissionRowState(issue);
}

void ContentView::refresh() {
    const auto& recorder = *dependencies_.screenRecorder;
    const auto& onboarding = *dependencies_.permissionOnboarding;
    const auto& presenter = *dependencies_.pairingPromptPresenter;

    MenuSectionRules::Inputs inputs;
    inputs.hasStartedPermissionFlow = onboarding.hasStartedPermissionFlow();
    inputs.hasPairingPrompt = recorder.pairingPrompt().has_value();
    inputs.isPairingPromptInWindow = presenter.isPairingPromptInWindow();
    inputs.hasPermissionIssues = !recorder.permissionIssues().empty();
    inputs.isResolvingLocalNetworkPermission = recorder.isResolvingLocalNetworkPermission();
    inputs.isPersonaCameraSharingEnabled = recorder.isPersonaCameraSharingEnabled();
    inputs.cameraExtensionRequiresApproval =
        recorder.personaCameraExtensionPermissionState() ==
        PersonaVirtualCameraController::PermissionState::requiresApproval;
    inputs.hasPairedPeers = !recorder.pairedPeers().empty();
    inputs.hasInstallerResources = systemMicrophoneInstaller().hasInstallerResources();
    sections_ = MenuSectionRules::sections(inputs);

    setupBanner_->setVisible(sections_.setupBanner);

    // The pairing prompt slot: the inline prompt lives while the prompt is shown in the menu.
    using PairingSlot = MenuSectionRules::PairingSlot;
    if (sections_.pairingSlot == PairingSlot::inlinePrompt && !inlinePrompt_ &&
        dependencies_.makePairingPromptView) {
        inlinePrompt_ = dependencies_.makePairingPromptView(pairingSlot_);
        if (inlinePrompt_) {
            stackLayout(pairingSlot_)->insertWidget(0, inlinePrompt_);
        }
    } else if (sections_.pairingSlot != PairingSlot::inlinePrompt && inlinePrompt_) {
        inlinePrompt_->hide();
        inlinePrompt_->deleteLater();
        inlinePrompt_ = nullptr;
    }
    returnPromptButton_->setVisible(sections_.pairingSlot == PairingSlot::returnButton);
    pairingSlot_->setVisible(sections_.pairingSlot != PairingSlot::absent);

    using Readiness = MenuSectionRules::Readiness;
    if (sections_.readiness == Readiness::permissionIssues) {
        rebuildIssueList(std::vector<MandatoryPermissionIssue>(recorder.permissionIssues().begin(),
                                                               recorder.permissionIssues().end()));
    }
    issueList_->setVisible(sections_.readiness == Readiness::permissionIssues);
    progressRow_->setVisible(sections_.readiness == Readiness::localNetworkProgress);
    configurationView_->setVisible(sections_.readiness == Readiness::settings);
    configurationView_->setEnabled(!disableInput_);
    configurationView_->refresh();

    cameraBannerDivider_->setVisible(sections_.cameraBanner);
    cameraBanner_->setVisible(sections_.cameraBanner);

    refreshPairedDevices();
    pairedDevicesDivider_->setVisible(sections_.pairedDevices);
    pairedDevicesGroup_->setVisible(sections_.pairedDevices);

    refreshMicrophone();
    microphoneDivider_->setVisible(sections_.virtualMicrophone);
    microphoneGroup_->setVisible(sections_.virtualMicrophone);

    refreshSoftwareUpdate();

    if (QWidget* top = window(); top != this && top->isVisible()) {
        top->adjustSize();
    }
}

void ContentView::rebuildIssueList(const std::vector<MandatoryPermissionIssue>& present) {
    const auto issues = MenuSectionRules::orderedIssues(present);
    const std::optional<MandatoryPermissionIssue> leading =
        issues.empty() ? std::nullopt : std::optional(issues.front());
    const auto action = MenuSectionRules::issueAction(leading, leading ? rowState(*leading) : std::nullopt);
    issueActionButton_->setText(QString::fromUtf8(MenuSectionRules::issueActionTitle(action, leading)));
    shownIssueAction_ = action;
    if (issues == shownIssues_) {
        return;
    }
    shownIssues_ = issues;
    auto* layout = stackLayout(issueRows_);
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const auto issue : issues) {
        auto* block = stackOf(issueRows_, 4);
        block->setObjectName(QString::fromUtf8(rawValue(issue)));
        stackLayout(block)->addWidget(
            headlineLabel(QString::fromUtf8(mandatoryPermissionIssueTitle(issue)), block));
        stackLayout(block)->addWidget(
            secondaryLabel(QString::fromUtf8(mandatoryPermissionIssueMessage(issue)), block));
        if (const auto path = MenuSectionRules::settingsPath(issue)) {
            stackLayout(block)->addWidget(calloutLabel(QString::fromUtf8(*path), block));
        }
        layout->addWidget(block);
    }
}

void ContentView::openLeadingIssueSettings() {
    const auto& present = dependencies_.screenRecorder->permissionIssues();
    const auto issues = MenuSectionRules::orderedIssues(
        std::vector<MandatoryPermissionIssue>(present.begin(), present.end()));
    // The state may have moved on since the button was labelled.
    if (issues.empty() || rowState(issues.front()) != MenuSectionRules::RowState::needsSettings) {
        return;
    }
    if (dependencies_.openHelp) {
        dependencies_.openHelp(MenuSectionRules::helpSection(issues.front()));
    }
}

std::unique_ptr<QMenu> ContentView::pairedDeviceMenu(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= shownPeers_.size()) {
        return nullptr;
    }
    auto menu = std::make_unique<QMenu>();
    auto* forget = menu->addAction(QStringLiteral("Forget"));
    forget->setIcon(QApplication::style()->standardIcon(QStyle::SP_TrashIcon));
    QObject::connect(forget, &QAction::triggered, this, [this, id = shownPeers_[row].first] {
        startUnkeptTask(
            dependencies_.mainActor,
            [recorder = dependencies_.screenRecorder, id]() -> asio::awaitable<void> {
                co_await recorder->forgetPairedPeer(id);
            },
            "forget paired device");
    });
    return menu;
}

void ContentView::refreshPairedDevices() {
    std::vector<std::pair<Uuid, std::string>> peers;
    for (const auto& peer : dependencies_.screenRecorder->pairedPeers()) {
        peers.emplace_back(peer.id, peer.name);
    }
    if (peers == shownPeers_) {
        return;
    }
    shownPeers_ = std::move(peers);
    pairedDevicesList_->clear();
    for (const auto& peer : shownPeers_) {
        // Item texts are plain: a name is shown as the headset announced it.
        new QListWidgetItem(QString::fromStdString(peer.second), pairedDevicesList_);
    }
    // As tall as the rows, at most 180 pixels; beyond that the list scrolls.
    const int rowHeight = shownPeers_.empty() ? 0 : pairedDevicesList_->sizeHintForRow(0);
    const int contentHeight =
        rowHeight * static_cast<int>(shownPeers_.size()) + 2 * pairedDevicesList_->frameWidth();
    pairedDevicesList_->setFixedHeight(std::min(pairedDevicesMaximumHeight, contentHeight));
}

void ContentView::refreshMicrophone() {
    auto& installer = systemMicrophoneInstaller();
    if (!installer.hasInstallerResources()) {
        return;
    }
    const auto state = installer.state();
    const auto presentation = MenuSectionRules::microphonePresentation(state, installer.installedVersion(),
                                                                       installer.restartIsRecommended());
    microphoneGroup_->setIcon(symbolIcon(presentation.iconSymbol));
    microphoneGroup_->setTrailingText(QString::fromStdString(presentation.statusText));
    microphoneGroup_->setAccessibleValue(QString::fromStdString(presentation.detailText));
    microphoneDetail_->setText(QString::fromStdString(presentation.detailText));

    const auto& startError = dependencies_.screenRecorder->virtualMicrophoneErrorMessage();
    microphoneStartError_->setText(startError ? QStringLiteral("The virtual microphone could not start: ") +
                                                    QString::fromStdString(*startError)
                                              : QString());
    microphoneStartError_->setVisible(startError.has_value());

    auto* row = static_cast<QHBoxLayout*>(microphoneButtons_->layout());
    while (QLayoutItem* item = row->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const auto package : presentation.buttons) {
        auto* button = new QPushButton(
            QString::fromUtf8(MenuSectionRules::microphoneButtonTitle(package, state)), microphoneButtons_);
        QObject::connect(button, &QPushButton::clicked, this,
                         [this, package] { systemMicrophoneInstaller().openInstallerPackage(package); });
        row->addWidget(button);
    }
    row->addStretch(1);
    microphoneButtons_->setVisible(!presentation.buttons.empty());

    const auto launchError = installer.launchErrorMessage();
    microphoneLaunchError_->setText(QString::fromStdString(launchError.value_or("")));
    microphoneLaunchError_->setVisible(launchError.has_value());
}

void ContentView::refreshSoftwareUpdate() {
    auto& update = *dependencies_.updateController;
    const auto status = update.status();
    const auto presentation = MenuSectionRules::updatePresentation(status, update.canCheckForUpdates());
    softwareUpdateGroup_->setIcon(symbolIcon(presentation.iconSymbol));
    softwareUpdateGroup_->setAccessibleValue(QString::fromStdString(presentation.statusText));
    updateStatus_->setText(QString::fromStdString(presentation.statusText));
    if (presentation.statusIsError) {
        makeRed(updateStatus_);
    } else {
        updateStatus_->setPalette(QPalette());
        updateStatus_->setForegroundRole(QPalette::PlaceholderText);
    }
    {
        const QSignalBlocker blocker(automaticChecks_);
        automaticChecks_->setChecked(update.automaticallyChecksForUpdates());
    }
    automaticChecks_->setEnabled(update.hasUpdater());
    updateNowButton_->setVisible(presentation.showsUpdateButton);
    updateCheckButton_->setText(QString::fromStdString(presentation.checkButtonTitle));
    updateCheckButton_->setEnabled(presentation.checkButtonEnabled);
    updateProgress_->setVisible(presentation.showsProgress);
}

}  // namespace quillbridge
