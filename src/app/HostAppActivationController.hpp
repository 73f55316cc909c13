#pragma once

#include <map>
#include <memory>
#include <set>
#include <string_view>

#include "app/ApplicationActivation.hpp"
#include "app/HostWindow.hpp"
#include "app/WindowRole.hpp"
#include "core/Logger.hpp"

namespace quillbridge {

// The one owner of the application's activation policy: it keeps the window roles that are on screen, gives
// the application the regular policy while any is presented and the accessory policy once none is, and
// fronts the right window when the application is activated or reopened. Main actor only.
class HostAppActivationController {
public:
    // The application's identifier, the subsystem of this controller's log.
    static constexpr std::string_view applicationIdentifier = "com.mossharbor.quillbridgehost";

    explicit HostAppActivationController(std::shared_ptr<ApplicationActivation> application,
                                         std::string_view logSubsystem = applicationIdentifier);

    // The process-wide instance, created on first use.
    static const std::shared_ptr<HostAppActivationController>& shared();

    // Marks the role presented (switching to regular when it is the first), activates the application and
    // fronts the window, when one is given.
    void present(WindowRole role, std::shared_ptr<HostWindow> window = nullptr);
    // Unmarks the role and forgets its window; switches to accessory when no role is left.
    void dismiss(WindowRole role);
    // Remembers the window for the role and fronts it when the role is presented. Never changes the policy.
    void registerWindow(const std::shared_ptr<HostWindow>& window, WindowRole role);
    // When the role is presented: activates the application and fronts its window.
    void activate(WindowRole role);
    // Fronts the live window of the first presented role, in the order pairing prompt, setup, About;
    // whether it did.
    bool bringPresentedWindowsToFront();

    const std::set<WindowRole>& presentedWindowRoles() const { return presentedWindowRoles_; }
    bool isPresented(WindowRole role) const { return presentedWindowRoles_.contains(role); }

private:
    static void front(HostWindow& window);

    Logger logger_;
    std::shared_ptr<ApplicationActivation> application_;
    std::set<WindowRole> presentedWindowRoles_;
    std::map<WindowRole, WeakWindow> windows_;
};

}  // namespace quillbridge
