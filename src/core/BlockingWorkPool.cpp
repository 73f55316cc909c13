#include "core/BlockingWorkPool.hpp"

#include <algorithm>

#include "core/Logger.hpp"

namespace quillbridge {

namespace {

const Logger logger{"BlockingWorkPool"};

}  // namespace

BlockingWorkPool::BlockingWorkPool(std::size_t threadCount, std::size_t queueCapacity)
    : queueCapacity_(std::max<std::size_t>(queueCapacity, 1)) {
    threadCount = std::max<std::size_t>(threadCount, 1);
    workers_.reserve(threadCount);
    for (std::size_t index = 0; index < threadCount; ++index)
        workers_.emplace_back([this] { runWorker(); });
}

BlockingWorkPool::~BlockingWorkPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& worker : workers_)
        worker.join();
}

bool BlockingWorkPool::tryPost(std::move_only_function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || queue_.size() >= queueCapacity_)
            return false;
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
    return true;
}

void BlockingWorkPool::runWorker() {
    for (;;) {
        std::move_only_function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            // Work already queued still runs when the pool stops: its waiters are owed an answer.
            if (queue_.empty())
                return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            job();
        } catch (const std::exception& exception) {
            logger.error("Blocking work failed: ", exception.what());
        } catch (...) {
            logger.error("Blocking work failed");
        }
    }
}

}  // namespace quillbridge
