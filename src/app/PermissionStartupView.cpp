#include "app/PermissionStartupView.hpp"

#include <QLabel>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/AppWindowAccessor.hpp"
#include "app/QtHostWindow.hpp"

namespace quillbridge {

PermissionStartupView::PermissionStartupView(
    std::shared_ptr<PermissionOnboardingCoordinator> permissionOnboarding, QWidget* parent)
    : QWidget(parent), permissionOnboarding_(std::move(permissionOnboarding)) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(24, 24, 24, 24);
    stack->setSpacing(20);
    auto* header = new QLabel(QStringLiteral("Quillbridge Host lives in the menu bar"), this);
    QFont font = header->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setWeight(QFont::DemiBold);
    header->setFont(font);
    stack->addWidget(header);
    setFixedWidth(500);

    new AppWindowAccessor(
        [coordinator = permissionOnboarding_](QWidget* window) {
            coordinator->setupWindowResolved(QtHostWindow::of(window));
        },
        this);
}

void PermissionStartupView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        permissionOnboarding_->setupWindowDidAppear();
    }
}

void PermissionStartupView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        permissionOnboarding_->setupWindowDidDisappear();
    }
}

}  // namespace quillbridge
