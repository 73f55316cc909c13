#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "capture/VirtualMicrophonePacket.hpp"
#include "core/SerialQueue.hpp"

namespace quillbridge {

// The mailbox of microphone packets from the headset on their way to the virtual microphone: at most 2880
// frames wait (the oldest packets are dropped), and a packet that starts a new timeline discards everything
// pending. The consumer runs on the given serial queue, one packet at a time, in enqueue order, outside the
// lock. Copies share one mailbox.
class VirtualMicrophoneAudioDispatcher {
public:
    using ConsumePacket = std::function<void(VirtualMicrophonePacket)>;

    static constexpr std::int64_t maximumPendingFrameCount = 2880;

    // The queue must outlive every drain this mailbox schedules on it.
    VirtualMicrophoneAudioDispatcher(SerialQueue& queue, ConsumePacket consumePacket);

    // Queues the packet and schedules a drain when none runs. Always accepts (true).
    bool enqueue(VirtualMicrophonePacket packet) const;
    // Drops every pending packet.
    void removeAll() const;

    std::int64_t pendingFrameCount() const;
    std::size_t pendingPacketCount() const;
    bool isDraining() const;

private:
    struct Storage {
        std::mutex lock;
        std::deque<VirtualMicrophonePacket> pendingPackets;
        std::int64_t pendingFrameCount = 0;
        bool isDraining = false;
    };

    static void drain(const std::shared_ptr<Storage>& storage, const ConsumePacket& consumePacket);

    SerialQueue* queue_;
    ConsumePacket consumePacket_;
    std::shared_ptr<Storage> storage_;
};

}  // namespace quillbridge
