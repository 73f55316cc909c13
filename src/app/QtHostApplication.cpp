#include "app/QtHostApplication.hpp"

#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>

#include "core/Logger.hpp"

namespace quillbridge {

QtHostApplication::QtHostApplication(ImmediateExit immediateExit) : immediateExit_(std::move(immediateExit)) {
    if (!immediateExit_) {
        immediateExit_ = [] {
            std::fflush(nullptr);
            std::_Exit(0);
        };
    }
}

void QtHostApplication::terminate() {
    auto delegate = delegate_.lock();
    const TerminateReply reply =
        delegate ? delegate->applicationShouldTerminate() : TerminateReply::terminateNow;
    if (reply == TerminateReply::terminateLater) {
        isAwaitingTerminationReply_ = true;
        return;
    }
    if (reply != TerminateReply::terminateNow) {
        return;
    }
    if (isAwaitingTerminationReply_) {
        // A second request while the first waits for the shutdown: the process ends at once.
        Logger("App").notice("Quitting at once");
        immediateExit_();
        return;
    }
    QCoreApplication::exit(0);
}

void QtHostApplication::replyToApplicationShouldTerminate(bool shouldTerminate) {
    if (!isAwaitingTerminationReply_) {
        return;
    }
    isAwaitingTerminationReply_ = false;
    if (shouldTerminate) {
        QCoreApplication::exit(0);
    }
}

AlertResponse QtHostApplication::runModalAlert(const ApplicationAlert& alert) {
    QMessageBox box(QMessageBox::Warning, QString(), QString::fromStdString(alert.messageText));
    box.setInformativeText(QString::fromStdString(alert.informativeText));
    QAbstractButton* first = nullptr;
    for (std::size_t index = 0; index < alert.buttons.size(); ++index) {
        auto* button = box.addButton(QString::fromStdString(alert.buttons[index]),
                                     index == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
        if (index == 0) {
            first = button;
            box.setDefaultButton(button);
        }
    }
    box.exec();
    return box.clickedButton() != nullptr && box.clickedButton() == first ? AlertResponse::firstButton
                                                                          : AlertResponse::secondButton;
}

void QtHostApplication::openFolder(const std::filesystem::path& folder) {
    if (!QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(folder.string())})) {
        Logger("App").error("Unable to open ", folder.string(), " with xdg-open");
    }
}

}  // namespace quillbridge
