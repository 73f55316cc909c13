#pragma once

// The broadcaster fixture with a fake desktop clipboard and keyboard, and helpers for the streams a
// headset opens.

#include <algorithm>
#include <string>
#include <vector>

#include "core/Logger.hpp"
#include "session/ScreenStreamBroadcasterFixture.hpp"
#include "support/session/FakeClipboardTransferService.hpp"
#include "support/session/FakeKeyboardLayoutChangeObserver.hpp"
#include "support/session/FakeKeyboardReportingService.hpp"
#include "wire/ClipboardPayloadStreamCodec.hpp"
#include "wire/ClipboardPayloadStreamHeader.hpp"

namespace quillbridge {

class ScreenStreamBroadcasterStreamsFixture : public ScreenStreamBroadcasterFixture {
protected:
    void adjust(ScreenStreamBroadcasterDependencies& dependencies) override {
        dependencies.clipboard = &clipboard;
        dependencies.keyboardReporting = &keyboard;
        dependencies.keyboardLayoutChanges = &layoutChanges;
    }

    void SetUp() override {
        ScreenStreamBroadcasterFixture::SetUp();
        startListening();
        updates();
    }

    Headset authorizedHeadset() {
        auto headset = connect();
        EXPECT_TRUE(Access::hasConnection(*broadcaster));
        authorize();
        return headset;
    }

    // A stream the headset opens and starts with these bytes.
    std::shared_ptr<QuicStream> openStream(
        Headset& headset, Bytes firstBytes, bool endOfStream = false,
        QuicStreamDirectionality directionality = QuicStreamDirectionality::bidirectional) {
        auto stream = run(headset.connection->openStream(directionality));
        run(stream->send(std::move(firstBytes), endOfStream));
        drain();
        return stream;
    }

    // Every control message the host has sent so far.
    std::vector<StreamControlMessage> messages(Headset& headset) {
        std::vector<StreamControlMessage> all;
        while (auto message = receive(headset)) {
            all.push_back(std::move(*message));
        }
        return all;
    }

    template <Case C>
    static std::vector<StreamControlMessage::PayloadType<C>> only(
        const std::vector<StreamControlMessage>& all) {
        std::vector<StreamControlMessage::PayloadType<C>> matching;
        for (const auto& message : all) {
            if (auto payload = message.template get<C>()) {
                matching.push_back(*payload);
            }
        }
        return matching;
    }

    static bool contains(const std::vector<std::string>& lines, const std::string& prefix) {
        return std::ranges::any_of(lines, [&](const std::string& line) { return line.starts_with(prefix); });
    }

    // Whether the headset's sending side was stopped by the host (a further send fails).
    bool sendingWasStopped(QuicStream& stream) {
        try {
            run(stream.send(Bytes(1, 0), false));
            return false;
        } catch (const std::system_error&) {
            return true;
        }
    }

    FakeClipboardTransferService clipboard;
    FakeKeyboardReportingService keyboard;
    FakeKeyboardLayoutChangeObserver layoutChanges;
};

}  // namespace quillbridge
