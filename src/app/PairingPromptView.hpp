#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <asio/any_io_executor.hpp>

#include "capture/ScreenRecorder.hpp"
#include "core/Date.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Where the user types the 6-digit code a headset shows to pair with this host: who asks, the code boxes,
// the time left, the attempts left, Cancel and Submit. It only reads the recorder's pending prompt and hands
// the code or the cancellation to the recorder. Shown inline in the menu window and in the detached pairing
// window; with no prompt pending it shows nothing. Main actor (GUI thread) only.
class PairingPromptView final : public QWidget {
public:
    static constexpr int codeLength = 6;

    // The date the countdown is measured from; the wall clock unless a test gives its own.
    using CurrentDate = std::function<Date()>;

    // How a code box is outlined.
    enum class BoxBorder { locked, active, filled, empty };

    PairingPromptView(std::shared_ptr<ScreenRecorder> screenRecorder, asio::any_io_executor mainActor,
                      QWidget* parent = nullptr, CurrentDate currentDate = {});

    // What a redraw shows, worked out from the prompt and the date.
    struct Derived {
        // Whole seconds to the code's expiry, rounded down; negative once it has passed.
        long long secondsLeft = 0;
        bool expired = false;
        bool locked = false;
    };
    static Derived derive(const ScreenRecorder::PairingPrompt& prompt, Date now);
    // "m:ss" for a number of seconds; 0:00 for anything below zero.
    static std::string countdownText(long long seconds);
    // What the entry keeps of typed or pasted text: the ASCII digits 0 to 9, in order, at most six. Other
    // scripts' digits are left out: the session compares the code as ASCII digits.
    static QString filteredPairingCode(const QString& text);

    // Redraws from the recorder's prompt and the current date (the one-second timer does it too).
    void refresh();

    const QString& pairingCode() const { return pairingCode_; }
    BoxBorder boxBorder(int index) const;
    QString boxText(int index) const;

    QLineEdit* codeField() const { return codeField_; }
    QPushButton* submitButton() const { return submitButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QLabel* statusLabel() const { return statusLabel_; }
    QLabel* peerNameLabel() const { return peerNameLabel_; }
    QLabel* remainingAttemptsLabel() const { return remainingAttemptsLabel_; }
    // Whether the status line shows in red (the code has timed out).
    bool isStatusAlarming() const { return statusIsAlarming_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The PIN label over the six boxes and the line edit that takes the typing.
    void addCodeEntry(QVBoxLayout* stack);
    // The status and remaining-attempts lines, then Cancel and Submit.
    void addStatusAndButtons(QVBoxLayout* stack);
    // Redraws every second and whenever the recorder's prompt changes.
    void followPrompt();

    void setPairingCode(const QString& text);
    void redrawBoxes(bool locked);
    void focusCodeField();
    void submit(bool fromReturnKey);
    void cancel();

    std::shared_ptr<ScreenRecorder> screenRecorder_;
    asio::any_io_executor mainActor_;
    CurrentDate currentDate_;

    QString pairingCode_;
    std::optional<Uuid> shownPromptID_;
    bool wasLocked_ = false;
    bool statusIsAlarming_ = false;
    Derived derived_;

    QWidget* content_ = nullptr;
    QLabel* peerNameLabel_ = nullptr;
    QLineEdit* codeField_ = nullptr;
    QWidget* boxRow_ = nullptr;
    std::array<QLabel*, codeLength> boxes_{};
    std::array<BoxBorder, codeLength> boxBorders_{};
    QLabel* statusLabel_ = nullptr;
    QLabel* remainingAttemptsLabel_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* submitButton_ = nullptr;
    QTimer* timeline_ = nullptr;
};

}  // namespace quillbridge
