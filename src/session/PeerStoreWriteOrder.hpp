#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>

namespace quillbridge {

// Keeps writes of the paired-peer list in the order they were issued while they run on blocking-work
// workers. Each write reads the list, changes it and saves it; two of them at once on two workers would lose
// one change, and a later one overtaking an earlier one (forgetting a headset while its record is being
// updated) would bring back what the user removed. A write takes a turn where it is issued, and its worker
// waits until every earlier turn has ended before it touches the store.
class PeerStoreWriteOrder : public std::enable_shared_from_this<PeerStoreWriteOrder> {
public:
    // One write's place in the order. Move-only; it ends when end() is called or when it is destroyed,
    // so a write that never runs (its job dropped by a full pool) does not hold back the writes after it.
    class Turn {
    public:
        Turn() = default;
        Turn(Turn&& other) noexcept;
        Turn& operator=(Turn&& other) noexcept;
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        ~Turn() { end(); }

        // Blocks the calling worker until every earlier turn has ended.
        void wait() const;
        void end();

    private:
        friend class PeerStoreWriteOrder;
        Turn(std::shared_ptr<PeerStoreWriteOrder> order, std::uint64_t number)
            : order_(std::move(order)), number_(number) {}

        std::shared_ptr<PeerStoreWriteOrder> order_;
        std::uint64_t number_ = 0;
    };

    static std::shared_ptr<PeerStoreWriteOrder> create() {
        return std::shared_ptr<PeerStoreWriteOrder>(new PeerStoreWriteOrder());
    }

    // The next turn, in the order of the calls.
    Turn take();

private:
    PeerStoreWriteOrder() = default;
    void waitFor(std::uint64_t number);
    void finish(std::uint64_t number);

    std::mutex mutex_;
    std::condition_variable turnEnded_;
    std::uint64_t nextTurn_ = 0;
    // Every turn below this one has ended.
    std::uint64_t firstOpenTurn_ = 0;
    // Turns that ended before an earlier one did.
    std::set<std::uint64_t> endedOutOfOrder_;
};

}  // namespace quillbridge
