// The IO cycle's real-time rules: reading input takes no lock (it completes while another thread holds both
// of the driver's locks) and allocates nothing.

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <new>

#include "support/microphone/MicrophoneDriverHarness.hpp"

namespace {

// Counts the allocations made on a thread while it asks for them to be counted.
thread_local bool countAllocations = false;
thread_local std::size_t allocationCount = 0;

}  // namespace

void* operator new(std::size_t size) {
    if (countAllocations) {
        ++allocationCount;
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace quillbridge {
namespace {

using namespace microphone;

TEST(MicrophoneRealTimeTests, ReadingInputCompletesWhileAnotherThreadHoldsBothLocks) {
    MicrophoneDriverHarness harness;
    std::vector<float> samples(4000, 0.25f);
    ASSERT_EQ(harness.writeSamples(samples), 0);
    std::scoped_lock locks(MicrophoneDriverTestAccess::stateMutex(*harness.driver),
                           MicrophoneDriverTestAccess::clockMutex(*harness.driver));
    auto reading = std::async(std::launch::async, [&harness] {
        for (int cycle = 0; cycle < 5; ++cycle) {
            harness.readInput(480, 1'000'000'000);
        }
        return harness.lastIOStatus;
    });
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "the IO cycle waited for a lock";
    EXPECT_EQ(reading.get(), 0);
}

TEST(MicrophoneRealTimeTests, ReadingInputAllocatesNothing) {
    MicrophoneDriverHarness harness;
    std::vector<float> samples(16384, 0.25f);
    ASSERT_EQ(harness.writeSamples(samples), 0);
    std::vector<float> output(480);
    MicrophoneIOCycleInfo cycle;
    cycle.outputTime.hostTime = 1'000'000'000;
    cycle.outputTime.flags = MicrophoneTimeStamp::hostTimeValid;
    allocationCount = 0;
    countAllocations = true;
    for (int index = 0; index < 40; ++index) {
        harness.table().doIOOperation(harness.ref, deviceObjectID, inputStreamObjectID, 0,
                                      microphone_io::readInput, 480, &cycle, output.data(), nullptr);
    }
    countAllocations = false;
    EXPECT_EQ(allocationCount, 0u);
    EXPECT_GT(harness.diagnostics().underflows, 0) << "the cycles covered playing and running dry";
}

}  // namespace
}  // namespace quillbridge
