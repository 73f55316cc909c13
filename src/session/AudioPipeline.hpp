#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

#include <asio/awaitable.hpp>

#include "core/LogRateLimiter.hpp"
#include "core/Logger.hpp"
#include "core/Uuid.hpp"
#include "session/AudioCompressionSession.hpp"
#include "session/AudioPCMAccumulator.hpp"
#include "session/AudioPCMBuffer.hpp"
#include "session/ScreenStreamBroadcasterDependencies.hpp"
#include "session/SessionContext.hpp"
#include "wire/AudioStreamFormatAnnouncementMessage.hpp"

namespace quillbridge {

// The session's audio path: captured PCM cut into 512-frame chunks, compressed on the session's strand (a
// chunk costs a fraction of a millisecond, and a single owner means a teardown's reset never races an
// encode), the format announcement on the control stream, and one unreliable datagram per chunk, held back by
// a flight window while the headset stops acknowledging. It owns the accumulator, the encoder, the format
// and its revision, the chunk counters, the flight window and the unsent-datagram statistics. Runs on the
// session's strand; every member is called there.
class AudioPipeline {
public:
    AudioPipeline(SessionContext& session, const ScreenStreamBroadcasterDependencies& dependencies);

    // Sends one captured buffer as datagrams; audio that arrives while no headset is ready for it is dropped.
    // Never throws: failures end in a log line, in forgetting the datagram flow, or in ending the session.
    asio::awaitable<void> send(AudioPCMBuffer buffer);
    // Whether a format was announced (or is to be) in this session.
    bool hasFormat() const { return lastAudioFormatMessage_.has_value(); }
    // Announces the current format on the control stream once the headset is ready; throws the send error.
    asio::awaitable<void> sendAudioFormatIfNeeded();
    // Marks the datagram flow of the current session open.
    asio::awaitable<void> openAudioDatagrams();
    // The headset's receiver report: the highest chunk it received.
    void noteHighestReceivedChunkID(std::optional<std::uint64_t> reported);
    // The session's connection went: the flow closes and the chunk count and flight window start over.
    void endSessionTransport();
    // The encoder and the format start over for the next session.
    void startOver();

private:
    friend struct ScreenStreamBroadcasterTestAccess;
    friend struct ScreenStreamBroadcasterAudioTestAccess;

    void resetAudioEncoding();
    // Announces a format the headset has not heard of; false when the announcement failed (the session is
    // then ended as lost).
    asio::awaitable<bool> announceFormatIfChanged(const AudioStreamFormatMessage& format,
                                                  const Uuid& sessionID);
    // The connection that carries the session's audio datagrams, or nullptr without one; throws a
    // cancellation error when `sessionID` is no longer current.
    asio::awaitable<std::shared_ptr<QuicConnection>> openAudioDatagrams(const Uuid& sessionID);
    // Whether the chunk may go out under the flight window at host time `hostTimeNanoseconds`.
    bool admitAudioChunk(std::uint64_t chunkID, std::uint64_t hostTimeNanoseconds);
    void handleAudioDatagramFailure(const std::exception_ptr& error, const Uuid& sessionID);
    // Logs the datagrams the transport dropped unsent (congestion) since the last look.
    void reportUnsentAudioDatagrams(const std::shared_ptr<QuicConnection>& flow);

    SessionContext& session_;
    const ScreenStreamBroadcasterDependencies& dependencies_;
    Logger logger_{"ScreenStreamBroadcaster"};

    // Audio datagrams go over the connection itself; this marks them open.
    bool audioDatagrams_ = false;
    std::unique_ptr<AudioCompressionSession> audioEncoder_;
    AudioPCMAccumulator audioAccumulator_{512};
    std::optional<AudioStreamFormatAnnouncementMessage> lastAudioFormatMessage_;
    std::uint32_t audioFormatRevision_ = 0;
    std::uint64_t nextSentAudioChunkID_ = 0;
    std::optional<std::uint64_t> highestReceivedAudioChunkID_;
    struct AudioFlightWindow {
        std::size_t maximumOutstandingChunkCount = 24;
        std::uint64_t recoveryProbeIntervalNanoseconds = 250'000'000;
        std::optional<std::uint64_t> pressureObservedAtHostTimeNanoseconds;
        std::optional<std::uint64_t> lastRecoveryProbeHostTimeNanoseconds;
    } audioFlightWindow_;
    // What the transport had dropped unsent on the connection last looked at.
    std::weak_ptr<QuicConnection> audioStatisticsConnection_;
    std::uint64_t audioDatagramsDroppedUnsentSeen_ = 0;
    std::unique_ptr<LogRateLimiter> unsentAudioDatagramLog_;
};

}  // namespace quillbridge
