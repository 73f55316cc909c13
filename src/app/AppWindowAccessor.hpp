#pragma once

#include <functional>

#include <QWidget>

namespace quillbridge {

// An invisible widget placed in a window's content so that the content learns which window hosts it. Its
// creation and every update schedule one resolution, which runs on a later turn of the event loop (once the
// widget sits in its window) and calls the handler with the hosting window, or with nothing when the widget
// is in no window or is gone by then.
class AppWindowAccessor final : public QWidget {
public:
    using ResolveHandler = std::function<void(QWidget* window)>;

    explicit AppWindowAccessor(ResolveHandler onResolve, QWidget* parent = nullptr);

    // The update step: one more resolution.
    void scheduleResolution();

protected:
    bool event(QEvent* event) override;

private:
    ResolveHandler onResolve_;
};

}  // namespace quillbridge
