#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/ScreenRecorderSession.hpp"

namespace quillbridge {

// A session that records the recorder's calls, in order, as short names ("startListening", "stop",
// "encode", ...). The test sets whether a headset is connected and feeds the two streams itself.
class FakeScreenRecorderSession final : public ScreenRecorderSession {
public:
    AsyncStream<State>& updates() override { return updates_; }
    AsyncStream<StreamConfigurationMessage>& configurations() override { return configurations_; }

    asio::awaitable<bool> hasConnection() override { co_return connected; }
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
};

}  // namespace quillbridge
