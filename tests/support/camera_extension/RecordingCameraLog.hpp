#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "camera_extension/CameraExtensionLogger.hpp"

namespace quillbridge {

// Keeps every line logged through its logger, on the test's thread.
class RecordingCameraLog {
public:
    struct Line {
        CameraLogLevel level;
        std::string message;
        bool operator==(const Line&) const = default;
    };

    CameraExtensionLogger logger() {
        return CameraExtensionLogger([lines = lines_](CameraLogLevel level, std::string_view message) {
            lines->push_back(Line{level, std::string(message)});
        });
    }

    const std::vector<Line>& lines() const { return *lines_; }
    std::vector<std::string> messages() const {
        std::vector<std::string> messages;
        for (const auto& line : *lines_)
            messages.push_back(line.message);
        return messages;
    }
    std::size_t count(std::string_view message) const {
        return std::size_t(std::count_if(lines_->begin(), lines_->end(),
                                         [&](const Line& line) { return line.message == message; }));
    }
    void clear() { lines_->clear(); }

private:
    std::shared_ptr<std::vector<Line>> lines_ = std::make_shared<std::vector<Line>>();
};

}  // namespace quillbridge
