#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include <asio/async_result.hpp>
#include <asio/awaitable.hpp>
#include <asio/error.hpp>
#include <asio/use_awaitable.hpp>

#include "core/PendingCompletion.hpp"

namespace quillbridge {

// An asynchronous stream of values between coroutines. With capacity 0 a send waits for a receiver; with
// capacity n up to n values wait in a buffer; AsyncChannel::unbounded never makes a sender wait.
//
// Thread-safe: senders and receivers may run on any executors; each resumes on its own. Values arrive in the
// order they were sent; waiting receivers are served in the order they started waiting, and so are waiting
// senders. A cancelled send or receive throws asio::system_error(operation_aborted) and changes nothing else
// (a cancelled send's value is dropped; a cancelled receive takes no value).
//
// Closing ends the stream: waiting senders resume with false, later sends are refused, receivers still get
// the values already buffered and then nothing. Destroying the channel closes it.
//
// (Asio 1.22's experimental::channel is not used: its close() leaves waiting senders parked forever and drops
// buffered values, and cancelling one receive turns a buffered channel into an unbuffered one for good.)
template <class T>
class AsyncChannel {
public:
    static constexpr std::size_t unbounded = std::numeric_limits<std::size_t>::max();

    explicit AsyncChannel(std::size_t capacity = 0) : shared_(std::make_shared<Shared>()) {
        shared_->capacity = capacity;
    }
    ~AsyncChannel() { close(); }
    AsyncChannel(const AsyncChannel&) = delete;
    AsyncChannel& operator=(const AsyncChannel&) = delete;

    // Delivers the value, waiting while the buffer is full; false (value dropped) once the channel is closed.
    asio::awaitable<bool> send(T value) {
        return asio::async_initiate<const asio::use_awaitable_t<>&, void(asio::error_code, bool)>(
            [shared = shared_, value = std::move(value)](auto handler) mutable {
                asio::cancellation_slot slot = asio::get_associated_cancellation_slot(handler);
                startSend(shared, std::move(value), slot, SendCompletion(std::move(handler)));
            },
            asio::use_awaitable);
    }

    // Delivers the value if that needs no waiting (a receiver waits or the buffer has room); false otherwise.
    bool trySend(T value) {
        ReceiveCompletion receiver;
        {
            std::lock_guard lock(shared_->mutex);
            if (shared_->closed)
                return false;
            if (shared_->receivers.empty()) {
                if (shared_->buffer.size() >= shared_->capacity)
                    return false;
                shared_->buffer.push_back(std::move(value));
                return true;
            }
            receiver = takeFirst(shared_->receivers);
        }
        receiver.complete(asio::error_code{}, std::optional<T>(std::move(value)));
        return true;
    }

    // The next value, or nothing once the channel is closed and its buffer drained.
    asio::awaitable<std::optional<T>> receive() {
        return asio::async_initiate<const asio::use_awaitable_t<>&, void(asio::error_code, std::optional<T>)>(
            [shared = shared_](auto handler) {
                asio::cancellation_slot slot = asio::get_associated_cancellation_slot(handler);
                startReceive(shared, slot, ReceiveCompletion(std::move(handler)));
            },
            asio::use_awaitable);
    }

    void close() {
        std::map<std::uint64_t, ReceiveCompletion> receivers;
        std::map<std::uint64_t, PendingSend> senders;
        {
            std::lock_guard lock(shared_->mutex);
            shared_->closed = true;
            receivers.swap(shared_->receivers);
            senders.swap(shared_->senders);
        }
        for (auto& [id, receiver] : receivers)
            receiver.complete(asio::error_code{}, std::nullopt);
        for (auto& [id, sender] : senders)
            sender.completion.complete(asio::error_code{}, false);
    }

    bool isOpen() const {
        std::lock_guard lock(shared_->mutex);
        return !shared_->closed;
    }

    std::size_t bufferedCount() const {
        std::lock_guard lock(shared_->mutex);
        return shared_->buffer.size();
    }

private:
    using ReceiveCompletion = PendingCompletion<asio::error_code, std::optional<T>>;
    using SendCompletion = PendingCompletion<asio::error_code, bool>;

    struct PendingSend {
        T value;
        SendCompletion completion;
    };

    // Invariant: receivers wait only while the buffer is empty and no sender waits; senders wait only while
    // the buffer is full and no receiver waits.
    struct Shared {
        mutable std::mutex mutex;
        std::size_t capacity = 0;
        bool closed = false;
        std::deque<T> buffer;
        std::uint64_t nextWaiterID = 0;
        std::map<std::uint64_t, ReceiveCompletion> receivers;
        std::map<std::uint64_t, PendingSend> senders;
    };

    template <class Map>
    static typename Map::mapped_type takeFirst(Map& map) {
        auto first = map.begin();
        auto taken = std::move(first->second);
        map.erase(first);
        return taken;
    }

    // Cancelling a wait removes it, unless a send, receive or close has already taken it (that result
    // stands).
    template <class Map, class Abort>
    static void assignCancellation(asio::cancellation_slot slot, const std::shared_ptr<Shared>& shared,
                                   Map Shared::*waiters, std::uint64_t id, Abort abort) {
        if (!slot.is_connected())
            return;
        slot.assign([weak = std::weak_ptr<Shared>(shared), waiters, id, abort](asio::cancellation_type type) {
            if (!endsWait(type))
                return;
            auto shared = weak.lock();
            if (!shared)
                return;
            std::optional<typename Map::mapped_type> cancelled;
            {
                std::lock_guard lock(shared->mutex);
                auto found = ((*shared).*waiters).find(id);
                if (found == ((*shared).*waiters).end())
                    return;
                cancelled.emplace(std::move(found->second));
                ((*shared).*waiters).erase(found);
            }
            abort(*cancelled);
        });
    }

    static void startSend(const std::shared_ptr<Shared>& shared, T value, asio::cancellation_slot slot,
                          SendCompletion completion) {
        std::unique_lock lock(shared->mutex);
        if (shared->closed) {
            lock.unlock();
            completion.complete(asio::error_code{}, false);
            return;
        }
        if (!shared->receivers.empty()) {
            auto receiver = takeFirst(shared->receivers);
            lock.unlock();
            receiver.complete(asio::error_code{}, std::optional<T>(std::move(value)));
            completion.complete(asio::error_code{}, true);
            return;
        }
        if (shared->buffer.size() < shared->capacity) {
            shared->buffer.push_back(std::move(value));
            lock.unlock();
            completion.complete(asio::error_code{}, true);
            return;
        }
        auto id = shared->nextWaiterID++;
        assignCancellation(slot, shared, &Shared::senders, id, [](PendingSend& sender) {
            sender.completion.complete(asio::error::operation_aborted, false);
        });
        shared->senders.emplace(id, PendingSend{std::move(value), std::move(completion)});
    }

    static void startReceive(const std::shared_ptr<Shared>& shared, asio::cancellation_slot slot,
                             ReceiveCompletion completion) {
        std::unique_lock lock(shared->mutex);
        std::optional<T> value;
        SendCompletion releasedSender;
        if (!shared->buffer.empty()) {
            value.emplace(std::move(shared->buffer.front()));
            shared->buffer.pop_front();
            // Room in the buffer: the first waiting sender's value moves in and that sender resumes.
            if (!shared->senders.empty()) {
                auto sender = takeFirst(shared->senders);
                shared->buffer.push_back(std::move(sender.value));
                releasedSender = std::move(sender.completion);
            }
        } else if (!shared->senders.empty()) {
            auto sender = takeFirst(shared->senders);
            value.emplace(std::move(sender.value));
            releasedSender = std::move(sender.completion);
        } else if (!shared->closed) {
            auto id = shared->nextWaiterID++;
            assignCancellation(slot, shared, &Shared::receivers, id, [](ReceiveCompletion& receiver) {
                receiver.complete(asio::error::operation_aborted, std::nullopt);
            });
            shared->receivers.emplace(id, std::move(completion));
            return;
        }
        lock.unlock();
        if (releasedSender)
            releasedSender.complete(asio::error_code{}, true);
        completion.complete(asio::error_code{}, std::move(value));
    }

    std::shared_ptr<Shared> shared_;
};

}  // namespace quillbridge
