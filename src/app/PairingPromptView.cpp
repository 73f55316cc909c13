#include "app/PairingPromptView.hpp"

#include <cmath>
#include <cstdio>
#include <utility>

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPointer>
#include <QStyle>
#include <QVBoxLayout>

#include "app/MainActorTask.hpp"

namespace quillbridge {
namespace {

const char* borderName(PairingPromptView::BoxBorder border) {
    switch (border) {
        case PairingPromptView::BoxBorder::locked:
            return "locked";
        case PairingPromptView::BoxBorder::active:
            return "active";
        case PairingPromptView::BoxBorder::filled:
            return "filled";
        case PairingPromptView::BoxBorder::empty:
            return "empty";
    }
    return "empty";
}

// The boxes' look: the text background behind, an outline by state (red when locked, the accent colour
// for the next box to fill, a grey of two strengths otherwise).
const char* const boxStyleSheet = R"(
QLabel[pairingBox="true"] { border-radius: 8px; background: rgba(255, 255, 255, 230); }
QLabel[pairingBox="true"][locked="true"] { background: rgba(255, 255, 255, 128); }
QLabel[border="locked"] { border: 1px solid rgba(255, 0, 0, 115); }
QLabel[border="active"] { border: 2px solid palette(highlight); }
QLabel[border="filled"] { border: 1px solid rgba(128, 128, 128, 128); }
QLabel[border="empty"] { border: 1px solid rgba(128, 128, 128, 64); }
)";

QFont scaledFont(const QWidget& widget, double scale, QFont::Weight weight) {
    QFont font = widget.font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setWeight(weight);
    return font;
}

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

}  // namespace

PairingPromptView::PairingPromptView(std::shared_ptr<ScreenRecorder> screenRecorder,
                                     asio::any_io_executor mainActor, QWidget* parent,
                                     CurrentDate currentDate)
    : QWidget(parent),
      screenRecorder_(std::move(screenRecorder)),
      mainActor_(std::move(mainActor)),
      currentDate_(currentDate ? std::move(currentDate) : CurrentDate(&Date::now)) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    content_ = new QWidget(this);
    outer->addWidget(content_);

    auto* stack = new QVBoxLayout(content_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(14);
    stack->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* title = new QLabel(QStringLiteral("Pair Vision Pro"), content_);
    title->setFont(scaledFont(*title, 1.3, QFont::DemiBold));
    stack->addWidget(title);

    auto* asker = new QVBoxLayout();
    asker->setSpacing(4);
    auto* deviceKind = secondaryLabel(QStringLiteral("Vision Pro"), content_);
    deviceKind->setFont(scaledFont(*deviceKind, 0.85, QFont::DemiBold));
    asker->addWidget(deviceKind);
    peerNameLabel_ = new QLabel(content_);
    peerNameLabel_->setTextFormat(Qt::PlainText);
    peerNameLabel_->setFont(scaledFont(*peerNameLabel_, 1.0, QFont::DemiBold));
    asker->addWidget(peerNameLabel_);
    stack->addLayout(asker);

    stack->addWidget(secondaryLabel(QStringLiteral("Enter the PIN shown on the Vision Pro."), content_));

    addCodeEntry(stack);
    addStatusAndButtons(stack);
    followPrompt();
    refresh();
}

void PairingPromptView::addCodeEntry(QVBoxLayout* stack) {
    auto* entry = new QVBoxLayout();
    entry->setSpacing(6);
    auto* pinLabel = secondaryLabel(QStringLiteral("PIN"), content_);
    pinLabel->setFont(scaledFont(*pinLabel, 0.85, QFont::DemiBold));
    entry->addWidget(pinLabel);

    // The code entry: a line edit that takes the typing, almost invisible, over the six boxes the user sees.
    boxRow_ = new QWidget(content_);
    boxRow_->setStyleSheet(QString::fromUtf8(boxStyleSheet));
    auto* boxes = new QHBoxLayout(boxRow_);
    boxes->setContentsMargins(0, 0, 0, 0);
    boxes->setSpacing(10);
    QFont boxFont = QFont(QStringLiteral("Monospace"));
    boxFont.setStyleHint(QFont::Monospace);
    boxFont.setPixelSize(28);
    boxFont.setWeight(QFont::DemiBold);
    for (int index = 0; index < codeLength; ++index) {
        auto* box = new QLabel(boxRow_);
        box->setProperty("pairingBox", true);
        box->setFont(boxFont);
        box->setAlignment(Qt::AlignCenter);
        box->setFixedSize(34, 44);
        box->setAccessibleName(QString());
        box->setFocusPolicy(Qt::NoFocus);
        boxes->addWidget(box);
        boxes_[static_cast<std::size_t>(index)] = box;
    }
    boxes->addStretch();
    boxRow_->installEventFilter(this);
    for (auto* box : boxes_) {
        box->installEventFilter(this);
    }

    codeField_ = new QLineEdit(boxRow_);
    codeField_->setObjectName(QStringLiteral("pairingCodeField"));
    codeField_->setFrame(false);
    codeField_->setFixedSize(1, 1);
    codeField_->move(0, 0);
    codeField_->setInputMethodHints(Qt::ImhDigitsOnly | Qt::ImhNoPredictiveText | Qt::ImhSensitiveData);
    codeField_->setContextMenuPolicy(Qt::NoContextMenu);
    auto* faint = new QGraphicsOpacityEffect(codeField_);
    faint->setOpacity(0.01);
    codeField_->setGraphicsEffect(faint);
    codeField_->setAccessibleName(QStringLiteral("PIN"));
    QObject::connect(codeField_, &QLineEdit::textChanged, this,
                     [this](const QString& text) { setPairingCode(text); });
    QObject::connect(codeField_, &QLineEdit::returnPressed, this, [this] { submit(true); });
    entry->addWidget(boxRow_);
    stack->addLayout(entry);
}

void PairingPromptView::addStatusAndButtons(QVBoxLayout* stack) {
    statusLabel_ = new QLabel(content_);
    statusLabel_->setObjectName(QStringLiteral("pairingStatus"));
    statusLabel_->setFont(scaledFont(*statusLabel_, 0.9, QFont::DemiBold));
    stack->addWidget(statusLabel_);

    remainingAttemptsLabel_ = secondaryLabel(QString(), content_);
    remainingAttemptsLabel_->setFont(scaledFont(*remainingAttemptsLabel_, 0.9, QFont::Normal));
    stack->addWidget(remainingAttemptsLabel_);

    auto* buttons = new QHBoxLayout();
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), content_);
    cancelButton_->setAutoDefault(false);
    submitButton_ = new QPushButton(QStringLiteral("Submit"), content_);
    submitButton_->setDefault(true);
    buttons->addWidget(cancelButton_);
    buttons->addStretch();
    buttons->addWidget(submitButton_);
    stack->addLayout(buttons);
    QObject::connect(cancelButton_, &QPushButton::clicked, this, [this] { cancel(); });
    QObject::connect(submitButton_, &QPushButton::clicked, this, [this] { submit(false); });
}

void PairingPromptView::followPrompt() {
    // The countdown redraws every second from the moment the view exists; prompt changes redraw at once.
    timeline_ = new QTimer(this);
    timeline_->setInterval(1000);
    QObject::connect(timeline_, &QTimer::timeout, this, [this] { refresh(); });
    timeline_->start();
    screenRecorder_->addPropertyObserver(
        [view = QPointer<PairingPromptView>(this)](ScreenRecorderProperty property) {
            if (property == ScreenRecorderProperty::pairingPrompt && view) {
                view->refresh();
            }
        });
}

PairingPromptView::Derived PairingPromptView::derive(const ScreenRecorder::PairingPrompt& prompt, Date now) {
    Derived derived;
    const double left = prompt.expiresAt.secondsSinceReferenceDate - now.secondsSinceReferenceDate;
    derived.secondsLeft = std::isfinite(left) ? static_cast<long long>(std::floor(left)) : -1;
    derived.expired = prompt.isExpired || derived.secondsLeft < 1;
    derived.locked = derived.expired || prompt.isVerifying;
    return derived;
}

std::string PairingPromptView::countdownText(long long seconds) {
    const long long shown = seconds < 0 ? 0 : seconds;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", shown / 60, shown % 60);
    return text;
}

QString PairingPromptView::filteredPairingCode(const QString& text) {
    QString digits;
    for (const QChar character : text) {
        if (character >= QLatin1Char('0') && character <= QLatin1Char('9')) {
            digits.append(character);
            if (digits.size() == codeLength) {
                break;
            }
        }
    }
    return digits;
}

void PairingPromptView::setPairingCode(const QString& text) {
    const QString filtered = filteredPairingCode(text);
    if (codeField_->text() != filtered) {
        // Comes back here once with the filtered text.
        codeField_->setText(filtered);
        return;
    }
    if (filtered == pairingCode_) {
        return;
    }
    pairingCode_ = filtered;
    codeField_->setAccessibleDescription(
        QStringLiteral("%1 of %2 digits entered").arg(pairingCode_.size()).arg(codeLength));
    refresh();
}

void PairingPromptView::refresh() {
    const auto& prompt = screenRecorder_->pairingPrompt();
    if (!prompt) {
        content_->setVisible(false);
        shownPromptID_.reset();
        wasLocked_ = false;
        return;
    }
    derived_ = derive(*prompt, currentDate_());
    const bool newPrompt = shownPromptID_ != prompt->id;
    const bool unlocked = wasLocked_ && !derived_.locked;
    shownPromptID_ = prompt->id;
    wasLocked_ = derived_.locked;
    if (newPrompt || unlocked) {
        // A new prompt, or an entry open again after a rejected code: start from empty boxes.
        pairingCode_.clear();
        const QSignalBlocker quiet(codeField_);
        codeField_->clear();
    }
    content_->setVisible(true);

    peerNameLabel_->setText(QString::fromStdString(prompt->peerName));
    codeField_->setEnabled(!derived_.locked);
    if (derived_.expired) {
        statusLabel_->setText(QStringLiteral("This PIN has timed out."));
    } else if (prompt->isVerifying) {
        statusLabel_->setText(QStringLiteral("Verifying PIN\u2026"));
    } else {
        statusLabel_->setText(QStringLiteral("Time remaining: ") +
                              QString::fromStdString(countdownText(derived_.secondsLeft)));
    }
    statusIsAlarming_ = derived_.expired;
    statusLabel_->setStyleSheet(statusIsAlarming_ ? QStringLiteral("color: red;") : QString());
    statusLabel_->setForegroundRole(QPalette::PlaceholderText);
    remainingAttemptsLabel_->setText(QStringLiteral("Remaining attempts: %1").arg(prompt->remainingAttempts));
    submitButton_->setEnabled(!derived_.expired && !prompt->isVerifying &&
                              filteredPairingCode(pairingCode_).size() == codeLength);
    redrawBoxes(derived_.locked);
    if ((newPrompt || unlocked) && !derived_.locked) {
        focusCodeField();
    }
}

void PairingPromptView::redrawBoxes(bool locked) {
    for (int index = 0; index < codeLength; ++index) {
        auto* box = boxes_[static_cast<std::size_t>(index)];
        const bool holdsCharacter = pairingCode_.size() > index;
        box->setText(holdsCharacter ? QString(pairingCode_.at(index)) : QString());
        BoxBorder border = holdsCharacter ? BoxBorder::filled : BoxBorder::empty;
        if (locked) {
            border = BoxBorder::locked;
        } else if (pairingCode_.size() < codeLength && index == pairingCode_.size()) {
            border = BoxBorder::active;
        }
        const bool changed = boxBorders_[static_cast<std::size_t>(index)] != border ||
                             box->property("locked").toBool() != locked || !box->property("border").isValid();
        boxBorders_[static_cast<std::size_t>(index)] = border;
        if (changed) {
            box->setProperty("border", QString::fromUtf8(borderName(border)));
            box->setProperty("locked", locked);
            box->style()->unpolish(box);
            box->style()->polish(box);
        }
    }
}

PairingPromptView::BoxBorder PairingPromptView::boxBorder(int index) const {
    return boxBorders_.at(static_cast<std::size_t>(index));
}

QString PairingPromptView::boxText(int index) const {
    return boxes_.at(static_cast<std::size_t>(index))->text();
}

bool PairingPromptView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress && !derived_.locked && screenRecorder_->pairingPrompt()) {
        focusCodeField();
    }
    return QWidget::eventFilter(watched, event);
}

void PairingPromptView::focusCodeField() {
    // On a later turn, once the entry is on screen and enabled.
    QMetaObject::invokeMethod(
        codeField_,
        [field = QPointer<QLineEdit>(codeField_)] {
            if (field && field->isEnabled()) {
                field->setFocus(Qt::OtherFocusReason);
            }
        },
        Qt::QueuedConnection);
}

void PairingPromptView::submit(bool fromReturnKey) {
    const auto& prompt = screenRecorder_->pairingPrompt();
    if (!prompt) {
        return;
    }
    const Derived now = derive(*prompt, currentDate_());
    if (fromReturnKey ? now.locked : now.expired) {
        return;
    }
    const QString digits = filteredPairingCode(pairingCode_);
    if (digits.size() != codeLength) {
        return;
    }
    startUnkeptTask(
        mainActor_,
        [recorder = screenRecorder_, code = digits.toStdString()]() -> asio::awaitable<void> {
            co_await recorder->submitPairingCode(code);
        },
        "pairing code submission");
}

void PairingPromptView::cancel() {
    pairingCode_.clear();
    {
        const QSignalBlocker quiet(codeField_);
        codeField_->clear();
    }
    refresh();
    startUnkeptTask(
        mainActor_,
        [recorder = screenRecorder_]() -> asio::awaitable<void> { co_await recorder->cancelPairing(); },
        "pairing cancellation");
}

}  // namespace quillbridge
