#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>
#include <asio/io_context.hpp>

#include "platform/quic/QuicTestFixture.hpp"
#include "support/FakeQuicTransport.hpp"

namespace quillbridge {
namespace {

// Records the calls of one state handler.
class HandlerLog {
public:
    QuicConnection::StateHandler handler() {
        return [this](const QuicConnectionState& state) {
            std::lock_guard lock(mutex_);
            states_.push_back(state);
        };
    }
    std::vector<QuicConnectionState> seen() const {
        std::lock_guard lock(mutex_);
        return states_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<QuicConnectionState> states_;
};

// What the owner does to its first handler before the connection ends.
enum class Change { replaced, cleared, released };

struct ChangeCase {
    const char* name;
    Change change;
};

constexpr ChangeCase changeCases[] = {
    {"replaced", Change::replaced},
    {"cleared", Change::cleared},
    {"released", Change::released},
};

const QuicConnectionState ready{QuicConnectionState::Kind::ready, {}};
const QuicConnectionState cancelled{QuicConnectionState::Kind::cancelled,
                                    make_error_code(QuicError::connectionClosed)};
const QuicConnectionState closedByPeer{QuicConnectionState::Kind::failed,
                                       make_error_code(QuicError::closedByPeer)};

// The owner's executor is an io_context that runs only at the end, so every call that was posted to a
// handler waits there, whatever happened to the handler meanwhile: none may reach a handler that was
// replaced, cleared or released, while a close by the owner still reaches the handler installed then.
TEST_F(QuicTransportFixture, AStateHandlerThatWasReplacedClearedOrReleasedIsNeverCalledAgain) {
    auto listener = listen(listenerParameters());
    for (const auto& c : changeCases) {
        SCOPED_TRACE(c.name);
        auto [server, client] = run(acceptAndConnect(*listener, headset));
        asio::io_context owner;
        HandlerLog first;
        HandlerLog second;
        server->setStateHandler(owner.get_executor(), first.handler());
        switch (c.change) {
            case Change::replaced:
                server->setStateHandler(owner.get_executor(), second.handler());
                break;
            case Change::cleared:
                server->setStateHandler(owner.get_executor(), nullptr);
                break;
            case Change::released:
                server.reset();
                break;
        }
        if (server) {
            server->close(5);
        }
        ASSERT_TRUE(run(waitUntil([&] { return client->state().kind != QuicConnectionState::Kind::ready; })));
        EXPECT_EQ(client->state(), closedByPeer);
        EXPECT_EQ(client->closeInfo().applicationErrorCode, server ? 5u : 0u);
        // A round trip through the host's engine thread: whatever it posted before is with the owner now.
        listen(listenerParameters());
        owner.poll();
        EXPECT_TRUE(first.seen().empty());
        const auto expected =
            c.change == Change::replaced ? std::vector{ready, cancelled} : std::vector<QuicConnectionState>{};
        EXPECT_EQ(second.seen(), expected);
    }
}

// The fake keeps the same promise, and a released end closes its peer as the real one does.
TEST(FakeQuicConnectionStateHandler, AStateHandlerThatWasReplacedClearedOrReleasedIsNeverCalledAgain) {
    for (const auto& c : changeCases) {
        SCOPED_TRACE(c.name);
        auto [host, headset] = FakeQuicConnection::makePair();
        asio::io_context owner;
        HandlerLog first;
        HandlerLog second;
        HandlerLog peer;
        headset->setStateHandler(owner.get_executor(), peer.handler());
        host->setStateHandler(owner.get_executor(), first.handler());
        switch (c.change) {
            case Change::replaced:
                host->setStateHandler(owner.get_executor(), second.handler());
                break;
            case Change::cleared:
                host->setStateHandler(owner.get_executor(), nullptr);
                break;
            case Change::released:
                host.reset();
                break;
        }
        if (host) {
            host->close(5);
        }
        owner.poll();
        EXPECT_TRUE(first.seen().empty());
        const auto expected =
            c.change == Change::replaced ? std::vector{ready, cancelled} : std::vector<QuicConnectionState>{};
        EXPECT_EQ(second.seen(), expected);
        EXPECT_EQ(peer.seen(), (std::vector{ready, closedByPeer}));
        EXPECT_EQ(headset->closeInfo(), (QuicConnectionCloseInfo{true, host ? 5u : 0u, std::nullopt}));
    }
}

}  // namespace
}  // namespace quillbridge
