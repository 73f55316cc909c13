#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "core/Uuid.hpp"
#include "session/QuicStream.hpp"
#include "wire/InboundStreamKind.hpp"

namespace quillbridge {

// Which Persona camera and microphone streams a session reads: one of each at a time, unidirectional and
// opened by the headset. Each may hold a frame of up to 8 MiB in flight, so without this a headset could
// make the host buffer one such frame per stream it is allowed to open. A stream is admitted by claim() and
// keeps its kind's slot until its Claim goes; a claim left over from an earlier session neither keeps a
// later session's stream out nor frees its slot. Used on the session's strand only.
class InboundMediaStreamSlots {
public:
    enum class Refusal {
        // The stream can also carry data from the host: not a media stream.
        notUnidirectionalFromTheHeadset,
        // A stream of this kind is already open in the session.
        alreadyOpen,
    };

    // Which stream of which session holds a slot.
    struct Holder {
        Uuid sessionID;
        std::int64_t streamID = 0;

        bool operator==(const Holder&) const = default;
    };

    // A stream's hold on its slot, released when the claim is destroyed.
    class Claim {
    public:
        Claim() = default;
        Claim(Claim&& other) noexcept;
        Claim& operator=(Claim&& other) noexcept;
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;
        ~Claim() { release(); }

    private:
        friend class InboundMediaStreamSlots;
        Claim(InboundMediaStreamSlots* slots, InboundStreamKind kind, Holder holder)
            : slots_(slots), kind_(kind), holder_(std::move(holder)) {}
        void release();

        InboundMediaStreamSlots* slots_ = nullptr;
        InboundStreamKind kind_ = InboundStreamKind::personaCamera;
        Holder holder_;
    };

    // The claim for a Persona camera or microphone stream of the session, or nothing with `refusal` set.
    std::optional<Claim> claim(InboundStreamKind kind, const QuicStream& stream, const Uuid& sessionID,
                               Refusal* refusal);

    // The log line of a refused stream.
    static std::string refusalText(InboundStreamKind kind, Refusal refusal);

private:
    std::optional<Holder>& slot(InboundStreamKind kind) {
        return kind == InboundStreamKind::microphone ? microphone_ : personaCamera_;
    }

    std::optional<Holder> personaCamera_;
    std::optional<Holder> microphone_;
};

}  // namespace quillbridge
