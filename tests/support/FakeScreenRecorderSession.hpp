#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/ScreenRecorderSession.hpp"

namespace quillbridge {

// A session that records the recorder's calls, in order, as short names ("startListening", "stop",
// "encode", ...). The test sets whether a headset is connected and the paired peers, and feeds the streams
// itself.
class FakeScreenRecorderSession final : public ScreenRecorderSession {
public:
    AsyncStream<State>& updates() override { return updates_; }
    AsyncStream<StreamConfigurationMessage>& configurations() override { return configurations_; }
    AsyncStream<std::optional<PairingPrompt>>& pairingPrompts() override { return pairingPrompts_; }
    AsyncStream<bool>& personaCameraSharingStates() override { return personaCameraSharingStates_; }
    AsyncStream<bool>& microphoneSharingStates() override { return microphoneSharingStates_; }
    AsyncStream<std::monostate>& pairedPeerChanges() override { return pairedPeerChanges_; }

    asio::awaitable<bool> hasConnection() override {
        if (beforeConnectionAnswer) {
            co_await beforeConnectionAnswer();
        }
        co_return connected;
    }
    asio::awaitable<void> startObservingKeyboardLayoutChanges() override {
        record("observeKeyboard");
        co_return;
    }
    asio::awaitable<void> startListening() override {
        record("startListening");
        co_return;
    }
    asio::awaitable<void> restartListening() override {
        record("restartListening");
        co_return;
    }
    asio::awaitable<void> stopListeningIfNotConnected() override {
        record("stopListeningIfNotConnected");
        co_return;
    }
    asio::awaitable<void> stop() override {
        if (beforeStop) {
            co_await beforeStop();
        }
        record("stop");
        connected = false;
        co_return;
    }
    asio::awaitable<void> endSessionKeepingListener() override {
        record("endSession");
        connected = false;
        co_return;
    }
    asio::awaitable<bool> wakeDisplayForActiveConnection() override {
        record("wakeDisplay");
        co_return connected&& displayStaysAwake;
    }
    asio::awaitable<bool> peerToPeerEnabled() override { co_return peerToPeer; }
    asio::awaitable<void> setPeerToPeerEnabled(bool enabled) override {
        record(enabled ? "peerToPeer=on" : "peerToPeer=off");
        peerToPeer = enabled;
        co_return;
    }
    asio::awaitable<void> encodeOrDeferVideoFrame(std::shared_ptr<const CapturedVideoFrame>) override {
        record("encode");
        co_return;
    }
    asio::awaitable<void> completePendingFrames() override {
        record("completePendingFrames");
        co_return;
    }
    asio::awaitable<void> sendAudioBuffer(std::shared_ptr<const AudioPCMBuffer>) override {
        record("sendAudio");
        co_return;
    }
    asio::awaitable<void> updateCapturedDisplay(CapturedDisplayReport report) override {
        record("updateCapturedDisplay");
        displayReports.push_back(report);
        co_return;
    }
    asio::awaitable<void> applyVideoCodec(StreamCodec codec) override {
        record(codec == StreamCodec::hevc ? "codec=hevc" : "codec=h264");
        co_return;
    }
    asio::awaitable<void> applyFrameRate(int framesPerSecond) override {
        record("fps=" + std::to_string(framesPerSecond));
        co_return;
    }
    asio::awaitable<void> requestVideoEncodingPipelineReset() override {
        record("pipelineReset");
        co_return;
    }

    asio::awaitable<void> submitPairingCode(std::string code) override {
        record("submitPairingCode=" + code);
        co_return;
    }
    asio::awaitable<void> cancelPairing() override {
        record("cancelPairing");
        co_return;
    }
    asio::awaitable<void> forgetPairedPeer(Uuid id) override {
        record("forgetPairedPeer");
        std::erase_if(peers, [&](const PairedPeerRecord& peer) { return peer.id == id; });
        co_return;
    }
    asio::awaitable<std::vector<PairedPeerRecord>> pairedPeers() override {
        ++pairedPeerReads;
        co_return peers;
    }
    asio::awaitable<void> setPersonaCameraRequested(bool isRequested, std::uint64_t revision) override {
        record(std::string(isRequested ? "camera=on#" : "camera=off#") + std::to_string(revision));
        cameraRequests.emplace_back(isRequested, revision);
        co_return;
    }
    asio::awaitable<void> setMicrophoneRequested(bool isRequested, std::uint64_t revision) override {
        record(std::string(isRequested ? "microphone=on#" : "microphone=off#") + std::to_string(revision));
        microphoneRequests.emplace_back(isRequested, revision);
        co_return;
    }

    // The calls whose name is in the list, in order.
    std::vector<std::string> callsAmong(const std::vector<std::string>& names) const {
        std::vector<std::string> selected;
        for (const auto& call : calls) {
            for (const auto& name : names) {
                if (call == name) {
                    selected.push_back(call);
                }
            }
        }
        return selected;
    }
    int count(const std::string& name) const {
        int total = 0;
        for (const auto& call : calls) {
            total += call == name ? 1 : 0;
        }
        return total;
    }

    bool connected = false;
    bool peerToPeer = false;
    bool displayStaysAwake = true;
    std::vector<std::string> calls;
    std::vector<CapturedDisplayReport> displayReports;
    // What pairedPeers() returns; forgetPairedPeer() removes from it.
    std::vector<PairedPeerRecord> peers;
    int pairedPeerReads = 0;
    // The camera and microphone requests, as (requested, revision), in order.
    std::vector<std::pair<bool, std::uint64_t>> cameraRequests;
    std::vector<std::pair<bool, std::uint64_t>> microphoneRequests;
    // Awaited before hasConnection() answers (a session busy on its own actor); the answer is read after.
    std::function<asio::awaitable<void>()> beforeConnectionAnswer;
    // Awaited before stop() takes effect: a test holds the session's end there.
    std::function<asio::awaitable<void>()> beforeStop;
    // Called with each call's name as it is made.
    std::function<void(const std::string&)> onCall;
    // Shared with other fakes that want to record into the same journal.
    std::shared_ptr<std::vector<std::string>> journal;

private:
    void record(std::string call) {
        if (journal) {
            journal->push_back("session." + call);
        }
        if (onCall) {
            onCall(call);
        }
        calls.push_back(std::move(call));
    }

    AsyncStream<State> updates_;
    AsyncStream<StreamConfigurationMessage> configurations_;
    AsyncStream<std::optional<PairingPrompt>> pairingPrompts_;
    AsyncStream<bool> personaCameraSharingStates_;
    AsyncStream<bool> microphoneSharingStates_;
    AsyncStream<std::monostate> pairedPeerChanges_;
};

}  // namespace quillbridge
