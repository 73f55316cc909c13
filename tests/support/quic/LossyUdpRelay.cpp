#include "support/quic/LossyUdpRelay.hpp"

#include <array>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include "support/quic/TestLoopback.hpp"

namespace quillbridge {

class LossyUdpRelay::Impl {
public:
    static asio::ip::address loopback() { return asio::ip::make_address(testLoopbackAddress()); }

    Impl(std::uint16_t serverPort, Options options)
        : options_(options),
          random_(options.seed),
          clientSide_(context_, asio::ip::udp::endpoint(loopback(), 0)),
          serverSide_(context_, asio::ip::udp::endpoint(loopback(), 0)),
          server_(loopback(), serverPort),
          timer_(context_) {
        receiveFromClient();
        receiveFromServer();
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

    void retarget(std::uint16_t serverPort) {
        asio::post(context_, [this, serverPort] { server_.port(serverPort); });
    }

    std::atomic<std::uint64_t> forwarded{0};
    std::atomic<std::uint64_t> dropped{0};
    std::atomic<std::size_t> clientsForwarded{0};

private:
    struct Pending {
        std::vector<std::uint8_t> data;
        bool toServer = false;
        asio::ip::udp::endpoint client;
    };

    void receiveFromClient() {
        clientSide_.async_receive_from(asio::buffer(clientBuffer_), client_,
                                       [this](std::error_code error, std::size_t length) {
                                           if (error == asio::error::operation_aborted) {
                                               return;
                                           }
                                           if (!error) {
                                               relay(clientBuffer_.data(), length, true);
                                           }
                                           receiveFromClient();
                                       });
    }

    void receiveFromServer() {
        serverSide_.async_receive_from(asio::buffer(serverBuffer_), serverSender_,
                                       [this](std::error_code error, std::size_t length) {
                                           if (error == asio::error::operation_aborted) {
                                               return;
                                           }
                                           if (!error) {
                                               relay(serverBuffer_.data(), length, false);
                                           }
                                           receiveFromServer();
                                       });
    }

    void relay(const std::uint8_t* data, std::size_t length, bool toServer) {
        if ((!toServer && !options_.forwardsToClient) ||
            std::uniform_real_distribution<double>(0.0, 1.0)(random_) < options_.lossRate) {
            ++dropped;
            return;
        }
        ++forwarded;
        const auto due = std::chrono::steady_clock::now() + options_.delay;
        pending_.emplace(due, Pending{std::vector<std::uint8_t>(data, data + length), toServer, client_});
        schedule();
    }

    void schedule() {
        if (pending_.empty()) {
            return;
        }
        const auto due = pending_.begin()->first;
        if (armed_ && armedFor_ <= due) {
            return;
        }
        armed_ = true;
        armedFor_ = due;
        timer_.expires_at(due);
        timer_.async_wait([this](std::error_code error) {
            if (error) {
                return;
            }
            armed_ = false;
            const auto now = std::chrono::steady_clock::now();
            while (!pending_.empty() && pending_.begin()->first <= now) {
                auto node = pending_.extract(pending_.begin());
                std::error_code ignored;
                if (node.mapped().toServer) {
                    serverSide_.send_to(asio::buffer(node.mapped().data), server_, 0, ignored);
                    clients_.insert(node.mapped().client);
                    clientsForwarded = clients_.size();
                } else {
                    clientSide_.send_to(asio::buffer(node.mapped().data), client_, 0, ignored);
                }
            }
            schedule();
        });
    }

    Options options_;
    std::mt19937 random_;
    asio::io_context context_;
    asio::ip::udp::socket clientSide_;
    asio::ip::udp::socket serverSide_;
    asio::ip::udp::endpoint server_;
    asio::ip::udp::endpoint client_;
    asio::ip::udp::endpoint serverSender_;
    std::array<std::uint8_t, 65536> clientBuffer_{};
    std::array<std::uint8_t, 65536> serverBuffer_{};
    std::multimap<std::chrono::steady_clock::time_point, Pending> pending_;
    std::set<asio::ip::udp::endpoint> clients_;
    asio::steady_timer timer_;
    bool armed_ = false;
    std::chrono::steady_clock::time_point armedFor_{};
    std::thread thread_;
};

LossyUdpRelay::LossyUdpRelay(std::uint16_t serverPort, Options options)
    : impl_(std::make_unique<Impl>(serverPort, options)) {}

LossyUdpRelay::~LossyUdpRelay() = default;

std::uint16_t LossyUdpRelay::port() const {
    return impl_->port();
}

void LossyUdpRelay::retarget(std::uint16_t serverPort) {
    impl_->retarget(serverPort);
}

std::uint64_t LossyUdpRelay::forwarded() const {
    return impl_->forwarded;
}

std::uint64_t LossyUdpRelay::dropped() const {
    return impl_->dropped;
}

std::size_t LossyUdpRelay::clientsForwarded() const {
    return impl_->clientsForwarded;
}

}  // namespace quillbridge
