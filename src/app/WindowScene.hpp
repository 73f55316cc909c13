#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include <QPointer>
#include <QString>
#include <QWidget>

namespace quillbridge {

// One single-instance window of the application, opened by its identifier: the first request creates it,
// centred on the screen and sized to its content (not resizable beyond it); a request while it is open brings
// the existing window forward. It never opens by itself at launch and nothing restores it after a relaunch.
// Closing it destroys it, content included.
class WindowScene {
public:
    using ContentFactory = std::function<QWidget*()>;

    WindowScene(std::string identifier, QString title, ContentFactory makeContent);
    ~WindowScene();
    WindowScene(const WindowScene&) = delete;
    WindowScene& operator=(const WindowScene&) = delete;

    const std::string& identifier() const { return identifier_; }
    // The open window, or nothing.
    QWidget* window() const { return window_; }
    void open();

private:
    std::string identifier_;
    QString title_;
    ContentFactory makeContent_;
    QPointer<QWidget> window_;
};

// The application's open-window action: opens the scene with the given identifier.
class OpenWindowAction {
public:
    void add(WindowScene& scene) { scenes_[scene.identifier()] = &scene; }
    // False when no scene has the identifier.
    bool operator()(std::string_view identifier) const;

private:
    std::map<std::string, WindowScene*, std::less<>> scenes_;
};

}  // namespace quillbridge
