#include "capture/ScreenRecorder.hpp"

#include <algorithm>
#include <utility>

namespace quillbridge {

namespace {

bool sameRecords(const std::vector<PairedPeerRecord>& left, const std::vector<PairedPeerRecord>& right) {
    return std::ranges::equal(left, right, [](const PairedPeerRecord& a, const PairedPeerRecord& b) {
        return a.id == b.id && a.name == b.name && a.signingPublicKey == b.signingPublicKey &&
               a.tlsCertificate == b.tlsCertificate && a.lastSeenAt == b.lastSeenAt;
    });
}

}  // namespace

void ScreenRecorder::assignPairedPeers(std::vector<PairedPeerRecord> peers) {
    if (sameRecords(pairedPeers_, peers)) {
        return;
    }
    pairedPeers_ = std::move(peers);
    notify(ScreenRecorderProperty::pairedPeers);
}

void ScreenRecorder::handlePairingPrompt(std::optional<PairingPrompt> prompt) {
    assign(pairingPrompt_, std::move(prompt), ScreenRecorderProperty::pairingPrompt);
}

asio::awaitable<void> ScreenRecorder::submitPairingCode(std::string code) {
    co_await session_->submitPairingCode(std::move(code));
}

asio::awaitable<void> ScreenRecorder::cancelPairing() {
    co_await session_->cancelPairing();
}

asio::awaitable<void> ScreenRecorder::forgetPairedPeer(Uuid id) {
    co_await session_->forgetPairedPeer(id);
    co_await reloadPairedPeers();
}

asio::awaitable<void> ScreenRecorder::reloadPairedPeers() {
    auto peers = co_await session_->pairedPeers();
    assignPairedPeers(std::move(peers));
}

}  // namespace quillbridge
