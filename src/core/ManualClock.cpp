#include "core/ManualClock.hpp"

#include <vector>

namespace quillbridge {

ManualClock::ManualClock(TimePoint start) : shared_(std::make_shared<Shared>()) {
    shared_->now = start;
}

ManualClock::~ManualClock() {
    std::map<Shared::Key, Completion> remaining;
    {
        std::lock_guard lock(shared_->mutex);
        remaining.swap(shared_->sleepers);
    }
    for (auto& [key, completion] : remaining)
        completion.complete(asio::error::operation_aborted);
}

Clock::TimePoint ManualClock::now() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->now;
}

void ManualClock::startSleep(const std::shared_ptr<Shared>& shared, TimePoint deadline,
                             asio::cancellation_slot slot, Completion completion) {
    std::unique_lock lock(shared->mutex);
    if (deadline <= shared->now) {
        lock.unlock();
        completion.complete(asio::error_code{});
        return;
    }
    Shared::Key key{deadline, shared->nextSequence++};
    // The slot is only touched on the sleeper's executor, where this runs and where cancellation is emitted,
    // so nothing can fire it between here and the insertion below.
    if (slot.is_connected()) {
        slot.assign([weak = std::weak_ptr<Shared>(shared), key](asio::cancellation_type type) {
            if (!endsWait(type))
                return;
            auto shared = weak.lock();
            if (!shared)
                return;
            Completion cancelled;
            {
                std::lock_guard lock(shared->mutex);
                auto found = shared->sleepers.find(key);
                // Already taken by advance(): that completion stands, so the sleeper resumes exactly once.
                if (found == shared->sleepers.end())
                    return;
                cancelled = std::move(found->second);
                shared->sleepers.erase(found);
            }
            cancelled.complete(asio::error::operation_aborted);
        });
    }
    shared->sleepers.emplace(key, std::move(completion));
}

void ManualClock::advance(Duration duration) {
    if (duration < Duration::zero())
        return;
    std::unique_lock lock(shared_->mutex);
    shared_->now += duration;
    resumeDueSleepers(std::move(lock));
}

void ManualClock::advanceTo(TimePoint time) {
    std::unique_lock lock(shared_->mutex);
    if (time > shared_->now)
        shared_->now = time;
    resumeDueSleepers(std::move(lock));
}

void ManualClock::resumeDueSleepers(std::unique_lock<std::mutex> lock) {
    std::vector<Completion> due;
    auto& sleepers = shared_->sleepers;
    while (!sleepers.empty() && sleepers.begin()->first.first <= shared_->now) {
        due.push_back(std::move(sleepers.begin()->second));
        sleepers.erase(sleepers.begin());
    }
    lock.unlock();
    // Posted in deadline order; sleepers sharing an executor resume in that order.
    for (auto& completion : due)
        completion.complete(asio::error_code{});
}

std::size_t ManualClock::pendingSleeperCount() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->sleepers.size();
}

std::optional<Clock::TimePoint> ManualClock::nextDeadline() const {
    std::lock_guard lock(shared_->mutex);
    if (shared_->sleepers.empty())
        return std::nullopt;
    return shared_->sleepers.begin()->first.first;
}

}  // namespace quillbridge
