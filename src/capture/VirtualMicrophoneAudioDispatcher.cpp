#include "capture/VirtualMicrophoneAudioDispatcher.hpp"

#include <utility>

namespace quillbridge {

VirtualMicrophoneAudioDispatcher::VirtualMicrophoneAudioDispatcher(SerialQueue& queue,
                                                                   ConsumePacket consumePacket)
    : queue_(&queue), consumePacket_(std::move(consumePacket)), storage_(std::make_shared<Storage>()) {}

bool VirtualMicrophoneAudioDispatcher::enqueue(VirtualMicrophonePacket packet) const {
    std::deque<VirtualMicrophonePacket> dropped;
    bool wasDraining = false;
    {
        std::lock_guard lock(storage_->lock);
        auto& pending = storage_->pendingPackets;
        if (packet.startsNewTimeline) {
            dropped.swap(pending);
            storage_->pendingFrameCount = 0;
        }
        while (!pending.empty() &&
               storage_->pendingFrameCount + packet.frameCount > maximumPendingFrameCount) {
            storage_->pendingFrameCount -= pending.front().frameCount;
            dropped.push_back(std::move(pending.front()));
            pending.pop_front();
        }
        storage_->pendingFrameCount += packet.frameCount;
        pending.push_back(std::move(packet));
        wasDraining = std::exchange(storage_->isDraining, true);
    }
    if (!wasDraining) {
        queue_->async([storage = storage_, consume = consumePacket_] { drain(storage, consume); });
    }
    return true;
}

void VirtualMicrophoneAudioDispatcher::drain(const std::shared_ptr<Storage>& storage,
                                             const ConsumePacket& consumePacket) {
    for (;;) {
        VirtualMicrophonePacket packet;
        {
            std::lock_guard lock(storage->lock);
            if (storage->pendingPackets.empty()) {
                storage->isDraining = false;
                return;
            }
            packet = std::move(storage->pendingPackets.front());
            storage->pendingPackets.pop_front();
            storage->pendingFrameCount -= packet.frameCount;
        }
        if (consumePacket) {
            consumePacket(std::move(packet));
        }
    }
}

void VirtualMicrophoneAudioDispatcher::removeAll() const {
    std::deque<VirtualMicrophonePacket> dropped;
    std::lock_guard lock(storage_->lock);
    dropped.swap(storage_->pendingPackets);
    storage_->pendingFrameCount = 0;
}

std::int64_t VirtualMicrophoneAudioDispatcher::pendingFrameCount() const {
    std::lock_guard lock(storage_->lock);
    return storage_->pendingFrameCount;
}

std::size_t VirtualMicrophoneAudioDispatcher::pendingPacketCount() const {
    std::lock_guard lock(storage_->lock);
    return storage_->pendingPackets.size();
}

bool VirtualMicrophoneAudioDispatcher::isDraining() const {
    std::lock_guard lock(storage_->lock);
    return storage_->isDraining;
}

}  // namespace quillbridge
