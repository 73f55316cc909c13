#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/MandatoryPermissionProbe.hpp"

namespace quillbridge {

// The grants of another probe, read on a thread of its own so that no caller waits on the platform (the X11
// probe opens a display connection and makes round trips on every call). The first reading starts at
// construction; until it is in, a question waits for it, and afterwards every answer is the last reading at
// once, each question asking for a fresh reading behind it (questions that come together share one). A
// reading that changes a grant calls the change handler; requests run on the thread too.
class CachedMandatoryPermissionProbe final : public MandatoryPermissionProbe {
public:
    explicit CachedMandatoryPermissionProbe(std::unique_ptr<MandatoryPermissionProbe> probe);
    ~CachedMandatoryPermissionProbe() override;
    CachedMandatoryPermissionProbe(const CachedMandatoryPermissionProbe&) = delete;
    CachedMandatoryPermissionProbe& operator=(const CachedMandatoryPermissionProbe&) = delete;

    bool isScreenCaptureGranted() override;
    void requestScreenCaptureAccess() override;
    bool isSyntheticInputGranted() override;
    void requestSyntheticInputAccess() override;

    // Called on the probe's thread after each reading that changed a grant (the first reading changes
    // nothing). Set it before the answers matter; it must not call back into the probe synchronously.
    void setChangeHandler(std::function<void()> handler);
    // Called once on the probe's thread when the first reading is in, or at once when it already is.
    void whenFirstRead(std::function<void()> handler);

private:
    struct Grants {
        bool screenCapture = false;
        bool syntheticInput = false;
        bool operator==(const Grants&) const = default;
    };

    Grants answer();
    void run();

    std::unique_ptr<MandatoryPermissionProbe> probe_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable firstRead_;
    bool hasRead_ = false;
    bool readRequested_ = true;
    bool screenCaptureRequested_ = false;
    bool syntheticInputRequested_ = false;
    bool stopping_ = false;
    Grants grants_;
    std::function<void()> changeHandler_;
    std::vector<std::function<void()>> firstReadHandlers_;
    std::thread thread_;
};

}  // namespace quillbridge
