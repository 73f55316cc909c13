#include "platform/linux/quic/QuicHandles.hpp"

#include "platform/linux/quic/QuicCompletion.hpp"
#include "platform/linux/quic/QuicConnectionEngine.hpp"
#include "platform/linux/quic/QuicEndpoint.hpp"

namespace quillbridge {

// The awaited operations below are not coroutines: each hands copies of what it needs to the engine, so the
// handle itself may be released while they wait.

QuicStreamHandle::QuicStreamHandle(std::shared_ptr<QuicRuntime> runtime,
                                   std::shared_ptr<QuicConnectionEngine> engine,
                                   std::shared_ptr<QuicStreamState> state)
    : runtime_(std::move(runtime)), engine_(std::move(engine)), state_(std::move(state)) {}

QuicStreamHandle::~QuicStreamHandle() {
    runtime_->post(
        [engine = std::move(engine_), state = std::move(state_)] { engine->releaseStream(state); });
}

asio::awaitable<QuicStreamChunk> QuicStreamHandle::receive(std::size_t minimumLength,
                                                           std::size_t maximumLength) {
    return runOnEngine<QuicStreamChunk>(
        runtime_, [engine = engine_, state = state_, minimumLength,
                   maximumLength](QuicCompletion<QuicStreamChunk> completion) {
            engine->receive(state, minimumLength, maximumLength, std::move(completion));
        });
}

asio::awaitable<void> QuicStreamHandle::send(Bytes data, bool endOfStream) {
    return runOnEngine<QuicUnit>(runtime_, [engine = engine_, state = state_, data = std::move(data),
                                            endOfStream](QuicCompletion<QuicUnit> completion) mutable {
        engine->send(state, std::move(data), endOfStream, std::move(completion));
    });
}

void QuicStreamHandle::setApplicationErrorCode(std::uint64_t code) {
    runtime_->post([state = state_, code] { state->applicationErrorCode = code; });
}

void QuicStreamHandle::reset(std::uint64_t applicationErrorCode) {
    runtime_->post([engine = engine_, state = state_, applicationErrorCode] {
        state->applicationErrorCode = applicationErrorCode;
        engine->resetStream(state, applicationErrorCode);
    });
}

void QuicStreamHandle::stopSending(std::uint64_t applicationErrorCode) {
    runtime_->post([engine = engine_, state = state_, applicationErrorCode] {
        state->applicationErrorCode = applicationErrorCode;
        engine->stopSending(state, applicationErrorCode);
    });
}

QuicConnectionHandle::QuicConnectionHandle(std::shared_ptr<QuicRuntime> runtime,
                                           std::shared_ptr<QuicConnectionEngine> engine)
    : runtime_(std::move(runtime)), engine_(std::move(engine)) {}

QuicConnectionHandle::~QuicConnectionHandle() {
    // From here on no state handler call runs, not even one posted already.
    ++*engine_->stateHandlerGeneration();
    runtime_->post([engine = std::move(engine_)] { engine->releaseHandle(); });
}

void QuicConnectionHandle::setStateHandler(asio::any_io_executor executor, StateHandler handler) {
    const auto generation = ++*engine_->stateHandlerGeneration();
    runtime_->post([engine = engine_, executor = std::move(executor), handler = std::move(handler),
                    generation]() mutable {
        engine->setStateHandler(std::move(executor), std::move(handler), generation);
    });
}

QuicConnectionState QuicConnectionHandle::state() const {
    return engine_->state();
}

QuicConnectionCloseInfo QuicConnectionHandle::closeInfo() const {
    return engine_->closeInfo();
}

asio::awaitable<std::shared_ptr<QuicStream>> QuicConnectionHandle::acceptStream() {
    return runOnEngine<std::shared_ptr<QuicStream>>(
        runtime_, [engine = engine_](QuicCompletion<std::shared_ptr<QuicStream>> completion) {
            engine->acceptStream(std::move(completion));
        });
}

asio::awaitable<std::shared_ptr<QuicStream>> QuicConnectionHandle::openStream(
    QuicStreamDirectionality directionality) {
    return runOnEngine<std::shared_ptr<QuicStream>>(
        runtime_, [engine = engine_, directionality](QuicCompletion<std::shared_ptr<QuicStream>> completion) {
            engine->openStream(directionality, std::move(completion));
        });
}

asio::awaitable<void> QuicConnectionHandle::sendDatagram(Bytes datagram) {
    return runOnEngine<QuicUnit>(runtime_, [engine = engine_, datagram = std::move(datagram)](
                                               QuicCompletion<QuicUnit> completion) mutable {
        engine->sendDatagram(std::move(datagram), std::move(completion));
    });
}

asio::awaitable<Bytes> QuicConnectionHandle::receiveDatagram() {
    return runOnEngine<Bytes>(runtime_, [engine = engine_](QuicCompletion<Bytes> completion) {
        engine->receiveDatagram(std::move(completion));
    });
}

std::size_t QuicConnectionHandle::maximumDatagramSize() const {
    return engine_->maximumDatagramSize();
}

Bytes QuicConnectionHandle::peerCertificateDER() const {
    return engine_->peerCertificateDER();
}

QuicConnectionStatistics QuicConnectionHandle::statistics() const {
    return engine_->statistics();
}

void QuicConnectionHandle::close(std::uint64_t applicationErrorCode) {
    runtime_->post([engine = engine_, applicationErrorCode] { engine->close(applicationErrorCode); });
}

QuicListenerHandle::QuicListenerHandle(std::shared_ptr<QuicRuntime> runtime,
                                       std::shared_ptr<QuicEndpoint> endpoint, std::uint64_t generation,
                                       std::uint16_t port)
    : runtime_(std::move(runtime)), endpoint_(std::move(endpoint)), generation_(generation), port_(port) {}

QuicListenerHandle::~QuicListenerHandle() {
    stop();
}

asio::awaitable<std::shared_ptr<QuicConnection>> QuicListenerHandle::accept() {
    return runOnEngine<std::shared_ptr<QuicConnection>>(
        runtime_, [endpoint = endpoint_,
                   generation = generation_](QuicCompletion<std::shared_ptr<QuicConnection>> completion) {
            endpoint->accept(generation, std::move(completion));
        });
}

void QuicListenerHandle::stop() {
    runtime_->post([endpoint = endpoint_, generation = generation_] { endpoint->stopListening(generation); });
}

}  // namespace quillbridge
