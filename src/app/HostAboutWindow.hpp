#pragma once

#include <memory>

#include <QMenu>
#include <QWidget>

#include "app/HostAppActivationController.hpp"
#include "app/WindowScene.hpp"

namespace quillbridge {

// The version, the product's links and the acknowledgements of the libraries the host links. The About
// window shows it; the menu window embeds it too.
class HostAboutDetailsView final : public QWidget {
public:
    explicit HostAboutDetailsView(QWidget* parent = nullptr);
};

// The About window's content: the icon, the name and the details. While it is on screen it holds the about
// window role.
class HostAboutWindow final : public QWidget {
public:
    explicit HostAboutWindow(std::shared_ptr<HostAppActivationController> appActivationController,
                             QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::shared_ptr<HostAppActivationController> appActivationController_;
};

// The application's command that opens the About window; Linux has no application menu, so it goes into the
// tray item's context menu.
struct HostAppCommands {
    static constexpr const char* aboutTitle = "About Quillbridge Host";
    static void addTo(QMenu& menu, const OpenWindowAction& openWindow);
};

}  // namespace quillbridge
