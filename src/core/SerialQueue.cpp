#include "core/SerialQueue.hpp"

#include <pthread.h>

#include "core/Logger.hpp"

namespace quillbridge {

SerialQueue::SerialQueue(std::string name) : name_(std::move(name)) {
    workGuard_.emplace(context_.get_executor());
    std::promise<std::thread::id> started;
    auto startedID = started.get_future();
    thread_ = std::thread([this, &started] {
        // Thread names are limited to 15 bytes; longer queue names are cut for the name only.
        pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
        started.set_value(std::this_thread::get_id());
        for (;;) {
            try {
                context_.run();
                return;
            } catch (const std::exception& error) {
                Logger("SerialQueue").fault("Work on queue ", name_, " threw: ", error.what());
            } catch (...) {
                Logger("SerialQueue").fault("Work on queue ", name_, " threw an unknown exception");
            }
        }
    });
    threadID_ = startedID.get();
}

SerialQueue::~SerialQueue() {
    workGuard_.reset();
    if (thread_.joinable()) {
        thread_.join();
    }
}

}  // namespace quillbridge
