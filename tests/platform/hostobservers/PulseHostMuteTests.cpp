#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/SystemAudioMuteController.hpp"
#include "platform/linux/pulse/PulseAudioOutputMuteControls.hpp"
#include "platform/linux/pulse/PulseOutputVolume.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

constexpr const char* sinkA = "quillbridge_sink_a";
constexpr const char* sinkB = "quillbridge_sink_b";

// The states the sound server reported for each sink, so a test can wait until a change has reached the
// controller's connection before it goes on.
class ReportedStates {
public:
    void add(const std::string& control, bool muted) {
        std::lock_guard lock(mutex_);
        reports_[control].push_back(muted);
        changed_.notify_all();
    }
    // Waits (bounded generously) until the sink's latest report is `muted` and at least `count` arrived.
    bool waitFor(const std::string& control, std::size_t count, bool muted) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] {
            const auto& reports = reports_[control];
            return reports.size() >= count && reports.back() == muted;
        });
    }
    std::size_t count(const std::string& control) {
        std::lock_guard lock(mutex_);
        return reports_[control].size();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, std::vector<bool>> reports_;
};

// Passes everything to the real controls and notes what their observers report.
class RecordingControls final : public AudioOutputMuteControls {
public:
    RecordingControls(std::unique_ptr<AudioOutputMuteControls> controls,
                      std::shared_ptr<ReportedStates> reports)
        : controls_(std::move(controls)), reports_(std::move(reports)) {}

    std::vector<std::string> outputMuteControls() override { return controls_->outputMuteControls(); }
    std::optional<bool> readMute(const std::string& control) override { return controls_->readMute(control); }
    bool writeMute(const std::string& control, bool muted) override {
        return controls_->writeMute(control, muted);
    }
    bool observe(const std::string& control, std::function<void(bool)> changed) override {
        return controls_->observe(control, [reports = reports_, control, changed](bool muted) {
            changed(muted);
            reports->add(control, muted);
        });
    }
    void stopObserving(const std::string& control) override { controls_->stopObserving(control); }

private:
    std::unique_ptr<AudioOutputMuteControls> controls_;
    std::shared_ptr<ReportedStates> reports_;
};

class PulseHostMuteTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_PULSE") == nullptr) {
            GTEST_SKIP() << "needs a private PulseAudio (run under run-desktop-services.sh --pulse)";
        }
        user_ = connect();
        ASSERT_NE(user_, nullptr);
        // Each test starts with both sinks unmuted.
        ASSERT_TRUE(user_->writeMute(sinkA, false));
        ASSERT_TRUE(user_->writeMute(sinkB, false));
        controller_ = std::make_unique<SystemAudioMuteController>(
            std::make_unique<RecordingControls>(connect(), reports_));
    }

    static std::unique_ptr<PulseAudioOutputMuteControls> connect() {
        std::string error;
        auto controls = PulseAudioOutputMuteControls::connect(10s, &error);
        EXPECT_NE(controls, nullptr) << error;
        return controls;
    }

    // A second client of the sound server, standing for the user's mixer.
    std::unique_ptr<PulseAudioOutputMuteControls> user_;
    std::shared_ptr<ReportedStates> reports_ = std::make_shared<ReportedStates>();
    std::unique_ptr<SystemAudioMuteController> controller_;
};

TEST_F(PulseHostMuteTest, ListsEverySinkAndReadsItsMute) {
    std::vector<std::string> sinks = user_->outputMuteControls();
    EXPECT_EQ(sinks, (std::vector<std::string>{sinkA, sinkB}));
    ASSERT_TRUE(user_->writeMute(sinkB, true));
    EXPECT_EQ(user_->readMute(sinkA), false);
    EXPECT_EQ(user_->readMute(sinkB), true);
    EXPECT_EQ(user_->readMute("no_such_sink"), std::nullopt);
    EXPECT_FALSE(user_->writeMute("no_such_sink", true));
    EXPECT_FALSE(user_->observe("no_such_sink", [](bool) {}));
}

TEST_F(PulseHostMuteTest, ASinkMutedByTheUserBeforehandStaysMutedAfterTheSession) {
    ASSERT_TRUE(user_->writeMute(sinkB, true));

    ASSERT_TRUE(controller_->muteOutputDevices().has_value());
    EXPECT_EQ(user_->readMute(sinkA), true);
    EXPECT_EQ(user_->readMute(sinkB), true);

    controller_->restoreSavedMuteStates();
    EXPECT_EQ(user_->readMute(sinkA), false);
    EXPECT_EQ(user_->readMute(sinkB), true);
}

TEST_F(PulseHostMuteTest, ASinkTheUserChangedDuringTheSessionIsLeftAsTheUserSetIt) {
    ASSERT_TRUE(controller_->muteOutputDevices().has_value());
    // The controller's own mute comes back as a report first.
    ASSERT_TRUE(reports_->waitFor(sinkA, 1, true));

    // The user unmutes sink A and mutes it again; sink B is left alone.
    ASSERT_TRUE(user_->writeMute(sinkA, false));
    ASSERT_TRUE(reports_->waitFor(sinkA, 2, false));
    ASSERT_TRUE(user_->writeMute(sinkA, true));
    ASSERT_TRUE(reports_->waitFor(sinkA, 3, true));

    controller_->restoreSavedMuteStates();
    EXPECT_EQ(user_->readMute(sinkA), true);
    EXPECT_EQ(user_->readMute(sinkB), false);

    // Once restored, the sinks are no longer watched.
    std::size_t reported = reports_->count(sinkA);
    ASSERT_TRUE(user_->writeMute(sinkA, false));
    EXPECT_EQ(user_->readMute(sinkA), false);
    EXPECT_EQ(reports_->count(sinkA), reported);
}

// A sink changes for many reasons (here its volume, moved by a mixer all along). The server's answer about a
// change made just before the controller mutes tells the state before the mute: it must not pass for the
// user's unmute, or the restore would leave the sink muted.
TEST_F(PulseHostMuteTest, OtherChangesOfASinkWhileMutingAreNotTakenForTheUsers) {
    std::atomic<bool> stopping{false};
    std::thread mixer([&] {
        PulseOutputVolume volume;
        while (!stopping) {
            volume.lowerVolume();
            volume.raiseVolume();
        }
    });
    int leftMuted = 0;
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(controller_->muteOutputDevices().has_value());
        // Time for the answers under way to reach the controller.
        std::this_thread::sleep_for(20ms);
        controller_->restoreSavedMuteStates();
        leftMuted += user_->readMute(sinkA) == true;
        ASSERT_TRUE(user_->writeMute(sinkA, false));
    }
    stopping = true;
    mixer.join();
    EXPECT_EQ(leftMuted, 0);
}

}  // namespace
}  // namespace quillbridge
