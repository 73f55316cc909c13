#include "platform/linux/x11/XcbDisplayWaker.hpp"

#include <cstdlib>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

TEST(XcbDisplayWakerTest, WakesTheDisplayOfTheServer) {
    if (std::getenv("QUILLBRIDGE_TEST_X11") == nullptr) {
        GTEST_SKIP() << "needs the Xvfb of tests/support/run-desktop-services.sh --x11";
    }
    XcbDisplayWaker waker;
    EXPECT_EQ(waker.wakeDisplay("Quillbridge Vision Pro connection").kind,
              DisplayWaker::Outcome::Kind::woken);
    // Again on the same connection.
    EXPECT_EQ(waker.wakeDisplay("Quillbridge Vision Pro connection").kind,
              DisplayWaker::Outcome::Kind::woken);
}

TEST(XcbDisplayWakerTest, WithoutADisplayNothingIsDoneAndSaysSo) {
    XcbDisplayWaker waker(":97531");
    EXPECT_EQ(waker.wakeDisplay("x").kind, DisplayWaker::Outcome::Kind::noDisplay);
}

}  // namespace
}  // namespace quillbridge
