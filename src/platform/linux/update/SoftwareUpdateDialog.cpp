#include "platform/linux/update/SoftwareUpdateDialog.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWidget>

#include "platform/linux/update/SoftwareUpdateWindow.hpp"

namespace quillbridge {
namespace {

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

}  // namespace

SoftwareUpdateWindow::SoftwareUpdateWindow() {
    setWindowTitle(QString::fromUtf8(SoftwareUpdateDialog::windowTitle));
    setObjectName(QStringLiteral("softwareUpdateWindow"));
    auto* outer = new QHBoxLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    outer->addWidget(icon);
    auto* column = new QVBoxLayout();
    outer->addLayout(column, 1);

    title = new QLabel(this);
    title->setObjectName(QStringLiteral("title"));
    auto font = title->font();
    font.setBold(true);
    title->setFont(font);
    title->setWordWrap(true);
    column->addWidget(title);

    detail = new QLabel(this);
    detail->setObjectName(QStringLiteral("detail"));
    detail->setWordWrap(true);
    detail->setTextFormat(Qt::PlainText);
    column->addWidget(detail);

    releaseNotes = new QTextBrowser(this);
    releaseNotes->setObjectName(QStringLiteral("releaseNotes"));
    releaseNotes->setOpenLinks(false);
    releaseNotes->setMinimumSize(420, 180);
    column->addWidget(releaseNotes, 1);

    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("progress"));
    column->addWidget(progress);

    auto* buttons = new QHBoxLayout();
    skipButton = new QPushButton(QString::fromUtf8(SoftwareUpdateDialog::skipTitle), this);
    laterButton = new QPushButton(QString::fromUtf8(SoftwareUpdateDialog::laterTitle), this);
    installButton = new QPushButton(QString::fromUtf8(SoftwareUpdateDialog::installTitle), this);
    doneButton = new QPushButton(QStringLiteral("OK"), this);
    installButton->setDefault(true);
    buttons->addWidget(skipButton);
    buttons->addStretch(1);
    buttons->addWidget(laterButton);
    buttons->addWidget(installButton);
    buttons->addWidget(doneButton);
    column->addLayout(buttons);

    using Choice = SoftwareUpdateUserInterface::Choice;
    connect(installButton, &QPushButton::clicked, this, [this] { choose(Choice::install); });
    connect(skipButton, &QPushButton::clicked, this, [this] { choose(Choice::skipThisVersion); });
    connect(laterButton, &QPushButton::clicked, this, [this] { choose(Choice::remindMeLater); });
    connect(doneButton, &QPushButton::clicked, this, [this] { QWidget::close(); });
}

void SoftwareUpdateWindow::choose(SoftwareUpdateUserInterface::Choice choice) {
    if (onChoose) {
        onChoose(choice);
    }
}

void SoftwareUpdateWindow::showOnly(bool notes, bool bar, bool choices, bool done) {
    releaseNotes->setVisible(notes);
    progress->setVisible(bar);
    skipButton->setVisible(choices);
    laterButton->setVisible(choices);
    installButton->setVisible(choices);
    doneButton->setVisible(done);
}

void SoftwareUpdateWindow::closeEvent(QCloseEvent* event) {
    if (closingRefused) {
        event->ignore();
        return;
    }
    event->accept();
    if (!closingQuietly && onClosed) {
        onClosed();
    }
}

SoftwareUpdateDialog::SoftwareUpdateDialog() : window_(std::make_unique<SoftwareUpdateWindow>()) {}

SoftwareUpdateDialog::~SoftwareUpdateDialog() {
    close();
}

void SoftwareUpdateDialog::setHandlers(std::function<void(Choice)> choose, std::function<void()> closed) {
    window_->onChoose = std::move(choose);
    window_->onClosed = std::move(closed);
}

void SoftwareUpdateDialog::present() {
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void SoftwareUpdateDialog::showChecking() {
    window_->title->setText(QStringLiteral("Checking for updates…"));
    window_->detail->clear();
    window_->progress->setRange(0, 0);
    window_->showOnly(false, true, false, false);
    window_->doneButton->setText(QStringLiteral("Cancel"));
    window_->doneButton->setVisible(true);
    present();
}

void SoftwareUpdateDialog::showUpdate(const AppcastItem& item, const std::string& currentDisplayVersion) {
    window_->title->setText(QStringLiteral("A new version of Quillbridge Host is available!"));
    window_->detail->setText(
        QStringLiteral("Quillbridge Host %1 is available—you have %2. Would you like to install it now?")
            .arg(text(item.displayVersionString), text(currentDisplayVersion)));
    // The notes come from the network: shown as text, never as markup.
    window_->releaseNotes->setPlainText(text(item.releaseNotes));
    window_->showOnly(true, false, true, false);
    present();
}

void SoftwareUpdateDialog::showUpToDate(const std::string& currentDisplayVersion) {
    window_->title->setText(QStringLiteral("You’re up to date!"));
    window_->detail->setText(QStringLiteral("Quillbridge Host %1 is currently the newest version available.")
                                 .arg(text(currentDisplayVersion)));
    window_->showOnly(false, false, false, true);
    window_->doneButton->setText(QStringLiteral("OK"));
    present();
}

void SoftwareUpdateDialog::showDownloadProgress(std::uint64_t receivedBytes, std::uint64_t totalBytes) {
    window_->title->setText(QStringLiteral("Downloading update…"));
    window_->detail->setText(QStringLiteral("%1 of %2")
                                 .arg(QLocale().formattedDataSize(static_cast<qint64>(receivedBytes)),
                                      QLocale().formattedDataSize(static_cast<qint64>(totalBytes))));
    // Per mille, so that any length fits the bar's int range.
    window_->progress->setRange(0, 1000);
    window_->progress->setValue(totalBytes == 0 ? 0 : static_cast<int>(receivedBytes * 1000 / totalBytes));
    window_->showOnly(false, true, false, true);
    window_->doneButton->setText(QStringLiteral("Cancel"));
}

void SoftwareUpdateDialog::showInstalling() {
    window_->title->setText(QStringLiteral("Installing update…"));
    window_->detail->setText(QStringLiteral("Enter your password when the system asks for it."));
    window_->progress->setRange(0, 0);
    window_->showOnly(false, true, false, false);
    window_->closingRefused = true;
}

void SoftwareUpdateDialog::showInstalled() {
    window_->closingRefused = false;
    window_->title->setText(QStringLiteral("Update installed"));
    window_->detail->setText(QStringLiteral("Quillbridge Host is restarting."));
    window_->showOnly(false, false, false, false);
}

void SoftwareUpdateDialog::showError(const std::string& message) {
    window_->closingRefused = false;
    window_->title->setText(QStringLiteral("Update Error!"));
    window_->detail->setText(text(message));
    window_->showOnly(false, false, false, true);
    window_->doneButton->setText(QStringLiteral("OK"));
    present();
}

void SoftwareUpdateDialog::close() {
    window_->closingRefused = false;
    window_->closingQuietly = true;
    window_->close();
    window_->closingQuietly = false;
}

}  // namespace quillbridge
