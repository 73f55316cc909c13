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

// The menu window's sections, built once in their order; ContentView.cpp keeps them current.

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

}  // namespace quillbridge
