#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QPointer>
#include <QWidget>
#include <asio/any_io_executor.hpp>

#include "app/HostAppActivationController.hpp"
#include "app/PairingPromptPlacement.hpp"
#include "app/PairingPromptView.hpp"
#include "capture/ScreenRecorder.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Shows the recorder's pending pairing prompt in a detached window, "Pair Vision Pro", so the code can be
// typed while the menu window is closed. The window opens on request (a click on the pairing notification)
// and closes by itself once the prompt is gone or has expired; while it is open it holds the pairing prompt
// window role. Closing the window does not cancel the pairing. It is the menu window's placement of the
// prompt. Main actor (GUI thread) only.
class PairingPromptPresenter final : public PairingPromptPlacement {
public:
    static constexpr const char* windowTitle = "Pair Vision Pro";
    static constexpr int windowWidth = 420;
    static constexpr int windowHeight = 360;

    PairingPromptPresenter(std::shared_ptr<ScreenRecorder> screenRecorder,
                           std::shared_ptr<HostAppActivationController> appActivationController,
                           asio::any_io_executor mainActor, PairingPromptView::CurrentDate currentDate = {});
    ~PairingPromptPresenter() override;
    PairingPromptPresenter(const PairingPromptPresenter&) = delete;
    PairingPromptPresenter& operator=(const PairingPromptPresenter&) = delete;

    // Opens the window for the current unexpired prompt, or brings an open one forward. Nothing when no
    // prompt is pending, it has expired, or the identifier names another prompt; no identifier: the current
    // prompt.
    void presentPairingPromptWindow(std::optional<Uuid> promptID);
    // The window has closed, whoever closed it.
    void pairingPromptWindowDidClose();

    // The detached window while it exists; closing it runs the closing steps.
    QWidget* pairingPromptWindow() const { return pairingPromptWindow_; }

    // Whether the prompt is shown in the detached window. Writing the stored value changes nothing and tells
    // nobody; observers hear of each real change, on the main actor.
    bool isPairingPromptInWindow() const override { return isPairingPromptInWindow_; }
    void setPairingPromptInWindow(bool value) override;
    void addWindowStateObserver(std::function<void()> observer) { observers_.push_back(std::move(observer)); }

    // PairingPromptPlacement
    void addObserver(std::function<void()> observer) override { addWindowStateObserver(std::move(observer)); }
    bool hasPairingPromptWindow() const override { return pairingPromptWindow_ != nullptr; }
    // Closes the detached window, which runs the closing steps; nothing when there is none.
    void closePairingPromptWindow() override;

private:
    // After a change of the recorder's prompt: closes the window once the prompt is gone or expired.
    void followPairingPrompt();

    std::shared_ptr<ScreenRecorder> screenRecorder_;
    std::shared_ptr<HostAppActivationController> appActivationController_;
    asio::any_io_executor mainActor_;
    PairingPromptView::CurrentDate currentDate_;
    QPointer<QWidget> pairingPromptWindow_;
    bool isPairingPromptInWindow_ = false;
    bool followUpScheduled_ = false;
    std::vector<std::function<void()>> observers_;
    // Deferred work holds this weakly: empty once the presenter is gone.
    std::shared_ptr<PairingPromptPresenter*> lifetime_;
};

}  // namespace quillbridge
