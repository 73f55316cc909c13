#pragma once

#include <QWidget>

namespace quillbridge {

class MacHostApp;
class OpenWindowAction;

// The menu window's content: the host's status, settings, paired devices and permissions. For now a
// placeholder that names the host.
class ContentView final : public QWidget {
public:
    ContentView(MacHostApp& app, const OpenWindowAction& openWindow, QWidget* parent = nullptr);
};

}  // namespace quillbridge
