#include "pairing/PeerCertificateCapture.hpp"

#include <asio/system_error.hpp>
#include <asio/this_coro.hpp>

namespace quillbridge {

bool PeerCertificateCapture::recordHandshakeCertificate(ByteView certificate, Date at) {
    std::lock_guard lock(mutex_);
    if (state_.pendingHandshake &&
        at.secondsSinceReferenceDate - state_.pendingHandshake->recordedAt.secondsSinceReferenceDate >
            stalenessLimitSeconds) {
        state_.pendingHandshake.reset();
    }
    if (state_.isAcceptingConnection || state_.pendingHandshake)
        return false;
    state_.pendingHandshake = PendingHandshake{Bytes(certificate.begin(), certificate.end()), at};
    return true;
}

std::optional<Bytes> PeerCertificateCapture::takePending() {
    std::lock_guard lock(mutex_);
    if (!state_.pendingHandshake)
        return std::nullopt;
    Bytes certificate = std::move(state_.pendingHandshake->certificate);
    state_.pendingHandshake.reset();
    state_.isAcceptingConnection = true;
    return certificate;
}

asio::awaitable<std::optional<Bytes>> PeerCertificateCapture::takeHandshakeCertificate() {
    for (int attempt = 0; attempt < maximumPollCount; ++attempt) {
        auto cancellation = co_await asio::this_coro::cancellation_state;
        if (cancellation.cancelled() != asio::cancellation_type::none)
            co_return std::nullopt;
        if (auto certificate = takePending())
            co_return certificate;
        try {
            co_await clock_.sleepUntil(clock_.now() + pollInterval);
        } catch (const asio::system_error&) {
            co_return std::nullopt;
        }
    }
    co_return std::nullopt;
}

void PeerCertificateCapture::finishAcceptingConnection() {
    std::lock_guard lock(mutex_);
    state_.isAcceptingConnection = false;
}

}  // namespace quillbridge
