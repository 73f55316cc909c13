#include "app/StatusBarIcon.hpp"

#include <QCoreApplication>
#include <QMetaObject>

namespace quillbridge {
namespace {

// Runs the work on a later turn of the event loop while the icon still lives.
void later(const std::shared_ptr<StatusBarIcon*>& self, std::function<void(StatusBarIcon&)> work) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak = std::weak_ptr<StatusBarIcon*>(self), work = std::move(work)] {
            if (auto alive = weak.lock()) {
                work(**alive);
            }
        },
        Qt::QueuedConnection);
}

}  // namespace

StatusBarIcon::StatusBarIcon(std::shared_ptr<ScreenRecorder> screenRecorder,
                             std::shared_ptr<PermissionOnboardingCoordinator> permissionOnboarding,
                             const OpenWindowAction& openWindow, std::function<void()> onClick,
                             QMenu* contextMenu)
    : screenRecorder_(std::move(screenRecorder)),
      permissionOnboarding_(std::move(permissionOnboarding)),
      openWindow_(openWindow),
      self_(std::make_shared<StatusBarIcon*>(this)) {
    tray_.setContextMenu(contextMenu);
    QObject::connect(&tray_, &QSystemTrayIcon::activated,
                     [onClick = std::move(onClick)](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                             onClick();
                         }
                     });
    auto observe = [weak = std::weak_ptr<StatusBarIcon*>(self_)] {
        if (auto alive = weak.lock()) {
            (*alive)->scheduleRefresh();
        }
    };
    screenRecorder_->addPropertyObserver([observe](ScreenRecorderProperty) { observe(); });
    permissionOnboarding_->addObserver(observe);
    refresh();
    tray_.show();
}

StatusBarIcon::~StatusBarIcon() {
    self_.reset();
}

QIcon StatusBarIcon::icon(std::string_view symbolName) {
    if (symbolName == StatusBarIconRules::connectedSymbol) {
        return QIcon(QStringLiteral(":/quillbridge/icons/quillbridge-host-connected.svg"));
    }
    if (symbolName == StatusBarIconRules::readySymbol) {
        return QIcon(QStringLiteral(":/quillbridge/icons/quillbridge-host-ready.svg"));
    }
    return QIcon(QStringLiteral(":/quillbridge/icons/quillbridge-host-attention.svg"));
}

void StatusBarIcon::scheduleRefresh() {
    if (isRefreshScheduled_) {
        return;
    }
    isRefreshScheduled_ = true;
    later(self_, [](StatusBarIcon& icon) {
        icon.isRefreshScheduled_ = false;
        icon.refresh();
    });
}

void StatusBarIcon::refresh() {
    const auto inputs = StatusBarIconRules::Inputs::of(*permissionOnboarding_, *screenRecorder_);
    const std::string symbol(StatusBarIconRules::symbolName(inputs));
    if (symbol != symbolName_) {
        symbolName_ = symbol;
        tray_.setIcon(icon(symbolName_));
    }
    tray_.setToolTip(QString::fromUtf8(StatusBarIconRules::accessibilityLabel(inputs)));
    const bool key = StatusBarIconRules::shouldPresentSetupWindow(inputs);
    if (setupTaskKey_ != key) {
        setupTaskKey_ = key;
        restartSetupTask();
    }
}

void StatusBarIcon::restartSetupTask() {
    const auto generation = ++setupTaskGeneration_;
    later(self_, [generation](StatusBarIcon& icon) {
        if (generation != icon.setupTaskGeneration_) {
            return;
        }
        const auto inputs =
            StatusBarIconRules::Inputs::of(*icon.permissionOnboarding_, *icon.screenRecorder_);
        if (StatusBarIconRules::shouldPresentSetupWindow(inputs)) {
            icon.openWindow_("permission-onboarding");
        }
    });
}

}  // namespace quillbridge
