#include "app/PairingPromptPresenter.hpp"

#include <utility>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <asio/post.hpp>

#include "app/QtHostWindow.hpp"

namespace quillbridge {
namespace {

// The detached window: the prompt's view with padding, a close button and nothing else. It tells its owner
// when it closes.
class PairingPromptDetachedWindow final : public QWidget {
public:
    PairingPromptDetachedWindow(std::shared_ptr<ScreenRecorder> recorder, asio::any_io_executor mainActor,
                                PairingPromptView::CurrentDate currentDate, std::function<void()> onClose)
        : QWidget(nullptr,
                  Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
          onClose_(std::move(onClose)) {
        setWindowTitle(QString::fromUtf8(PairingPromptPresenter::windowTitle));
        auto* stack = new QVBoxLayout(this);
        stack->setSpacing(12);
        stack->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        stack->addWidget(
            new PairingPromptView(std::move(recorder), std::move(mainActor), this, std::move(currentDate)));
        setFixedSize(PairingPromptPresenter::windowWidth, PairingPromptPresenter::windowHeight);
        // Centred on the screen it opens on.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        if (event->isAccepted() && onClose_) {
            auto onClose = std::exchange(onClose_, nullptr);
            onClose();
        }
    }

private:
    std::function<void()> onClose_;
};

}  // namespace

PairingPromptPresenter::PairingPromptPresenter(
    std::shared_ptr<ScreenRecorder> screenRecorder,
    std::shared_ptr<HostAppActivationController> appActivationController, asio::any_io_executor mainActor,
    PairingPromptView::CurrentDate currentDate)
    : screenRecorder_(std::move(screenRecorder)),
      appActivationController_(std::move(appActivationController)),
      mainActor_(std::move(mainActor)),
      currentDate_(std::move(currentDate)),
      lifetime_(std::make_shared<PairingPromptPresenter*>(this)) {
    screenRecorder_->addPropertyObserver(
        [weak = std::weak_ptr<PairingPromptPresenter*>(lifetime_)](ScreenRecorderProperty property) {
            if (property != ScreenRecorderProperty::pairingPrompt) {
                return;
            }
            auto self = weak.lock();
            if (!self || (*self)->followUpScheduled_) {
                return;
            }
            // One follow-up covers every change made before it runs; it reads the value then current.
            (*self)->followUpScheduled_ = true;
            asio::post((*self)->mainActor_, [weak] {
                if (auto presenter = weak.lock()) {
                    (*presenter)->followUpScheduled_ = false;
                    (*presenter)->followPairingPrompt();
                }
            });
        });
}

PairingPromptPresenter::~PairingPromptPresenter() {
    lifetime_.reset();
    if (pairingPromptWindow_) {
        delete pairingPromptWindow_.data();
    }
}

void PairingPromptPresenter::presentPairingPromptWindow(std::optional<Uuid> promptID) {
    const auto& prompt = screenRecorder_->pairingPrompt();
    if (!prompt || prompt->isExpired) {
        return;
    }
    if (promptID && *promptID != prompt->id) {
        // The notification belongs to an earlier prompt.
        return;
    }
    if (pairingPromptWindow_) {
        appActivationController_->activate(WindowRole::pairingPrompt);
        return;
    }
    auto* window =
        new PairingPromptDetachedWindow(screenRecorder_, mainActor_, currentDate_,
                                        [weak = std::weak_ptr<PairingPromptPresenter*>(lifetime_)] {
                                            if (auto presenter = weak.lock()) {
                                                (*presenter)->pairingPromptWindowDidClose();
                                            }
                                        });
    pairingPromptWindow_ = window;
    setPairingPromptInWindow(true);
    // Which shows the window in front.
    appActivationController_->present(WindowRole::pairingPrompt, QtHostWindow::of(window));
}

void PairingPromptPresenter::pairingPromptWindowDidClose() {
    appActivationController_->dismiss(WindowRole::pairingPrompt);
    if (pairingPromptWindow_) {
        // Inside the window's own close handling: it goes once that has returned.
        pairingPromptWindow_->deleteLater();
    }
    pairingPromptWindow_.clear();
    setPairingPromptInWindow(false);
}

void PairingPromptPresenter::closePairingPromptWindow() {
    if (pairingPromptWindow_) {
        pairingPromptWindow_->close();
    }
}

void PairingPromptPresenter::setPairingPromptInWindow(bool value) {
    if (isPairingPromptInWindow_ == value) {
        return;
    }
    isPairingPromptInWindow_ = value;
    for (const auto& observer : std::vector(observers_)) {
        observer();
    }
}

void PairingPromptPresenter::followPairingPrompt() {
    const auto& prompt = screenRecorder_->pairingPrompt();
    if (prompt && !prompt->isExpired) {
        return;
    }
    if (pairingPromptWindow_) {
        pairingPromptWindow_->close();
    }
}

}  // namespace quillbridge
