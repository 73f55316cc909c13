#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include <asio/post.hpp>

#include "core/AsyncChannel.hpp"
#include "session/QuicTransport.hpp"

namespace quillbridge {

// In-memory stand-ins for the QUIC ports, for the session's unit tests: connections come in pairs (host
// side, headset side) and streams are byte pipes. Thread-safe like the real ones, but with no network:
// nothing is lost, reordered or delayed. Test hooks let a test fail a connection or inspect codes.

class FakeQuicStream final : public QuicStream {
public:
    // One direction of a stream.
    struct Pipe {
        struct Item {
            Bytes data;
            bool endsStream = false;
            std::optional<std::uint64_t> resetCode;
        };
        AsyncChannel<Item> items{AsyncChannel<Item>::unbounded};
        std::mutex mutex;
        std::optional<std::uint64_t> stopSendingCode;  // set by the reading side
        bool ended = false;                            // the writing side ended or reset it
    };

    // How one side's connection ended, shared with its streams: once set, their waits end and their
    // operations fail with it, as on the real transport.
    struct ConnectionEnd {
        std::mutex mutex;
        std::error_code error;
    };

    FakeQuicStream(std::int64_t id, QuicStreamDirectionality directionality, bool local,
                   std::shared_ptr<Pipe> incoming, std::shared_ptr<Pipe> outgoing,
                   std::shared_ptr<ConnectionEnd> connectionEnd = std::make_shared<ConnectionEnd>())
        : id_(id),
          directionality_(directionality),
          local_(local),
          incoming_(std::move(incoming)),
          outgoing_(std::move(outgoing)),
          connectionEnd_(std::move(connectionEnd)) {}

    std::int64_t id() const override { return id_; }
    QuicStreamDirectionality directionality() const override { return directionality_; }
    bool isLocallyInitiated() const override { return local_; }

    asio::awaitable<QuicStreamChunk> receive(std::size_t minimumLength, std::size_t maximumLength) override {
        auto incoming = incoming_;
        if (!incoming) {
            throw std::system_error(make_error_code(QuicError::streamClosed));
        }
        minimumLength = std::max<std::size_t>(minimumLength, 1);
        maximumLength = std::max(maximumLength, minimumLength);
        QuicStreamChunk chunk;
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                const std::size_t count = std::min(maximumLength - chunk.data.size(), leftover_.size());
                chunk.data.insert(chunk.data.end(), leftover_.begin(), leftover_.begin() + count);
                leftover_.erase(leftover_.begin(), leftover_.begin() + count);
                if (leftover_.empty() && finished_) {
                    chunk.isComplete = true;
                    co_return chunk;
                }
                if (chunk.data.size() >= minimumLength) {
                    co_return chunk;
                }
            }
            auto item = co_await incoming->items.receive();
            std::lock_guard lock(mutex_);
            if (!item) {
                // Closed without an end of stream: the connection ended.
                if (auto error = connectionError()) {
                    throw std::system_error(error);
                }
                finished_ = true;
                continue;
            }
            if (item->resetCode) {
                throw QuicStreamAbortedError(QuicError::streamReset, *item->resetCode);
            }
            leftover_.insert(leftover_.end(), item->data.begin(), item->data.end());
            finished_ = item->endsStream;
        }
    }

    asio::awaitable<void> send(Bytes data, bool endOfStream) override {
        auto outgoing = outgoing_;
        if (!outgoing) {
            throw std::system_error(make_error_code(QuicError::streamClosed));
        }
        if (auto error = std::exchange(nextSendError_, std::nullopt)) {
            throw std::system_error(*error);
        }
        if (auto error = connectionError()) {
            throw std::system_error(error);
        }
        {
            std::lock_guard lock(outgoing->mutex);
            if (outgoing->stopSendingCode) {
                throw QuicStreamAbortedError(QuicError::streamStopped, *outgoing->stopSendingCode);
            }
            if (outgoing->ended) {
                throw std::system_error(make_error_code(QuicError::streamClosed));
            }
            outgoing->ended = endOfStream;
        }
        outgoing->items.trySend({std::move(data), endOfStream, std::nullopt});
        if (endOfStream) {
            outgoing->items.close();
        }
        co_return;
    }

    // Test hook: the next send on this end fails with `error` and sends nothing.
    void failNextSend(std::error_code error) { nextSendError_ = error; }

    void setApplicationErrorCode(std::uint64_t code) override {
        std::lock_guard lock(mutex_);
        applicationErrorCode_ = code;
    }
    void reset(std::uint64_t code) override {
        if (!outgoing_) {
            return;
        }
        {
            std::lock_guard lock(outgoing_->mutex);
            if (outgoing_->ended) {
                return;
            }
            outgoing_->ended = true;
        }
        std::lock_guard lock(mutex_);
        resetCode_ = code;
        outgoing_->items.trySend({{}, false, code});
        outgoing_->items.close();
    }
    void stopSending(std::uint64_t code) override {
        if (!incoming_) {
            return;
        }
        std::lock_guard lock(incoming_->mutex);
        incoming_->stopSendingCode = code;
    }

    // Test inspection.
    std::uint64_t applicationErrorCode() const {
        std::lock_guard lock(mutex_);
        return applicationErrorCode_;
    }
    std::optional<std::uint64_t> resetCode() const {
        std::lock_guard lock(mutex_);
        return resetCode_;
    }

private:
    std::optional<std::error_code> nextSendError_;
    std::error_code connectionError() const {
        std::lock_guard lock(connectionEnd_->mutex);
        return connectionEnd_->error;
    }

    const std::int64_t id_;
    const QuicStreamDirectionality directionality_;
    const bool local_;
    std::shared_ptr<Pipe> incoming_;
    std::shared_ptr<Pipe> outgoing_;
    std::shared_ptr<ConnectionEnd> connectionEnd_;
    mutable std::mutex mutex_;
    Bytes leftover_;
    bool finished_ = false;
    std::uint64_t applicationErrorCode_ = 0;
    std::optional<std::uint64_t> resetCode_;
};

class FakeQuicConnection final : public QuicConnection,
                                 public std::enable_shared_from_this<FakeQuicConnection> {
public:
    explicit FakeQuicConnection(bool isHost, Bytes peerCertificate = {})
        : isHost_(isHost), peerCertificate_(std::move(peerCertificate)) {}

    // Two connected ends.
    static std::pair<std::shared_ptr<FakeQuicConnection>, std::shared_ptr<FakeQuicConnection>> makePair(
        Bytes headsetCertificate = {}, Bytes hostCertificate = {}) {
        auto host = std::make_shared<FakeQuicConnection>(true, std::move(headsetCertificate));
        auto headset = std::make_shared<FakeQuicConnection>(false, std::move(hostCertificate));
        host->peer_ = headset;
        headset->peer_ = host;
        return {host, headset};
    }

    // Releasing an end closes it as the real transport does: the peer sees `closedByPeer`, the released
    // end's handler hears nothing more.
    ~FakeQuicConnection() override {
        {
            std::lock_guard lock(mutex_);
            ++*handlerGeneration_;
            handler_ = nullptr;
            executor_.reset();
        }
        close(0);
    }

    void setStateHandler(asio::any_io_executor executor, StateHandler handler) override {
        std::lock_guard lock(mutex_);
        installedGeneration_ = ++*handlerGeneration_;
        if (!handler) {
            handler_ = nullptr;
            executor_.reset();
            return;
        }
        executor_ = std::move(executor);
        handler_ = std::move(handler);
        postState(state_);
    }
    QuicConnectionState state() const override {
        std::lock_guard lock(mutex_);
        return state_;
    }
    QuicConnectionCloseInfo closeInfo() const override {
        std::lock_guard lock(mutex_);
        return closeInfo_;
    }

    asio::awaitable<std::shared_ptr<QuicStream>> acceptStream() override {
        auto self = shared_from_this();
        auto stream = co_await inbound_.receive();
        if (stream) {
            co_return *stream;
        }
        const auto state = this->state();
        if (state.kind == QuicConnectionState::Kind::failed) {
            throw std::system_error(state.error);
        }
        co_return nullptr;
    }

    asio::awaitable<std::shared_ptr<QuicStream>> openStream(
        QuicStreamDirectionality directionality) override {
        auto peer = peer_.lock();
        if (!peer || state().kind != QuicConnectionState::Kind::ready) {
            throw std::system_error(make_error_code(QuicError::connectionClosed));
        }
        const bool bidirectional = directionality == QuicStreamDirectionality::bidirectional;
        auto up = std::make_shared<FakeQuicStream::Pipe>();
        auto down = bidirectional ? std::make_shared<FakeQuicStream::Pipe>() : nullptr;
        std::int64_t id = 0;
        {
            std::lock_guard lock(mutex_);
            auto& next = bidirectional ? nextBidirectionalIndex_ : nextUnidirectionalIndex_;
            id = static_cast<std::int64_t>(next++ * 4 + (bidirectional ? 0 : 2) + (isHost_ ? 1 : 0));
        }
        auto local = std::make_shared<FakeQuicStream>(id, directionality, true, down, up, connectionEnd_);
        auto remote =
            std::make_shared<FakeQuicStream>(id, directionality, false, up, down, peer->connectionEnd_);
        addPipes({up, down});
        peer->addPipes({up, down});
        peer->inbound_.trySend(remote);
        co_return local;
    }

    asio::awaitable<void> sendDatagram(Bytes datagram) override {
        auto peer = peer_.lock();
        if (state().kind != QuicConnectionState::Kind::ready) {
            throw std::system_error(make_error_code(QuicError::connectionClosed));
        }
        std::lock_guard lock(mutex_);
        if (datagram.size() > maximumDatagramSize()) {
            ++statistics_.datagramsDroppedOversized;
        } else if (peer) {
            ++statistics_.datagramsSent;
            sentDatagrams_.push_back(datagram);
            peer->datagrams_.trySend(std::move(datagram));
        }
        co_return;
    }
    asio::awaitable<Bytes> receiveDatagram() override {
        auto datagram = co_await datagrams_.receive();
        if (!datagram) {
            throw std::system_error(make_error_code(QuicError::connectionClosed));
        }
        co_return std::move(*datagram);
    }
    // What the real transport reports on a fresh path (1,200-byte UDP payloads, the host's 18-byte
    // connection IDs) until path MTU discovery raises it; setMaximumDatagramSize() stands for that growth.
    static constexpr std::size_t freshPathMaximumDatagramSize = 1158;
    std::size_t maximumDatagramSize() const override {
        std::lock_guard lock(maximumDatagramSizeMutex_);
        return maximumDatagramSize_;
    }
    Bytes peerCertificateDER() const override { return peerCertificate_; }
    QuicConnectionStatistics statistics() const override {
        std::lock_guard lock(mutex_);
        return statistics_;
    }

    void close(std::uint64_t applicationErrorCode) override {
        if (!end(QuicConnectionState{QuicConnectionState::Kind::cancelled,
                                     make_error_code(QuicError::connectionClosed)},
                 QuicConnectionCloseInfo{false, applicationErrorCode, std::nullopt})) {
            return;
        }
        if (auto peer = peer_.lock()) {
            peer->end(QuicConnectionState{QuicConnectionState::Kind::failed,
                                          make_error_code(QuicError::closedByPeer)},
                      QuicConnectionCloseInfo{true, applicationErrorCode, std::nullopt});
        }
    }

    // Test hooks: the connection fails with the error (idle time-out, ...), the peer sees it too.
    void fail(std::error_code error) {
        end(QuicConnectionState{QuicConnectionState::Kind::failed, error}, {});
        if (auto peer = peer_.lock()) {
            peer->end(QuicConnectionState{QuicConnectionState::Kind::failed, error}, {});
        }
    }
    // The path grew (or shrank): datagrams up to this size go out from now on.
    void setMaximumDatagramSize(std::size_t size) {
        std::lock_guard lock(maximumDatagramSizeMutex_);
        maximumDatagramSize_ = size;
    }
    std::vector<Bytes> sentDatagrams() const {
        std::lock_guard lock(mutex_);
        return sentDatagrams_;
    }

private:
    bool end(QuicConnectionState state, QuicConnectionCloseInfo info) {
        std::lock_guard lock(mutex_);
        if (state_.kind != QuicConnectionState::Kind::ready) {
            return false;
        }
        state_ = state;
        closeInfo_ = info;
        inbound_.close();
        datagrams_.close();
        {
            std::lock_guard endLock(connectionEnd_->mutex);
            connectionEnd_->error = state.error;
        }
        for (const auto& weakPipe : pipes_) {
            if (auto pipe = weakPipe.lock()) {
                pipe->items.close();
            }
        }
        pipes_.clear();
        postState(state);
        return true;
    }

    // With mutex_ held. Like the real transport, the call checks on the executor that the handler is still
    // the installed one.
    void postState(const QuicConnectionState& state) {
        if (!executor_ || !handler_) {
            return;
        }
        asio::post(*executor_, [handler = handler_, state, current = handlerGeneration_,
                                generation = installedGeneration_] {
            if (current->load() == generation) {
                handler(state);
            }
        });
    }

    void addPipes(std::initializer_list<std::shared_ptr<FakeQuicStream::Pipe>> pipes) {
        std::lock_guard lock(mutex_);
        for (const auto& pipe : pipes) {
            if (pipe) {
                pipes_.push_back(pipe);
            }
        }
    }

    const bool isHost_;
    const Bytes peerCertificate_;
    std::weak_ptr<FakeQuicConnection> peer_;
    const std::shared_ptr<FakeQuicStream::ConnectionEnd> connectionEnd_ =
        std::make_shared<FakeQuicStream::ConnectionEnd>();
    std::vector<std::weak_ptr<FakeQuicStream::Pipe>> pipes_;
    AsyncChannel<std::shared_ptr<QuicStream>> inbound_{AsyncChannel<std::shared_ptr<QuicStream>>::unbounded};
    AsyncChannel<Bytes> datagrams_{AsyncChannel<Bytes>::unbounded};
    mutable std::mutex mutex_;
    QuicConnectionState state_;
    QuicConnectionCloseInfo closeInfo_;
    QuicConnectionStatistics statistics_;
    std::vector<Bytes> sentDatagrams_;
    std::optional<asio::any_io_executor> executor_;
    StateHandler handler_;
    const std::shared_ptr<std::atomic<std::uint64_t>> handlerGeneration_ =
        std::make_shared<std::atomic<std::uint64_t>>(0);
    std::uint64_t installedGeneration_ = 0;
    mutable std::mutex maximumDatagramSizeMutex_;
    std::size_t maximumDatagramSize_ = freshPathMaximumDatagramSize;
    std::uint64_t nextBidirectionalIndex_ = 0;
    std::uint64_t nextUnidirectionalIndex_ = 0;
};

class FakeQuicListener final : public QuicListener {
public:
    explicit FakeQuicListener(QuicListenerParameters parameters) : parameters_(std::move(parameters)) {}
    ~FakeQuicListener() override { stop(); }

    std::uint16_t localPort() const override { return parameters_.port; }
    asio::awaitable<std::shared_ptr<QuicConnection>> accept() override {
        auto connection = co_await incoming_.receive();
        if (!connection) {
            throw std::system_error(make_error_code(QuicError::connectionClosed));
        }
        co_return *connection;
    }
    void stop() override {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        incoming_.close();
    }

    const QuicListenerParameters& parameters() const { return parameters_; }
    bool isStopped() const {
        std::lock_guard lock(mutex_);
        return stopped_;
    }

    // A headset connects with this certificate: the listener's validator decides, as in a real handshake.
    // Returns the headset's end, or nullptr when the handshake was refused or the listener stopped.
    std::shared_ptr<FakeQuicConnection> connect(Bytes headsetCertificate) {
        {
            std::lock_guard lock(mutex_);
            if (stopped_) {
                return nullptr;
            }
        }
        if (parameters_.certificateValidator && !parameters_.certificateValidator(headsetCertificate)) {
            return nullptr;
        }
        auto [host, headset] =
            FakeQuicConnection::makePair(headsetCertificate, parameters_.identity.certificateDER);
        if (!incoming_.trySend(host)) {
            return nullptr;
        }
        return headset;
    }

private:
    QuicListenerParameters parameters_;
    AsyncChannel<std::shared_ptr<QuicConnection>> incoming_{
        AsyncChannel<std::shared_ptr<QuicConnection>>::unbounded};
    mutable std::mutex mutex_;
    bool stopped_ = false;
};

class FakeQuicTransport final : public QuicTransport {
public:
    asio::awaitable<std::unique_ptr<QuicListener>> listen(QuicListenerParameters parameters) override {
        std::error_code failure;
        {
            std::lock_guard lock(mutex_);
            ++listenCount_;
            failure = std::exchange(nextListenFailure_, {});
        }
        if (failure) {
            throw std::system_error(failure);
        }
        auto listener = std::make_unique<FakeQuicListener>(std::move(parameters));
        {
            std::lock_guard lock(mutex_);
            listeners_.push_back(listener.get());
        }
        co_return listener;
    }

    // Test hooks. Listeners are owned by the code under test: only use the latest one while it lives.
    void failNextListen(std::error_code error) {
        std::lock_guard lock(mutex_);
        nextListenFailure_ = error;
    }
    int listenCount() const {
        std::lock_guard lock(mutex_);
        return listenCount_;
    }
    FakeQuicListener* latestListener() const {
        std::lock_guard lock(mutex_);
        return listeners_.empty() ? nullptr : listeners_.back();
    }

private:
    mutable std::mutex mutex_;
    int listenCount_ = 0;
    std::error_code nextListenFailure_;
    std::vector<FakeQuicListener*> listeners_;
};

}  // namespace quillbridge
