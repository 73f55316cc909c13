// Feeds arbitrary bytes to the control stream reader and the control message decoder, as a peer could.
// Every message that decodes must encode again and decode to an equal message, and no text with a raw
// NUL byte may decode.
#include <algorithm>
#include <cstdlib>

#include "support/InMemoryByteStream.hpp"
#include "support/RunAwaitable.hpp"
#include "wire/ControlMessageFraming.hpp"
#include "wire/StreamControlMessage.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillbridge;
    InMemoryByteStream stream(Bytes(data, data + size));
    for (;;) {
        Bytes body;
        try {
            body = runAwaitable(ControlMessageFraming::readMessageData(stream));
        } catch (const ControlMessageFramingError&) {
            return 0;
        }
        auto message = decodeJson<StreamControlMessage>(asText(body));
        if (!message)
            continue;
        if (std::find(body.begin(), body.end(), std::uint8_t{0}) != body.end())
            std::abort();
        // Re-encoded text may be longer than what came in (1e9 is written out in full), so it is
        // compared unframed.
        auto text = encodeJson(*message);
        if (!text)
            std::abort();
        auto reread = decodeJson<StreamControlMessage>(*text);
        if (!reread || !(*reread == *message))
            std::abort();
    }
}
