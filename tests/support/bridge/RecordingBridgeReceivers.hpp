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

    std::vector<Synchronization> synchronizations;
    int resetCount = 0;
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
    asio::awaitable<void> reset() override {
        ++resetCount;
        if (resetGate) {
            co_await resetGate->receive();
        }
    }

    std::vector<PersonaCameraFormatDescriptionMessage> formats;
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
    asio::awaitable<void> reset() override {
        ++resetCount;
        co_return;
    }

    std::vector<Format> formats;
    int resetCount = 0;
};

}  // namespace quillbridge
