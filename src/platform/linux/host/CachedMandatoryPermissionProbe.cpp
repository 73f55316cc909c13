#include "platform/linux/host/CachedMandatoryPermissionProbe.hpp"

#include <utility>

namespace quillbridge {

CachedMandatoryPermissionProbe::CachedMandatoryPermissionProbe(
    std::unique_ptr<MandatoryPermissionProbe> probe)
    : probe_(std::move(probe)), thread_([this] { run(); }) {}

CachedMandatoryPermissionProbe::~CachedMandatoryPermissionProbe() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

CachedMandatoryPermissionProbe::Grants CachedMandatoryPermissionProbe::answer() {
    std::unique_lock lock(mutex_);
    firstRead_.wait(lock, [this] { return hasRead_ || stopping_; });
    readRequested_ = true;
    wake_.notify_all();
    return grants_;
}

bool CachedMandatoryPermissionProbe::isScreenCaptureGranted() {
    return answer().screenCapture;
}

bool CachedMandatoryPermissionProbe::isSyntheticInputGranted() {
    return answer().syntheticInput;
}

void CachedMandatoryPermissionProbe::requestScreenCaptureAccess() {
    std::lock_guard lock(mutex_);
    screenCaptureRequested_ = true;
    readRequested_ = true;
    wake_.notify_all();
}

void CachedMandatoryPermissionProbe::requestSyntheticInputAccess() {
    std::lock_guard lock(mutex_);
    syntheticInputRequested_ = true;
    readRequested_ = true;
    wake_.notify_all();
}

void CachedMandatoryPermissionProbe::setChangeHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    changeHandler_ = std::move(handler);
}

void CachedMandatoryPermissionProbe::whenFirstRead(std::function<void()> handler) {
    {
        std::lock_guard lock(mutex_);
        if (!hasRead_) {
            firstReadHandlers_.push_back(std::move(handler));
            return;
        }
    }
    handler();
}

void CachedMandatoryPermissionProbe::run() {
    for (;;) {
        bool requestScreen = false;
        bool requestInput = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return readRequested_ || stopping_; });
            if (stopping_) {
                return;
            }
            readRequested_ = false;
            std::swap(requestScreen, screenCaptureRequested_);
            std::swap(requestInput, syntheticInputRequested_);
        }
        if (requestScreen) {
            probe_->requestScreenCaptureAccess();
        }
        if (requestInput) {
            probe_->requestSyntheticInputAccess();
        }
        const Grants read{probe_->isScreenCaptureGranted(), probe_->isSyntheticInputGranted()};
        std::function<void()> changed;
        std::vector<std::function<void()>> firstRead;
        {
            std::lock_guard lock(mutex_);
            if (hasRead_ && read != grants_) {
                changed = changeHandler_;
            }
            grants_ = read;
            if (!hasRead_) {
                hasRead_ = true;
                firstRead = std::move(firstReadHandlers_);
            }
        }
        firstRead_.notify_all();
        for (auto& handler : firstRead) {
            handler();
        }
        if (changed) {
            changed();
        }
    }
}

}  // namespace quillbridge
