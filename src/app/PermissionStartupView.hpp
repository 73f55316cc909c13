#pragma once

#include <memory>

#include <QWidget>

#include "app/PermissionOnboardingCoordinator.hpp"

namespace quillbridge {

// The setup window's content. It tells the onboarding coordinator when it appears, when it goes and which
// window hosts it; the explanation and status rows of the permission flow come here.
class PermissionStartupView final : public QWidget {
public:
    explicit PermissionStartupView(std::shared_ptr<PermissionOnboardingCoordinator> permissionOnboarding,
                                   QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::shared_ptr<PermissionOnboardingCoordinator> permissionOnboarding_;
};

}  // namespace quillbridge
