#include <stdexcept>
#include <system_error>

#include <gtest/gtest.h>

#include "platform/quic/QuicTestFixture.hpp"

namespace quillbridge {
namespace {

// The certificate validator runs inside the TLS library, called from C: what it throws fails that one
// handshake instead of ending the engine thread, and the host goes on serving.
TEST_F(QuicTransportFixture, AValidatorThatThrowsFailsOnlyThatHandshake) {
    auto parameters = listenerParameters();
    std::atomic<int> calls{0};
    parameters.certificateValidator = [&calls](ByteView) -> bool {
        if (++calls == 1) {
            throw std::runtime_error("the validator broke");
        }
        return true;
    };
    auto listener = listen(parameters);
    try {
        run(headset.connect(listener->localPort()));
        ADD_FAILURE() << "the handshake was accepted";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), QuicError::handshakeFailed) << error.what();
    }
    auto [server, client] = run(acceptAndConnect(*listener, headset));
    EXPECT_EQ(server->state().kind, QuicConnectionState::Kind::ready);
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace quillbridge
