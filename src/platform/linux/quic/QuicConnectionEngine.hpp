#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <gnutls/gnutls.h>
#include <ngtcp2/ngtcp2.h>
#include <ngtcp2/ngtcp2_crypto.h>
#include <asio/any_io_executor.hpp>
#include <asio/steady_timer.hpp>

#include "core/Bytes.hpp"
#include "platform/linux/quic/GnuTLSCredentials.hpp"
#include "platform/linux/quic/QuicCompletion.hpp"
#include "platform/linux/quic/QuicStreamState.hpp"
#include "session/QuicConnection.hpp"
#include "session/QuicListener.hpp"

namespace quillbridge {

class QuicEndpoint;

// What one side of a connection is configured with.
struct QuicConnectionConfiguration {
    bool isServer = true;
    // Empty on a client that offers no ALPN.
    std::string alpn;
    std::chrono::milliseconds idleTimeout{15000};
    std::size_t maximumDatagramFrameSize = 1200;
    // The largest UDP payload this side takes, as told to the peer; 0 leaves QUIC's default.
    std::size_t maximumUdpPayloadSize = 0;
    std::shared_ptr<GnuTLSCredentials> credentials;
    // Decides on the peer's leaf certificate; a client without one accepts any server certificate.
    QuicCertificateValidator certificateValidator;
};

// One QUIC connection (ngtcp2 + GnuTLS) on an endpoint's socket. Everything but the snapshot getters runs
// on the engine thread. The endpoint owns the engine while it is alive; handles share it so that they can
// still report how it ended.
class QuicConnectionEngine : public std::enable_shared_from_this<QuicConnectionEngine> {
public:
    // The length of the connection IDs this side issues.
    static constexpr std::size_t connectionIDLength = 18;

    QuicConnectionEngine(QuicEndpoint& endpoint, std::weak_ptr<QuicRuntime> runtime,
                         QuicConnectionConfiguration configuration);
    ~QuicConnectionEngine();
    QuicConnectionEngine(const QuicConnectionEngine&) = delete;
    QuicConnectionEngine& operator=(const QuicConnectionEngine&) = delete;

    // Set-up; an error leaves the engine unusable. `retryOriginalDestinationID` is set when the Initial
    // carried a valid Retry token: the destination ID of the client's Initial before the Retry.
    std::error_code startServer(const ngtcp2_pkt_hd& initialHeader, const ngtcp2_path& path,
                                const ngtcp2_cid* retryOriginalDestinationID = nullptr);
    // On success the completion is taken; it completes once the server confirmed the handshake.
    std::error_code startClient(const ngtcp2_path& path,
                                QuicCompletion<std::shared_ptr<QuicConnection>>& completion);

    // From the endpoint.
    void handlePacket(const ngtcp2_path& path, const std::uint8_t* data, std::size_t length);
    void writePackets();
    void shutDownForTransport();
    std::vector<Bytes> connectionIDs() const { return issuedConnectionIDs_; }
    bool isReady() const { return phase_ == Phase::ready; }
    bool isHandshaking() const { return phase_ == Phase::handshaking; }
    // Whether the token is the stateless reset token of one of the peer's connection IDs in use.
    bool matchesStatelessResetToken(const std::uint8_t* token) const;

    // Operations of the handles (engine thread).
    void acceptStream(QuicCompletion<std::shared_ptr<QuicStream>> completion);
    void openStream(QuicStreamDirectionality directionality,
                    QuicCompletion<std::shared_ptr<QuicStream>> completion);
    void receive(const std::shared_ptr<QuicStreamState>& stream, std::size_t minimumLength,
                 std::size_t maximumLength, QuicCompletion<QuicStreamChunk> completion);
    void send(const std::shared_ptr<QuicStreamState>& stream, Bytes data, bool endOfStream,
              QuicCompletion<QuicUnit> completion);
    void resetStream(const std::shared_ptr<QuicStreamState>& stream, std::uint64_t code);
    void stopSending(const std::shared_ptr<QuicStreamState>& stream, std::uint64_t code);
    void releaseStream(const std::shared_ptr<QuicStreamState>& stream);
    void sendDatagram(Bytes datagram, QuicCompletion<QuicUnit> completion);
    void receiveDatagram(QuicCompletion<Bytes> completion);
    void close(std::uint64_t applicationErrorCode);
    void releaseHandle();
    // Installs the handler under the generation its handle drew from stateHandlerGeneration(); an empty
    // handler removes it.
    void setStateHandler(asio::any_io_executor executor, QuicConnection::StateHandler handler,
                         std::uint64_t generation);
    // The generation of the state handler the user installed last, raised by the handle (on the user's
    // thread) whenever it replaces, clears or lets go of the handler. A posted call runs only while its
    // generation is still the current one, so none reaches a handler that was dropped.
    const std::shared_ptr<std::atomic<std::uint64_t>>& stateHandlerGeneration() const {
        return stateHandlerGeneration_;
    }

    // Snapshots, from any thread.
    QuicConnectionState state() const;
    QuicConnectionCloseInfo closeInfo() const;
    QuicConnectionStatistics statistics() const;
    std::size_t maximumDatagramSize() const;
    Bytes peerCertificateDER() const;

    // Makes a handle for this connection (engine thread).
    std::shared_ptr<QuicConnection> makeHandle();

private:
    enum class Phase { handshaking, ready, closing, draining, finished };

    template <typename T>
    struct Waiter {
        std::uint64_t id = 0;
        QuicCompletion<T> completion;
    };
    struct PendingOpen {
        std::uint64_t id = 0;
        QuicStreamDirectionality directionality = QuicStreamDirectionality::bidirectional;
        QuicCompletion<std::shared_ptr<QuicStream>> completion;
    };
    struct OutgoingDatagram {
        Bytes data;
        ngtcp2_tstamp queuedAt = 0;
    };

    static ngtcp2_tstamp now();
    static ngtcp2_callbacks makeCallbacks(bool isServer);

    // ngtcp2 callbacks.
    static int onHandshakeCompleted(ngtcp2_conn*, void* userData);
    static int onHandshakeConfirmed(ngtcp2_conn*, void* userData);
    static int onReceiveStreamData(ngtcp2_conn*, std::uint32_t flags, std::int64_t streamID,
                                   std::uint64_t offset, const std::uint8_t* data, std::size_t length,
                                   void* userData, void*);
    static int onAcknowledgedStreamData(ngtcp2_conn*, std::int64_t streamID, std::uint64_t offset,
                                        std::uint64_t length, void* userData, void*);
    static int onStreamOpen(ngtcp2_conn*, std::int64_t streamID, void* userData);
    static int onStreamClose(ngtcp2_conn*, std::uint32_t flags, std::int64_t streamID, std::uint64_t code,
                             void* userData, void*);
    static int onStreamReset(ngtcp2_conn*, std::int64_t streamID, std::uint64_t finalSize, std::uint64_t code,
                             void* userData, void*);
    static int onExtendMaxLocalStreams(ngtcp2_conn*, std::uint64_t maxStreams, void* userData);
    static int onExtendMaxStreamData(ngtcp2_conn*, std::int64_t streamID, std::uint64_t maxData,
                                     void* userData, void*);
    static void onRandom(std::uint8_t* destination, std::size_t length, const ngtcp2_rand_ctx*);
    static int onNewConnectionID(ngtcp2_conn*, ngtcp2_cid* cid, std::uint8_t* token, std::size_t length,
                                 void* userData);
    static int onRemoveConnectionID(ngtcp2_conn*, const ngtcp2_cid* cid, void* userData);
    static int onReceiveDatagram(ngtcp2_conn*, std::uint32_t flags, const std::uint8_t* data,
                                 std::size_t length, void* userData);
    static int onLostDatagram(ngtcp2_conn*, std::uint64_t id, void* userData);
    static int onStatelessReset(ngtcp2_conn*, const ngtcp2_pkt_stateless_reset*, void* userData);
    static ngtcp2_conn* connectionFromReference(ngtcp2_crypto_conn_ref* reference);
    static int verifyPeerCertificate(gnutls_session_t session);
    static int checkClientHello(gnutls_session_t session, unsigned int type, unsigned when,
                                unsigned int incoming, const gnutls_datum_t* message);

    std::error_code startTLS();
    ngtcp2_settings makeSettings() const;
    ngtcp2_transport_params makeTransportParameters() const;
    bool acceptPeerCertificate(gnutls_session_t session);

    std::shared_ptr<QuicStreamState> streamFor(std::int64_t streamID, bool createRemote);
    std::shared_ptr<QuicStreamState> openRemoteStreamsUpTo(std::int64_t streamID);
    std::shared_ptr<QuicStream> makeStreamHandle(const std::shared_ptr<QuicStreamState>& stream);
    void serviceReceives(QuicStreamState& stream);
    void returnCredit(QuicStreamState& stream, std::size_t length);
    // Each failed operation gets an exception object of its own: the awaiting threads then never share one
    // with each other or with the engine.
    using ErrorFactory = std::function<std::exception_ptr()>;
    void failReceives(QuicStreamState& stream, const ErrorFactory& makeError);
    void failUnwrittenSends(QuicStreamState& stream, const ErrorFactory& makeError);
    void completeWrittenSends(QuicStreamState& stream);
    void addToSendList(const std::shared_ptr<QuicStreamState>& stream);
    // The statistics' figure of queued stream bytes awaiting acknowledgement, as chunks come and go.
    static std::uint64_t queuedBytes(const QuicStreamState& stream);
    void noteQueuedStreamBytes(std::uint64_t count);
    void releaseQueuedStreamBytes(std::uint64_t count);
    void deliverInboundStreams();
    // Lets the peer open one more stream of the kind once one of its streams is over and was taken by the
    // user: streams nobody took yet keep counting against the peer's limit.
    void returnStreamCredit(QuicStreamState& stream);
    void serviceOpens();
    void scheduleWrite();
    void writeLoop();
    bool flushBatch(std::size_t& batchLength, std::size_t segmentSize, std::size_t& packetCount);
    void dropStaleDatagrams(ngtcp2_tstamp timestamp);
    std::size_t computeMaximumDatagramSize() const;
    void updateTimer();
    void onTimer();
    void handleLibraryError(int error);
    void sendConnectionClose(const ngtcp2_connection_close_error& error);
    void enterTerminal(Phase phase, QuicConnectionState::Kind kind, std::error_code error);
    void finish();
    void notifyState();
    void publishStatistics();
    template <typename T>
    void cancelWaiter(std::deque<Waiter<T>>& waiters, std::uint64_t id);
    std::exception_ptr terminalException() const;

    QuicEndpoint* endpoint_;
    std::weak_ptr<QuicRuntime> runtime_;
    QuicConnectionConfiguration configuration_;
    Phase phase_ = Phase::handshaking;
    ngtcp2_conn* connection_ = nullptr;
    gnutls_session_t tls_ = nullptr;
    ngtcp2_crypto_conn_ref connectionReference_{};
    // The connection's current path, and the path of the packets gathered for one send.
    ngtcp2_path_storage path_{};
    ngtcp2_path_storage batchPath_{};
    // The traced frame whose first bytes are in the batch being filled (0 when none).
    std::uint64_t batchTraceKey_ = 0;
    std::optional<asio::steady_timer> timer_;
    ngtcp2_tstamp armedExpiry_ = UINT64_MAX;
    bool writeScheduled_ = false;
    bool inWriteLoop_ = false;
    std::vector<Bytes> issuedConnectionIDs_;
    Bytes originalDestinationConnectionID_;
    Bytes closePacket_;
    std::size_t closePacketsResent_ = 0;
    bool statelessResetReceived_ = false;
    bool handshakeCompletedPending_ = false;
    bool handedOut_ = false;
    std::uint64_t nextWaiterID_ = 1;

    std::unordered_map<std::int64_t, std::shared_ptr<QuicStreamState>> streams_;
    std::int64_t highestRemoteBidirectionalID_ = -1;
    std::int64_t highestRemoteUnidirectionalID_ = -1;
    std::deque<std::shared_ptr<QuicStreamState>> inboundStreams_;
    std::deque<Waiter<std::shared_ptr<QuicStream>>> acceptWaiters_;
    std::deque<PendingOpen> pendingOpens_;
    std::deque<std::shared_ptr<QuicStreamState>> sendList_;
    std::uint64_t writeRound_ = 0;

    std::deque<Bytes> receivedDatagrams_;
    std::deque<Waiter<Bytes>> datagramWaiters_;
    std::deque<OutgoingDatagram> outgoingDatagrams_;
    std::vector<std::uint8_t> sendBuffer_;

    QuicCompletion<std::shared_ptr<QuicConnection>> connectCompletion_;
    std::optional<asio::any_io_executor> stateExecutor_;
    QuicConnection::StateHandler stateHandler_;
    std::uint64_t installedStateHandlerGeneration_ = 0;
    const std::shared_ptr<std::atomic<std::uint64_t>> stateHandlerGeneration_ =
        std::make_shared<std::atomic<std::uint64_t>>(0);

    mutable std::mutex snapshotMutex_;
    QuicConnectionState stateSnapshot_;
    QuicConnectionCloseInfo closeInfoSnapshot_;
    QuicConnectionStatistics statistics_;
    std::size_t maximumDatagramSizeSnapshot_ = 0;
    Bytes peerCertificate_;
};

}  // namespace quillbridge
