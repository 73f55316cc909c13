#include "session/PeerStoreWriteOrder.hpp"

#include <utility>

namespace quillbridge {

PeerStoreWriteOrder::Turn::Turn(Turn&& other) noexcept
    : order_(std::move(other.order_)), number_(other.number_) {}

PeerStoreWriteOrder::Turn& PeerStoreWriteOrder::Turn::operator=(Turn&& other) noexcept {
    if (this != &other) {
        end();
        order_ = std::move(other.order_);
        number_ = other.number_;
    }
    return *this;
}

void PeerStoreWriteOrder::Turn::wait() const {
    if (order_) {
        order_->waitFor(number_);
    }
}

void PeerStoreWriteOrder::Turn::end() {
    if (auto order = std::move(order_)) {
        order->finish(number_);
    }
}

PeerStoreWriteOrder::Turn PeerStoreWriteOrder::take() {
    std::lock_guard lock(mutex_);
    return Turn(shared_from_this(), nextTurn_++);
}

void PeerStoreWriteOrder::waitFor(std::uint64_t number) {
    std::unique_lock lock(mutex_);
    turnEnded_.wait(lock, [&] { return firstOpenTurn_ == number; });
}

void PeerStoreWriteOrder::finish(std::uint64_t number) {
    {
        std::lock_guard lock(mutex_);
        endedOutOfOrder_.insert(number);
        while (endedOutOfOrder_.erase(firstOpenTurn_) > 0) {
            ++firstOpenTurn_;
        }
    }
    turnEnded_.notify_all();
}

}  // namespace quillbridge
