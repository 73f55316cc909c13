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

namespace quillbridge {
namespace {

// The desktop's icon for a symbol name of the rules.
QIcon symbolIcon(std::string_view symbol) {
    QStyle* style = QApplication::style();
    if (symbol == "exclamationmark.triangle.fill" || symbol == "video.badge.exclamationmark") {
        return style->standardIcon(QStyle::SP_MessageBoxWarning);
    }
    if (symbol == "exclamationmark.circle.fill") {
        return style->standardIcon(QStyle::SP_MessageBoxWarning);
    }
    if (symbol == "checkmark.circle.fill") {
        return style->standardIcon(QStyle::SP_DialogApplyButton);
    }
    if (symbol == "arrow.down.circle.fill") {
        return style->standardIcon(QStyle::SP_ArrowDown);
    }
    if (symbol == "arrow.clockwise.circle.fill" || symbol == "arrow.trianglehead.2.clockwise.rotate.90") {
        return style->standardIcon(QStyle::SP_BrowserReload);
    }
    if (symbol == "mic.badge.plus") {
        return style->standardIcon(QStyle::SP_MediaVolume);
    }
    if (symbol == "vision.pro") {
        return style->standardIcon(QStyle::SP_ComputerIcon);
    }
    if (symbol == "info.circle") {
        return style->standardIcon(QStyle::SP_MessageBoxInformation);
    }
    return {};
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// A divider with 4 pixels above and below.
QWidget* paddedDivider(QWidget* parent) {
    auto* holder = new QWidget(parent);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->addWidget(divider(holder));
    return holder;
}

QLabel* textLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
    auto* label = textLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QLabel* captionLabel(const QString& text, QWidget* parent) {
    auto* label = secondaryLabel(text, parent);
    QFont caption = label->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    label->setFont(caption);
    return label;
}

QLabel* headlineLabel(const QString& text, QWidget* parent) {
    auto* label = textLabel(text, parent);
    QFont headline = label->font();
    headline.setWeight(QFont::Bold);
    label->setFont(headline);
    return label;
}

QLabel* calloutLabel(const QString& text, QWidget* parent) {
    auto* label = textLabel(text, parent);
    QFont callout = label->font();
    callout.setPointSizeF(callout.pointSizeF() * 0.95);
    callout.setWeight(QFont::DemiBold);
    label->setFont(callout);
    return label;
}

void makeRed(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0xd0, 0x2b, 0x2b));
    label->setPalette(palette);
    label->setForegroundRole(QPalette::WindowText);
}

// An icon and a headline in orange, as the banners begin.
QWidget* bannerTitle(std::string_view symbol, const QString& text, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* icon = new QLabel(row);
    icon->setPixmap(symbolIcon(symbol).pixmap(18, 18));
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* title = headlineLabel(text, row);
    QPalette palette = title->palette();
    palette.setColor(QPalette::WindowText, QColor(0xdd, 0x6b, 0x20));
    title->setPalette(palette);
    layout->addWidget(title, 1);
    return row;
}

QWidget* stackOf(QWidget* parent, int spacing) {
    auto* widget = new QWidget(parent);
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return widget;
}

QVBoxLayout* stackLayout(QWidget* widget) {
    return static_cast<QVBoxLayout*>(widget->layout());
}

}  // namespace

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

void ContentView::addSetupBanner(QVBoxLayout* root) {
    setupBanner_ = stackOf(this, 10);
    stackLayout(setupBanner_)
        ->addWidget(
            bannerTitle("exclamationmark.circle.fill", QStringLiteral("Setup Required"), setupBanner_));
    stackLayout(setupBanner_)
        ->addWidget(
            secondaryLabel(QStringLiteral("Before Quillbridge Host can connect, it needs permission for "
                                          "Screen & System Audio, Accessibility, and Local Network."),
                           setupBanner_));
    auto* setUp = new QPushButton(QStringLiteral("Set Up Permissions"), setupBanner_);
    stackLayout(setupBanner_)->addWidget(setUp, 0, Qt::AlignLeft);
    QObject::connect(setUp, &QPushButton::clicked, this, [this] {
        if (dependencies_.markPermissionFlowStarted) {
            dependencies_.markPermissionFlowStarted();
        }
    });
    root->addWidget(setupBanner_);
}

void ContentView::addPairingSlot(QVBoxLayout* root) {
    // The pairing prompt slot: the inline prompt goes first into it when it comes.
    pairingSlot_ = stackOf(this, 8);
    returnPromptButton_ = new QPushButton(QStringLiteral("Return Pairing Prompt to Menu"), pairingSlot_);
    stackLayout(pairingSlot_)->addWidget(returnPromptButton_, 0, Qt::AlignLeft);
    stackLayout(pairingSlot_)->addWidget(paddedDivider(pairingSlot_));
    QObject::connect(returnPromptButton_, &QPushButton::clicked, this, [this] {
        auto& presenter = *dependencies_.pairingPromptPresenter;
        if (presenter.hasPairingPromptWindow()) {
            presenter.closePairingPromptWindow();
        } else {
            presenter.setPairingPromptInWindow(false);
        }
    });
    root->addWidget(pairingSlot_);
}

void ContentView::addReadinessBlock(QVBoxLayout* root) {
    // The readiness block: the issue list, the progress row or the settings.
    issueList_ = stackOf(this, 12);
    issueRows_ = stackOf(issueList_, 12);
    stackLayout(issueList_)->addWidget(issueRows_);
    issueActionButton_ = new QPushButton(issueList_);
    stackLayout(issueList_)->addWidget(issueActionButton_, 0, Qt::AlignLeft);
    QObject::connect(issueActionButton_, &QPushButton::clicked, this, [this] {
        if (shownIssueAction_ == MenuSectionRules::IssueAction::openSettings) {
            openLeadingIssueSettings();
        } else if (dependencies_.openWindow) {
            dependencies_.openWindow("permission-onboarding");
        }
    });
    root->addWidget(issueList_);

    progressRow_ = new QWidget(this);
    {
        auto* row = new QHBoxLayout(progressRow_);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(8);
        auto* spinner = new QProgressBar(progressRow_);
        spinner->setRange(0, 0);
        spinner->setTextVisible(false);
        spinner->setFixedSize(48, 10);
        row->addWidget(spinner, 0, Qt::AlignVCenter);
        row->addWidget(secondaryLabel(QStringLiteral("Checking local network access\u2026"), progressRow_),
                       1);
    }
    root->addWidget(progressRow_);

    configurationView_ = new ConfigurationView(
        ConfigurationView::Dependencies{dependencies_.mainActor, dependencies_.screenRecorder,
                                        dependencies_.loginItem, dependencies_.localDeviceName},
        this);
    root->addWidget(configurationView_);
}

void ContentView::addCameraBanner(QVBoxLayout* root) {
    cameraBannerDivider_ = paddedDivider(this);
    root->addWidget(cameraBannerDivider_);
    cameraBanner_ = stackOf(this, 8);
    stackLayout(cameraBanner_)
        ->addWidget(bannerTitle("video.badge.exclamationmark",
                                QStringLiteral("Persona Camera Permission Required"), cameraBanner_));
    stackLayout(cameraBanner_)
        ->addWidget(
            secondaryLabel(QStringLiteral("The connected Vision Pro has Persona camera sharing enabled. "
                                          "Allow the Quillbridge Persona Camera extension so Mac apps can "
                                          "use it."),
                           cameraBanner_));
    stackLayout(cameraBanner_)
        ->addWidget(calloutLabel(
            QStringLiteral("System Settings > General > Login Items & Extensions > Camera Extensions"),
            cameraBanner_));
    auto* cameraSettings = new QPushButton(QStringLiteral("Open Camera Extension Settings"), cameraBanner_);
    stackLayout(cameraBanner_)->addWidget(cameraSettings, 0, Qt::AlignLeft);
    QObject::connect(cameraSettings, &QPushButton::clicked, this, [this] {
        if (dependencies_.openHelp) {
            dependencies_.openHelp(MenuSectionRules::cameraExtensionHelpSection);
        }
    });
    root->addWidget(cameraBanner_);
}

void ContentView::addPairedDevices(QVBoxLayout* root) {
    pairedDevicesDivider_ = divider(this);
    root->addWidget(pairedDevicesDivider_);
    pairedDevicesList_ = new QListWidget();
    pairedDevicesList_->setObjectName(QStringLiteral("paired-devices"));
    pairedDevicesList_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    pairedDevicesList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pairedDevicesList_->setUniformItemSizes(true);
    pairedDevicesList_->setTextElideMode(Qt::ElideRight);
    pairedDevicesList_->setSelectionMode(QAbstractItemView::SingleSelection);
    pairedDevicesList_->setContextMenuPolicy(Qt::CustomContextMenu);
    pairedDevicesList_->setStyleSheet(QStringLiteral(
        "QListWidget { border: none; border-radius: 10px; background: palette(window); padding: 0px; }"
        "QListWidget::item { padding: 8px 12px; }"));
    QObject::connect(pairedDevicesList_, &QListWidget::customContextMenuRequested, this,
                     [this](const QPoint& at) {
                         const QModelIndex index = pairedDevicesList_->indexAt(at);
                         if (!index.isValid()) {
                             return;
                         }
                         if (auto menu = pairedDeviceMenu(index.row())) {
                             menu->exec(pairedDevicesList_->viewport()->mapToGlobal(at));
                         }
                     });
    pairedDevicesGroup_ = new DisclosureGroup(QStringLiteral("My Devices"), pairedDevicesList_, this);
    pairedDevicesGroup_->setIcon(symbolIcon("vision.pro"));
    root->addWidget(pairedDevicesGroup_);
}

void ContentView::addVirtualMicrophone(QVBoxLayout* root) {
    microphoneDivider_ = divider(this);
    root->addWidget(microphoneDivider_);
    auto* microphoneContent = stackOf(nullptr, 8);
    stackLayout(microphoneContent)
        ->addWidget(captionLabel(
            QStringLiteral(
                "Shares microphone audio from a connected Apple Vision Pro with Mac apps as a microphone "
                "named Quillbridge Microphone. It appears only while connected to a Vision Pro with "
                "microphone sharing enabled in the Quillbridge app settings."),
            microphoneContent));
    microphoneDetail_ = captionLabel(QString(), microphoneContent);
    stackLayout(microphoneContent)->addWidget(microphoneDetail_);
    microphoneStartError_ = captionLabel(QString(), microphoneContent);
    makeRed(microphoneStartError_);
    stackLayout(microphoneContent)->addWidget(microphoneStartError_);
    microphoneButtons_ = new QWidget(microphoneContent);
    new QHBoxLayout(microphoneButtons_);
    microphoneButtons_->layout()->setContentsMargins(0, 0, 0, 0);
    stackLayout(microphoneContent)->addWidget(microphoneButtons_);
    microphoneLaunchError_ = captionLabel(QString(), microphoneContent);
    makeRed(microphoneLaunchError_);
    stackLayout(microphoneContent)->addWidget(microphoneLaunchError_);
    microphoneGroup_ = new DisclosureGroup(QStringLiteral("Virtual Microphone"), microphoneContent, this);
    root->addWidget(microphoneGroup_);
}

void ContentView::addSoftwareUpdate(QVBoxLayout* root) {
    root->addWidget(divider(this));
    auto* updateContent = stackOf(nullptr, 8);
    updateStatus_ = captionLabel(QString(), updateContent);
    stackLayout(updateContent)->addWidget(updateStatus_);
    automaticChecks_ = new QCheckBox(QStringLiteral("Automatically Check for Updates"), updateContent);
    stackLayout(updateContent)->addWidget(automaticChecks_);
    {
        auto* row = new QHBoxLayout();
        row->setSpacing(8);
        updateNowButton_ = new QPushButton(QStringLiteral("Update\u2026"), updateContent);
        updateCheckButton_ = new QPushButton(updateContent);
        auto* spinner = new QProgressBar(updateContent);
        spinner->setRange(0, 0);
        spinner->setTextVisible(false);
        spinner->setFixedSize(32, 10);
        updateProgress_ = spinner;
        row->addWidget(updateNowButton_);
        row->addWidget(updateCheckButton_);
        row->addWidget(spinner);
        row->addStretch(1);
        stackLayout(updateContent)->addLayout(row);
    }
    QObject::connect(automaticChecks_, &QCheckBox::clicked, this, [this](bool enabled) {
        dependencies_.updateController->setAutomaticallyChecksForUpdates(enabled);
        refreshSoftwareUpdate();
    });
    QObject::connect(updateNowButton_, &QPushButton::clicked, this,
                     [this] { dependencies_.updateController->checkForUpdatesInteractively(); });
    QObject::connect(updateCheckButton_, &QPushButton::clicked, this,
                     [this] { dependencies_.updateController->checkForUpdates(); });
    softwareUpdateGroup_ = new DisclosureGroup(QStringLiteral("Software Update"), updateContent, this);
    softwareUpdateGroup_->setTrailingText(QString::fromStdString(
        MenuSectionRules::versionLine(BuildInfo::shortVersion(), BuildInfo::buildNumber())));
    root->addWidget(softwareUpdateGroup_);
}

void ContentView::addAboutAndQuit(QVBoxLayout* root) {
    root->addWidget(divider(this));
    aboutGroup_ = new DisclosureGroup(QStringLiteral("About"), new HostAboutDetailsView(), this);
    aboutGroup_->setIcon(symbolIcon("info.circle"));
    root->addWidget(aboutGroup_);

    // Quit.
    root->addWidget(divider(this));
    quitButton_ = new QPushButton(QStringLiteral("Quit Quillbridge Host"), this);
    QObject::connect(quitButton_, &QPushButton::clicked, this, [this] {
        if (dependencies_.terminate) {
            dependencies_.terminate();
        }
    });
    root->addWidget(quitButton_, 0, Qt::AlignLeft);
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
