#include "platform/linux/qt/QtCameraRestartAlertPresenter.hpp"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include "core/Logger.hpp"

namespace quillbridge {

namespace {

QString text(std::string_view value) {
    return QString::fromUtf8(value.data(), qsizetype(value.size()));
}

}  // namespace

void QtCameraRestartAlertPresenter::presentWarning(std::string_view message, std::string_view informativeText,
                                                   std::string_view buttonTitle) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        Logger("PersonaCameraExtensionActivation").notice("No window for the alert: ", message);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, QString(), text(message));
    box->setInformativeText(text(informativeText));
    box->addButton(text(buttonTitle), QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->open();
}

}  // namespace quillbridge
