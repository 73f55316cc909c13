#include "support/quic/HandshakeStallingRelay.hpp"

#include <array>
#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>

namespace quillbridge {

namespace {

// A QUIC version 1 Retry: long header, packet type 3.
bool isRetry(const std::uint8_t* data, std::size_t length) {
    return length > 0 && (data[0] & 0x80) != 0 && ((data[0] & 0x30) >> 4) == 3;
}

}  // namespace

class HandshakeStallingRelay::Impl {
public:
    Impl(std::uint16_t serverPort, std::size_t sourceAddressCount)
        : sourceAddressCount_(sourceAddressCount == 0 ? 1 : sourceAddressCount),
          clientSide_(context_, asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), 0)),
          server_(asio::ip::address_v4::loopback(), serverPort) {
        receiveFromClients();
        thread_ = std::thread([this] {
            auto guard = asio::make_work_guard(context_);
            context_.run();
        });
    }

    ~Impl() {
        asio::post(context_, [this] { context_.stop(); });
        thread_.join();
    }

    std::uint16_t port() const { return clientSide_.local_endpoint().port(); }

    std::atomic<std::size_t> clientsAnswered{0};
    std::atomic<std::uint64_t> retriesPassed{0};

private:
    struct Upstream {
        explicit Upstream(asio::io_context& context, const asio::ip::address_v4& source)
            : socket(context, asio::ip::udp::endpoint(source, 0)) {}
        asio::ip::udp::socket socket;
        asio::ip::udp::endpoint client;
        asio::ip::udp::endpoint sender;
        std::array<std::uint8_t, 65536> buffer{};
        bool answered = false;
    };

    void receiveFromClients() {
        clientSide_.async_receive_from(asio::buffer(clientBuffer_), client_,
                                       [this](std::error_code error, std::size_t length) {
                                           if (error == asio::error::operation_aborted) {
                                               return;
                                           }
                                           if (!error) {
                                               forwardToServer(length);
                                           }
                                           receiveFromClients();
                                       });
    }

    void forwardToServer(std::size_t length) {
        auto found = upstreams_.find(client_);
        if (found == upstreams_.end()) {
            // 127.0.0.2, 127.0.0.3, ...: every address of 127.0.0.0/8 is on the loopback device.
            const auto index = static_cast<std::uint32_t>(upstreams_.size() % sourceAddressCount_);
            const asio::ip::address_v4 source((127u << 24) | (2u + index));
            auto upstream = std::make_unique<Upstream>(context_, source);
            upstream->client = client_;
            found = upstreams_.emplace(client_, std::move(upstream)).first;
            receiveFromServer(*found->second);
        }
        std::error_code ignored;
        found->second->socket.send_to(asio::buffer(clientBuffer_.data(), length), server_, 0, ignored);
    }

    void receiveFromServer(Upstream& upstream) {
        upstream.socket.async_receive_from(asio::buffer(upstream.buffer), upstream.sender,
                                           [this, &upstream](std::error_code error, std::size_t length) {
                                               if (error == asio::error::operation_aborted) {
                                                   return;
                                               }
                                               if (!error) {
                                                   if (isRetry(upstream.buffer.data(), length)) {
                                                       ++retriesPassed;
                                                       std::error_code ignored;
                                                       clientSide_.send_to(
                                                           asio::buffer(upstream.buffer.data(), length),
                                                           upstream.client, 0, ignored);
                                                   } else if (!upstream.answered) {
                                                       upstream.answered = true;
                                                       ++clientsAnswered;
                                                   }
                                               }
                                               receiveFromServer(upstream);
                                           });
    }

    std::size_t sourceAddressCount_;
    asio::io_context context_;
    asio::ip::udp::socket clientSide_;
    asio::ip::udp::endpoint server_;
    asio::ip::udp::endpoint client_;
    std::array<std::uint8_t, 65536> clientBuffer_{};
    std::map<asio::ip::udp::endpoint, std::unique_ptr<Upstream>> upstreams_;
    std::thread thread_;
};

HandshakeStallingRelay::HandshakeStallingRelay(std::uint16_t serverPort, std::size_t sourceAddressCount)
    : impl_(std::make_unique<Impl>(serverPort, sourceAddressCount)) {}

HandshakeStallingRelay::~HandshakeStallingRelay() = default;

std::uint16_t HandshakeStallingRelay::port() const {
    return impl_->port();
}

std::size_t HandshakeStallingRelay::clientsAnswered() const {
    return impl_->clientsAnswered;
}

std::uint64_t HandshakeStallingRelay::retriesPassed() const {
    return impl_->retriesPassed;
}

}  // namespace quillbridge
