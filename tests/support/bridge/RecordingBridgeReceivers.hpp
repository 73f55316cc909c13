#pragma once

// Recording stand-ins for the Persona camera and microphone bridge, for the session's tests. Used from the
// test's own thread (the session's strand runs there).

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "bridge/PersonaAVTimingCoordinator.hpp"
#include "bridge/PersonaCameraReceiver.hpp"
#include "bridge/VisionMicrophoneReceiver.hpp"
#include "core/AsyncChannel.hpp"

namespace quillbridge {

class RecordingPersonaAVTimingCoordinator final : public PersonaAVTimingCoordinator {
public:
    struct Synchronization {
        std::int64_t offsetNanoseconds = 0;
        std::int64_t leadNanoseconds = 0;
        bool operator==(const Synchronization&) const = default;
    };

    void applyClockSynchronization(std::int64_t offset, std::int64_t lead) override {
        synchronizations.push_back({offset, lead});
    }
    void reset() override { ++resetCount; }
    void setMicrophoneDemanded(bool isDemanded) override { microphoneDemands.push_back(isDemanded); }

    std::vector<Synchronization> synchronizations;
    int resetCount = 0;
    std::vector<bool> microphoneDemands;
};

class RecordingPersonaCameraReceiver final : public PersonaCameraReceiver {
public:
    asio::awaitable<std::optional<PersonaCameraReceiverReportMessage>> updateFormat(
        PersonaCameraFormatDescriptionMessage format) override {
        formats.push_back(std::move(format));
        if (rejectsFormats) {
            throw std::runtime_error("The format cannot be used");
        }
        co_return report;
    }
    struct Frame {
        std::uint64_t frameID = 0;
        std::uint64_t presentationTimeNanoseconds = 0;
        bool isKeyFrame = false;
        Bytes payload;
        bool operator==(const Frame&) const = default;
    };

    asio::awaitable<void> receiveFrame(std::uint64_t frameID, std::uint64_t presentationTimeNanoseconds,
                                       bool isKeyFrame, Bytes payload, std::uint64_t) override {
        frames.push_back({frameID, presentationTimeNanoseconds, isKeyFrame, std::move(payload)});
        co_return;
    }
    asio::awaitable<void> reset() override {
        ++resetCount;
        if (resetGate) {
            co_await resetGate->receive();
        }
    }

    std::vector<PersonaCameraFormatDescriptionMessage> formats;
    std::vector<Frame> frames;
    // When set, a reset waits for a value here (to hold a teardown half-way).
    std::shared_ptr<AsyncChannel<bool>> resetGate;
    std::optional<PersonaCameraReceiverReportMessage> report;
    bool rejectsFormats = false;
    int resetCount = 0;
};

class RecordingVisionMicrophoneReceiver final : public VisionMicrophoneReceiver {
public:
    struct Format {
        double sampleRate = 0;
        std::uint32_t channelCount = 0;
        bool operator==(const Format&) const = default;
    };

    asio::awaitable<void> updateFormat(double sampleRate, std::uint32_t channelCount) override {
        formats.push_back({sampleRate, channelCount});
        co_return;
    }
    struct Chunk {
        Uuid streamID;
        MicrophoneFrameStreamHeader header;
        Bytes payload;
    };

    asio::awaitable<void> startStream(Uuid streamID) override {
        startedStreams.push_back(streamID);
        activeStream = streamID;
        co_return;
    }
    asio::awaitable<std::optional<std::uint64_t>> receive(Uuid streamID, MicrophoneFrameStreamHeader header,
                                                          Bytes payload) override {
        chunks.push_back({streamID, header, std::move(payload)});
        if (acknowledges) {
            co_return header.chunkID;
        }
        co_return std::nullopt;
    }
    asio::awaitable<bool> endStream(Uuid streamID) override {
        endedStreams.push_back(streamID);
        const bool wasActive = activeStream == streamID;
        if (wasActive) {
            activeStream.reset();
        }
        co_return wasActive;
    }
    asio::awaitable<void> reset() override {
        ++resetCount;
        activeStream.reset();
        co_return;
    }

    std::vector<Format> formats;
    std::vector<Uuid> startedStreams;
    std::vector<Uuid> endedStreams;
    std::vector<Chunk> chunks;
    std::optional<Uuid> activeStream;
    // Whether each chunk is acknowledged with its own identifier.
    bool acknowledges = true;
    int resetCount = 0;
};

}  // namespace quillbridge
