#pragma once

#include <memory>

#include <QObject>

#include "platform/linux/update/UpdateCommandRunner.hpp"

namespace quillbridge {

// Runs the program with QProcess on the GUI thread; its output goes to the host's own output.
class QProcessUpdateCommandRunner final : public UpdateCommandRunner {
public:
    QProcessUpdateCommandRunner();
    ~QProcessUpdateCommandRunner() override;

    void run(const std::string& program, const std::vector<std::string>& arguments,
             std::function<void(std::optional<int> exitStatus)> done) override;

private:
    std::unique_ptr<QObject> owner_;
};

}  // namespace quillbridge
