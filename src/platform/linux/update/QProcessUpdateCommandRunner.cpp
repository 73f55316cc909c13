#include "platform/linux/update/QProcessUpdateCommandRunner.hpp"

#include <QProcess>
#include <QStringList>

namespace quillbridge {

QProcessUpdateCommandRunner::QProcessUpdateCommandRunner() : owner_(std::make_unique<QObject>()) {}

QProcessUpdateCommandRunner::~QProcessUpdateCommandRunner() {
    // A program still running is left to finish: killing the package manager half-way would do harm.
    for (auto* process : owner_->findChildren<QProcess*>()) {
        process->disconnect();
        process->setParent(nullptr);
        QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    }
}

void QProcessUpdateCommandRunner::run(const std::string& program, const std::vector<std::string>& arguments,
                                      std::function<void(std::optional<int> exitStatus)> done) {
    auto* process = new QProcess(owner_.get());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    auto shared = std::make_shared<std::function<void(std::optional<int>)>>(std::move(done));
    auto finish = [process, shared](std::optional<int> status) {
        if (*shared) {
            auto callback = std::move(*shared);
            *shared = nullptr;
            process->deleteLater();
            callback(status);
        }
    };
    QObject::connect(process, &QProcess::finished, process,
                     [finish](int exitCode, QProcess::ExitStatus status) {
                         finish(status == QProcess::NormalExit ? std::optional<int>(exitCode) : std::nullopt);
                     });
    QObject::connect(process, &QProcess::errorOccurred, process, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            finish(std::nullopt);
        }
    });
    QStringList list;
    for (const auto& argument : arguments) {
        list << QString::fromStdString(argument);
    }
    process->start(QString::fromStdString(program), list);
}

}  // namespace quillbridge
