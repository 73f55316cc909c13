#include "session/InboundMediaStreamSlots.hpp"

namespace quillbridge {

InboundMediaStreamSlots::Claim::Claim(Claim&& other) noexcept
    : slots_(std::exchange(other.slots_, nullptr)), kind_(other.kind_), holder_(other.holder_) {}

InboundMediaStreamSlots::Claim& InboundMediaStreamSlots::Claim::operator=(Claim&& other) noexcept {
    if (this != &other) {
        release();
        slots_ = std::exchange(other.slots_, nullptr);
        kind_ = other.kind_;
        holder_ = other.holder_;
    }
    return *this;
}

void InboundMediaStreamSlots::Claim::release() {
    if (auto* slots = std::exchange(slots_, nullptr)) {
        auto& slot = slots->slot(kind_);
        if (slot == holder_) {
            slot.reset();
        }
    }
}

std::optional<InboundMediaStreamSlots::Claim> InboundMediaStreamSlots::claim(InboundStreamKind kind,
                                                                             const QuicStream& stream,
                                                                             const Uuid& sessionID,
                                                                             Refusal* refusal) {
    if (stream.directionality() != QuicStreamDirectionality::unidirectional || stream.isLocallyInitiated()) {
        *refusal = Refusal::notUnidirectionalFromTheHeadset;
        return std::nullopt;
    }
    auto& slot = this->slot(kind);
    if (slot && slot->sessionID == sessionID) {
        *refusal = Refusal::alreadyOpen;
        return std::nullopt;
    }
    Holder holder{sessionID, stream.id()};
    slot = holder;
    return Claim(this, kind, std::move(holder));
}

std::string InboundMediaStreamSlots::refusalText(InboundStreamKind kind, Refusal refusal) {
    const std::string name = kind == InboundStreamKind::microphone ? "microphone" : "Persona camera";
    switch (refusal) {
        case Refusal::notUnidirectionalFromTheHeadset:
            return "Refused a " + name + " stream that is not unidirectional from the headset";
        case Refusal::alreadyOpen:
            return "Refused a second " + name + " stream while one is open";
    }
    return "Refused a " + name + " stream";
}

}  // namespace quillbridge
