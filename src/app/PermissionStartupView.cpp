#include "app/PermissionStartupView.hpp"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

#include "app/AppWindowAccessor.hpp"
#include "app/QtHostWindow.hpp"

namespace quillbridge {
namespace {

using Permission = MandatoryPermissionSequence::Permission;
using RowState = MandatoryPermissionSequence::RowState;

constexpr int iconSize = 24;
constexpr int rowSpacing = 12;
constexpr int noteIndent = 36;

QColor secondaryColor(const QWidget& widget) {
    return widget.palette().color(QPalette::PlaceholderText);
}

void setTextColor(QWidget& widget, const QColor& color) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget.setPalette(palette);
}

QFont scaledFont(const QWidget& widget, double scale, bool semibold) {
    QFont font = widget.font();
    font.setPointSizeF(font.pointSizeF() * scale);
    if (semibold) {
        font.setWeight(QFont::DemiBold);
    }
    return font;
}

// A wrapping label that keeps its full height at the view's width.
QLabel* wrappingLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding);
    return label;
}

QPixmap permissionPixmap(Permission permission, const QWidget& widget) {
    QIcon icon;
    switch (permission) {
        case Permission::screenCapture:
            icon = QIcon::fromTheme(QStringLiteral("video-display"),
                                    widget.style()->standardIcon(QStyle::SP_ComputerIcon));
            break;
        case Permission::accessibility:
            icon = QIcon::fromTheme(QStringLiteral("input-mouse"),
                                    widget.style()->standardIcon(QStyle::SP_DesktopIcon));
            break;
        case Permission::localNetwork:
            icon = QIcon::fromTheme(QStringLiteral("network-wired"),
                                    widget.style()->standardIcon(QStyle::SP_DriveNetIcon));
            break;
    }
    return icon.pixmap(iconSize, iconSize);
}

QLabel* iconLabel(Permission permission, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFixedSize(iconSize, iconSize);
    label->setAlignment(Qt::AlignCenter);
    label->setPixmap(permissionPixmap(permission, *parent));
    return label;
}

// One permission before the flow: its icon, its title and what it is for.
class PermissionExplanationRow final : public QWidget {
public:
    PermissionExplanationRow(Permission permission, QWidget* parent) : QWidget(parent) {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(rowSpacing);
        row->addWidget(iconLabel(permission, this), 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout();
        texts->setSpacing(2);
        auto* title = wrappingLabel(PermissionStartupView::title(permission), this);
        title->setFont(scaledFont(*this, 1.0, true));
        auto* explanation = wrappingLabel(PermissionStartupView::explanation(permission), this);
        setTextColor(*explanation, secondaryColor(*this));
        texts->addWidget(title);
        texts->addWidget(explanation);
        row->addLayout(texts, 1);
        setAccessibleName(PermissionStartupView::title(permission));
        setAccessibleDescription(PermissionStartupView::explanation(permission));
    }
};

}  // namespace

// One permission during the flow: its icon and title, and on the right what its state calls for.
class MandatoryPermissionStatusRow final : public QWidget {
public:
    MandatoryPermissionStatusRow(Permission permission, std::function<void()> openSettings, QWidget* parent)
        : QWidget(parent), permission_(permission) {
        auto* stack = new QVBoxLayout(this);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(4);
        auto* row = new QHBoxLayout();
        row->setSpacing(rowSpacing);
        icon_ = iconLabel(permission, this);
        title_ = wrappingLabel(PermissionStartupView::title(permission), this);
        title_->setFont(scaledFont(*this, 1.0, true));
        waiting_ = new QLabel(QStringLiteral("Waiting for permission…"), this);
        setTextColor(*waiting_, secondaryColor(*this));
        waiting_->setAccessibleName(QString());
        openSettings_ = new QPushButton(QStringLiteral("Open Settings"), this);
        openSettings_->setAccessibleName(QStringLiteral("Open Settings for ") +
                                         PermissionStartupView::title(permission));
        openSettings_->setAutoDefault(false);
        QObject::connect(openSettings_, &QPushButton::clicked, openSettings_,
                         [openSettings = std::move(openSettings)] { openSettings(); });
        granted_ = new QLabel(QStringLiteral("✓"), this);
        granted_->setFont(scaledFont(*this, 1.6, true));
        setTextColor(*granted_, QColor(0x28, 0xa7, 0x45));
        row->addWidget(icon_, 0, Qt::AlignVCenter);
        row->addWidget(title_, 1, Qt::AlignVCenter);
        row->addWidget(waiting_, 0, Qt::AlignVCenter);
        row->addWidget(openSettings_, 0, Qt::AlignVCenter);
        row->addWidget(granted_, 0, Qt::AlignVCenter);
        stack->addLayout(row);
        const QString noteText = PermissionStartupView::settingsNote(permission);
        if (!noteText.isEmpty()) {
            note_ = wrappingLabel(noteText, this);
            note_->setFont(scaledFont(*this, 0.92, false));
            note_->setContentsMargins(noteIndent, 0, 0, 0);
            setTextColor(*note_, secondaryColor(*this));
            stack->addWidget(note_);
        }
        show(RowState::upcoming, true);
    }

    RowState state() const { return state_; }
    QPushButton* openSettingsButton() const { return openSettings_; }

    void show(RowState state, bool force = false) {
        if (state == state_ && !force) {
            return;
        }
        state_ = state;
        const bool upcoming = state == RowState::upcoming;
        icon_->setEnabled(!upcoming);
        setTextColor(*title_, upcoming ? secondaryColor(*this) : palette().color(QPalette::WindowText));
        title_->setAccessibleDescription(PermissionStartupView::accessibilityValue(state));
        waiting_->setVisible(state == RowState::requesting);
        openSettings_->setVisible(state == RowState::needsSettings);
        granted_->setVisible(state == RowState::granted);
        if (note_ != nullptr) {
            note_->setVisible(state == RowState::needsSettings);
        }
    }

private:
    Permission permission_;
    RowState state_ = RowState::upcoming;
    QLabel* icon_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* waiting_ = nullptr;
    QPushButton* openSettings_ = nullptr;
    QLabel* granted_ = nullptr;
    QLabel* note_ = nullptr;
};

int PermissionStartupView::contentWidth(double fontPointSize) {
    // Up to the usual desktop sizes, then one step per point, at most three steps.
    if (fontPointSize <= 11.0) {
        return 500;
    }
    if (fontPointSize <= 12.0) {
        return 525;
    }
    if (fontPointSize <= 13.0) {
        return 550;
    }
    return 575;
}

QString PermissionStartupView::title(Permission permission) {
    switch (permission) {
        case Permission::screenCapture:
            return QStringLiteral("Screen & System Audio");
        case Permission::accessibility:
            return QStringLiteral("Accessibility");
        case Permission::localNetwork:
            return QStringLiteral("Local Network");
    }
    return {};
}

QString PermissionStartupView::explanation(Permission permission) {
    switch (permission) {
        case Permission::screenCapture:
            return QStringLiteral("Streams the selected Mac display and its audio to your Vision Pro.");
        case Permission::accessibility:
            return QStringLiteral("Lets input from your Vision Pro control the Mac.");
        case Permission::localNetwork:
            return QStringLiteral("Lets your Vision Pro discover and connect to this Mac.");
    }
    return {};
}

QString PermissionStartupView::settingsNote(Permission permission) {
    switch (permission) {
        case Permission::screenCapture:
            return QStringLiteral("You may need to restart the app after changing this permission.");
        case Permission::accessibility:
            return {};
        case Permission::localNetwork:
            return QStringLiteral("In Privacy & Security, select Local Network.");
    }
    return {};
}

QString PermissionStartupView::accessibilityValue(RowState state) {
    switch (state) {
        case RowState::upcoming:
            return QStringLiteral("Available after earlier permissions are granted");
        case RowState::requesting:
            return QStringLiteral("Waiting for permission…");
        case RowState::needsSettings:
            return QStringLiteral("Not granted");
        case RowState::granted:
            return QStringLiteral("Granted");
    }
    return {};
}

PermissionStartupView::PermissionStartupView(Environment environment, QWidget* parent)
    : QWidget(parent), environment_(std::move(environment)) {
    // Text grows no further than the widest step.
    QFont limited = font();
    if (limited.pointSizeF() > 14.0) {
        limited.setPointSizeF(14.0);
        setFont(limited);
    }

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(24, 24, 24, 24);
    stack->setSpacing(20);

    addHeader(stack);
    addExplanations(stack);
    addStatuses(stack);
    addButtons(stack);

    setFixedWidth(contentWidth(font().pointSizeF()));
    followOnboarding();
    refresh();
}

void PermissionStartupView::addHeader(QVBoxLayout* stack) {
    auto* header = new QVBoxLayout();
    header->setSpacing(4);
    auto* headline = new QHBoxLayout();
    headline->setSpacing(6);
    auto* title = new QLabel(QStringLiteral("Quillbridge Host lives in the menu bar"), this);
    title->setFont(scaledFont(*this, 1.4, true));
    title->setAccessibleName(title->text());
    auto* appIcon = new QLabel(this);
    appIcon->setPixmap(QIcon(QStringLiteral(":/quillbridge/icons/quillbridge-host.svg")).pixmap(22, 22));
    auto* arrow = new QLabel(QStringLiteral("↗"), this);
    arrow->setFont(scaledFont(*this, 1.4, false));
    headline->addWidget(title);
    headline->addWidget(appIcon);
    headline->addWidget(arrow);
    headline->addStretch();
    auto* subtitle = wrappingLabel(
        QStringLiteral(
            "Click the app icon in the menu bar to view status, change settings, or quit the app."),
        this);
    setTextColor(*subtitle, secondaryColor(*this));
    header->addLayout(headline);
    header->addWidget(subtitle);
    stack->addLayout(header);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    stack->addWidget(divider);
}

void PermissionStartupView::addExplanations(QVBoxLayout* stack) {
    // Body, before the flow: what will be asked for.
    explanationList_ = new QWidget(this);
    auto* explanations = new QVBoxLayout(explanationList_);
    explanations->setContentsMargins(0, 0, 0, 0);
    explanations->setSpacing(12);
    auto* explanationHeading =
        wrappingLabel(QStringLiteral("Next, Quillbridge Host will ask for access to:"), this);
    explanationHeading->setFont(scaledFont(*this, 1.0, true));
    explanations->addWidget(explanationHeading);
    for (Permission permission : MandatoryPermissionSequence::allPermissions) {
        explanations->addWidget(new PermissionExplanationRow(permission, explanationList_));
    }
    auto* footer = wrappingLabel(
        QStringLiteral("Quillbridge Host will not request these permissions until you continue."), this);
    footer->setFont(scaledFont(*this, 0.92, false));
    setTextColor(*footer, secondaryColor(*this));
    explanations->addWidget(footer);
    stack->addWidget(explanationList_);
}

void PermissionStartupView::addStatuses(QVBoxLayout* stack) {
    // Body, during the flow: each permission's state.
    statusList_ = new QWidget(this);
    auto* statuses = new QVBoxLayout(statusList_);
    statuses->setContentsMargins(0, 0, 0, 0);
    statuses->setSpacing(12);
    auto* statusHeading = wrappingLabel(QStringLiteral("Finish setting up Quillbridge Host"), this);
    statusHeading->setFont(scaledFont(*this, 1.0, true));
    statuses->addWidget(statusHeading);
    for (std::size_t index = 0; index < MandatoryPermissionSequence::allPermissions.size(); ++index) {
        const Permission permission = MandatoryPermissionSequence::allPermissions[index];
        statusRows_[index] = new MandatoryPermissionStatusRow(
            permission, [this, permission] { openSettings(permission); }, statusList_);
        statuses->addWidget(statusRows_[index]);
    }
    stack->addWidget(statusList_);
}

void PermissionStartupView::addButtons(QVBoxLayout* stack) {
    auto* buttons = new QHBoxLayout();
    quitButton_ = new QPushButton(QStringLiteral("Quit"), this);
    quitButton_->setAutoDefault(false);
    setUpButton_ = new QPushButton(QStringLiteral("Set Up Permissions"), this);
    setUpButton_->setDefault(true);
    doneButton_ = new QPushButton(QStringLiteral("Done"), this);
    doneButton_->setDefault(true);
    buttons->addWidget(quitButton_);
    buttons->addStretch();
    buttons->addWidget(setUpButton_);
    buttons->addWidget(doneButton_);
    stack->addLayout(buttons);

    QObject::connect(quitButton_, &QPushButton::clicked, this, [this] {
        if (environment_.terminate) {
            environment_.terminate();
        }
    });
    QObject::connect(setUpButton_, &QPushButton::clicked, this,
                     [this] { environment_.permissionOnboarding->markPermissionFlowStarted(); });
    QObject::connect(doneButton_, &QPushButton::clicked, this, [this] { done(); });
    // Return presses the default button on screen ("Set Up Permissions" or "Done").
    for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        QObject::connect(shortcut, &QShortcut::activated, this, [this] {
            for (QPushButton* button : {setUpButton_, doneButton_}) {
                if (!button->isHidden()) {
                    button->click();
                    return;
                }
            }
        });
    }
}

void PermissionStartupView::followOnboarding() {
    startTimer_.setSingleShot(true);
    startTimer_.setInterval(startDelayMilliseconds);
    QObject::connect(&startTimer_, &QTimer::timeout, this,
                     [this] { environment_.permissionOnboarding->beginPermissionRequestsIfReady(); });

    observerID_ = environment_.permissionOnboarding->addObserver([this] {
        refresh();
        if (startTaskKey_ != environment_.permissionOnboarding->hasStartedPermissionFlow()) {
            restartStartTask();
        }
    });
    // The recorder keeps its observers: this one outlives the view and then does nothing.
    environment_.screenRecorder->addPropertyObserver(
        [view = QPointer<PermissionStartupView>(this)](ScreenRecorderProperty) {
            if (view) {
                view->refresh();
            }
        });

    new AppWindowAccessor(
        [coordinator = environment_.permissionOnboarding](QWidget* window) {
            coordinator->setupWindowResolved(window != nullptr ? QtHostWindow::of(window) : nullptr);
        },
        this);
}

PermissionStartupView::~PermissionStartupView() {
    environment_.permissionOnboarding->removeObserver(observerID_);
    // Destroyed on screen (the application's end): the window is gone all the same.
    if (isOnScreen_) {
        isOnScreen_ = false;
        environment_.permissionOnboarding->setupWindowDidDisappear();
    }
}

PermissionStartupView::RowState PermissionStartupView::shownRowState(Permission permission) const {
    return statusRows_[static_cast<std::size_t>(permission)]->state();
}

bool PermissionStartupView::showsStatusList() const {
    return !statusList_->isHidden();
}

QPushButton* PermissionStartupView::openSettingsButton(Permission permission) const {
    return statusRows_[static_cast<std::size_t>(permission)]->openSettingsButton();
}

void PermissionStartupView::refresh() {
    const auto& coordinator = *environment_.permissionOnboarding;
    const bool started = coordinator.hasStartedPermissionFlow();
    explanationList_->setHidden(started);
    statusList_->setHidden(!started);
    for (std::size_t index = 0; index < statusRows_.size(); ++index) {
        statusRows_[index]->show(coordinator.rowState(MandatoryPermissionSequence::allPermissions[index]));
    }
    setUpButton_->setHidden(started);
    doneButton_->setHidden(!started || !environment_.screenRecorder->canStartStreaming());
}

void PermissionStartupView::restartStartTask() {
    startTimer_.stop();
    startTaskKey_ = environment_.permissionOnboarding->hasStartedPermissionFlow();
    if (startTaskKey_ && isOnScreen_) {
        startTimer_.start();
    }
}

void PermissionStartupView::openSettings(Permission permission) {
    if (environment_.permissionOnboarding->rowState(permission) != RowState::needsSettings) {
        return;
    }
    if (environment_.openHelpSection) {
        environment_.openHelpSection(PermissionHelpPage::section(permission));
    }
}

void PermissionStartupView::done() {
    environment_.permissionOnboarding->completePermissionFlowIfGranted();
    isCompletingSetup_ = true;
    window()->close();
}

void PermissionStartupView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (QWidget* host = window(); host != this && host != watchedWindow_) {
        if (watchedWindow_) {
            watchedWindow_->removeEventFilter(this);
        }
        watchedWindow_ = host;
        host->installEventFilter(this);
    }
    if (event->spontaneous() || isOnScreen_) {
        return;
    }
    isOnScreen_ = true;
    environment_.permissionOnboarding->setupWindowDidAppear();
    restartStartTask();
}

void PermissionStartupView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (event->spontaneous() || !isOnScreen_) {
        return;
    }
    isOnScreen_ = false;
    startTimer_.stop();
    environment_.permissionOnboarding->setupWindowDidDisappear();
}

bool PermissionStartupView::eventFilter(QObject* watched, QEvent* event) {
    // Closing the setup window in any other way than "Done" quits the host.
    if (watched == watchedWindow_ && event->type() == QEvent::Close && !isCompletingSetup_ &&
        environment_.terminate) {
        environment_.terminate();
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace quillbridge
