#include "app/ConfigurationView.hpp"

#include <QFrame>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/MainActorTask.hpp"
#include "app/MenuSectionRules.hpp"
#include "app/MenuWidgets.hpp"
#include "capture/DisplayCaptureConfigurator.hpp"

namespace quillbridge {
namespace {

constexpr const char* approvalHint = "Allow Quillbridge Host in Login Items to open it on startup.";

}  // namespace

ConfigurationView::ConfigurationView(Dependencies dependencies, QWidget* parent)
    : QWidget(parent), dependencies_(std::move(dependencies)) {
    setObjectName(QStringLiteral("configuration-view"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);

    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    stack->addWidget(status_);

    // The name comes from the system: escaped, so that markup in it shows as typed.
    deviceName_ = menu_widgets::captionLabel({}, this);
    deviceName_->setTextFormat(Qt::RichText);
    deviceName_->setText(QStringLiteral("This device will appear as <b>%1</b>")
                             .arg(QString::fromStdString(dependencies_.localDeviceName).toHtmlEscaped()));
    stack->addWidget(deviceName_);
    stack->addWidget(menu_widgets::divider(this));

    auto* pickerRow = new QHBoxLayout();
    auto* pickerLabel = new QLabel(QStringLiteral("Display"), this);
    displayPicker_ = new QComboBox(this);
    displayPicker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    displayPicker_->setMinimumContentsLength(12);
    pickerLabel->setBuddy(displayPicker_);
    pickerRow->addWidget(pickerLabel);
    pickerRow->addWidget(displayPicker_, 1);
    stack->addLayout(pickerRow);
    stack->addWidget(menu_widgets::divider(this));

    peerToPeer_ = new QCheckBox(QStringLiteral("Allow Peer-to-Peer Connections"), this);
    stack->addWidget(peerToPeer_);
    auto* peerToPeerNote = menu_widgets::captionLabel({}, this);
    peerToPeerNote->setText(
        QStringLiteral("Allows direct connections without a local network, but can reduce Wi-Fi performance. "
                       "Must be enabled on "
                       "the Vision Pro app as well."));
    stack->addWidget(peerToPeerNote);
    stack->addWidget(menu_widgets::divider(this));

    openAtLogin_ = new QCheckBox(QStringLiteral("Open Quillbridge Host at Login"), this);
    stack->addWidget(openAtLogin_);
    loginError_ = menu_widgets::captionLabel({}, this);
    loginError_->hide();
    stack->addWidget(loginError_);

    // Choosing a row hands its display to the recorder, which records the choice and selects it.
    QObject::connect(displayPicker_, &QComboBox::activated, this, [this](int row) {
        if (row < 0 || static_cast<std::size_t>(row) >= displayRows_.size()) {
            return;
        }
        const auto& recorder = dependencies_.screenRecorder;
        for (const auto& display : recorder->availableDisplays()) {
            if (DisplayCaptureConfigurator::selectionIdentifier(display) == displayRows_[row]) {
                startUnkeptTask(
                    dependencies_.mainActor,
                    [recorder, display]() -> asio::awaitable<void> {
                        co_await recorder->setPreferredDisplayIdentifier(display);
                    },
                    "display choice");
                return;
            }
        }
    });
    QObject::connect(peerToPeer_, &QCheckBox::clicked, this,
                     [this](bool enabled) { dependencies_.screenRecorder->setEnablePeerToPeer(enabled); });
    // The toggle shows the login item's status, never the user's wish: a click asks, then reads back.
    QObject::connect(openAtLogin_, &QCheckBox::clicked, this, [this](bool opens) { setOpensAtLogin(opens); });

    refresh();
    refreshLoginItemStatus();
}

void ConfigurationView::refresh() {
    const auto& recorder = *dependencies_.screenRecorder;
    status_->setText(QStringLiteral("Status: ") + QString::fromStdString(recorder.streamingStatus()));

    std::vector<std::string> rows;
    QStringList labels;
    for (const auto& display : recorder.availableDisplays()) {
        rows.push_back(DisplayCaptureConfigurator::selectionIdentifier(display));
        labels.push_back(QString::fromStdString(MenuSectionRules::displayLabel(display)));
    }
    const QSignalBlocker blocker(displayPicker_);
    if (rows != displayRows_) {
        displayRows_ = std::move(rows);
        displayPicker_->clear();
        displayPicker_->addItems(labels);
    } else {
        for (int row = 0; row < labels.size(); ++row) {
            displayPicker_->setItemText(row, labels[row]);
        }
    }
    int selectedRow = -1;
    if (const auto& selected = recorder.selectedDisplay()) {
        const auto identifier = DisplayCaptureConfigurator::selectionIdentifier(*selected);
        for (std::size_t row = 0; row < displayRows_.size(); ++row) {
            if (displayRows_[row] == identifier) {
                selectedRow = static_cast<int>(row);
            }
        }
    }
    displayPicker_->setCurrentIndex(selectedRow);

    const QSignalBlocker peerToPeerBlocker(peerToPeer_);
    peerToPeer_->setChecked(recorder.enablePeerToPeer());
}

void ConfigurationView::refreshLoginItemStatus() {
    const auto status = dependencies_.loginItem->status();
    opensAtLogin_ = status == LoginItemService::Status::enabled;
    if (status == LoginItemService::Status::requiresApproval) {
        launchAtLoginErrorMessage_ = approvalHint;
    } else {
        launchAtLoginErrorMessage_.reset();
    }
    showLoginItemState();
}

void ConfigurationView::setOpensAtLogin(bool opensAtLogin) {
    launchAtLoginErrorMessage_.reset();
    auto& loginItem = *dependencies_.loginItem;
    const auto result = opensAtLogin ? loginItem.registerItem() : loginItem.unregisterItem();
    refreshLoginItemStatus();
    if (!result) {
        launchAtLoginErrorMessage_ = "Could not update startup setting: " + result.error();
        showLoginItemState();
    }
}

void ConfigurationView::showLoginItemState() {
    const QSignalBlocker blocker(openAtLogin_);
    openAtLogin_->setChecked(opensAtLogin_);
    loginError_->setText(QString::fromStdString(launchAtLoginErrorMessage_.value_or("")));
    loginError_->setVisible(launchAtLoginErrorMessage_.has_value());
}

void ConfigurationView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshLoginItemStatus();
}

}  // namespace quillbridge
