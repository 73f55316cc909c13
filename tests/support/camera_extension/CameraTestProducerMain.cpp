// quillbridge_camera_test_producer [FIRST-INDEX]: feeds the camera's sink with test frames at 30 frames a
// second until it is killed, as the host would. Prints "streaming" once its stream streams.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "support/camera_extension/PipeWireTestCamera.hpp"

int main(int argc, char** argv) {
    using namespace quillbridge;
    std::uint64_t index = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 0;
    PipeWireTestSession session;
    if (!session.isConnected()) {
        std::fprintf(stderr, "no PipeWire server\n");
        return 1;
    }
    TestCameraProducer producer(session);
    if (!producer.waitUntilStreaming(std::chrono::seconds(30))) {
        std::fprintf(stderr, "the producer did not stream\n");
        return 1;
    }
    std::printf("streaming\n");
    std::fflush(stdout);
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        producer.send(index++, monotonicNanoseconds());
        next += std::chrono::microseconds(33'333);
        std::this_thread::sleep_until(next);
    }
}
