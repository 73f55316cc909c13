#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillbridge {

// Runs one outside program without blocking the caller. Main actor only.
class UpdateCommandRunner {
public:
    virtual ~UpdateCommandRunner() = default;

    // Starts program with arguments; done receives its exit status, or nothing when it could not be started
    // or did not exit normally. done runs on the main actor, at most once, and never after the runner is
    // gone.
    virtual void run(const std::string& program, const std::vector<std::string>& arguments,
                     std::function<void(std::optional<int> exitStatus)> done) = 0;
};

}  // namespace quillbridge
