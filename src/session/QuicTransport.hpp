#pragma once

#include <memory>

#include <asio/awaitable.hpp>

#include "session/QuicConnection.hpp"
#include "session/QuicError.hpp"
#include "session/QuicListener.hpp"
#include "session/QuicStream.hpp"

namespace quillbridge {

// The QUIC transport the session listens with: QUIC v1 over UDP, TLS 1.3, one ALPN, a required client
// certificate, unreliable datagrams. Member functions may be called from any thread.
class QuicTransport {
public:
    virtual ~QuicTransport() = default;

    // Starts listening. Throws std::system_error when the port cannot be bound or is already listened on.
    virtual asio::awaitable<std::unique_ptr<QuicListener>> listen(QuicListenerParameters parameters) = 0;
};

}  // namespace quillbridge
