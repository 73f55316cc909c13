#include "capture/SystemAudioMuteController.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/FakeAudioOutputMuteControls.hpp"
#include "support/FakeSystemAudioRouting.hpp"

namespace quillbridge {
namespace {

using State = FakeAudioOutputMuteControls::State;

class SystemAudioMuteControllerTest : public testing::Test {
protected:
    // Outputs "speakers" and "headphones", with the given states before the session.
    void setUpOutputs(bool speakersMuted, bool headphonesMuted) {
        state_->outputs = {"speakers", "headphones"};
        state_->controls["speakers"].muted = speakersMuted;
        state_->controls["headphones"].muted = headphonesMuted;
    }
    SystemAudioMuteController& controller() {
        if (!controller_) {
            controller_ = std::make_unique<SystemAudioMuteController>(
                std::make_unique<FakeAudioOutputMuteControls>(state_));
        }
        return *controller_;
    }

    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::unique_ptr<SystemAudioMuteController> controller_;
};

struct UserChange {
    std::string control;
    bool muted;
};

struct RestoreCase {
    const char* name;
    bool speakersMutedBefore;
    bool headphonesMutedBefore;
    std::vector<UserChange> userChangesDuringSession;
    bool speakersMutedAfter;
    bool headphonesMutedAfter;
};

TEST_F(SystemAudioMuteControllerTest, RestorePutsBackOnlyWhatItMutedAndNobodyTouched) {
    const RestoreCase cases[] = {
        {"both unmuted before", false, false, {}, false, false},
        {"one muted by the user before", false, true, {}, false, true},
        {"both muted before", true, true, {}, true, true},
        {"user unmutes during the session", false, false, {{"speakers", false}}, false, false},
        {"user unmutes and mutes again",
         false,
         false,
         {{"speakers", false}, {"speakers", true}},
         true,
         false},
        {"user unmutes an output muted before", false, true, {{"headphones", false}}, false, false},
    };
    for (const RestoreCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        state_ = std::make_shared<State>();
        controller_.reset();
        setUpOutputs(testCase.speakersMutedBefore, testCase.headphonesMutedBefore);

        ASSERT_TRUE(controller().muteOutputDevices().has_value());
        EXPECT_TRUE(controller().isActive());
        EXPECT_TRUE(state_->muted("speakers"));
        EXPECT_TRUE(state_->muted("headphones"));
        for (const UserChange& change : testCase.userChangesDuringSession) {
            state_->userSetsMute(change.control, change.muted);
        }

        controller().restoreSavedMuteStates();
        EXPECT_FALSE(controller().isActive());
        EXPECT_EQ(state_->muted("speakers"), testCase.speakersMutedAfter);
        EXPECT_EQ(state_->muted("headphones"), testCase.headphonesMutedAfter);
        EXPECT_FALSE(state_->isObserved("speakers"));
        EXPECT_FALSE(state_->isObserved("headphones"));
    }
}

TEST_F(SystemAudioMuteControllerTest, MutingTwiceMutesOnceAndRestoringWhenIdleDoesNothing) {
    setUpOutputs(false, false);
    state_->outputs.push_back("speakers");  // The same device in two roles.

    controller().restoreSavedMuteStates();
    EXPECT_EQ(state_->writes, 0);

    ASSERT_TRUE(controller().muteOutputDevices().has_value());
    ASSERT_TRUE(controller().muteOutputDevices().has_value());
    EXPECT_EQ(state_->writes, 2);

    controller().restoreSavedMuteStates();
    controller().restoreSavedMuteStates();
    EXPECT_EQ(state_->writes, 4);
    EXPECT_FALSE(state_->muted("speakers"));
}

TEST_F(SystemAudioMuteControllerTest, AMuteAfterARestoreSavesTheStatesAfresh) {
    setUpOutputs(false, false);
    ASSERT_TRUE(controller().muteOutputDevices().has_value());
    controller().restoreSavedMuteStates();

    // Between sessions the user mutes the headphones; the next session must keep them muted afterwards.
    state_->userSetsMute("headphones", true);
    ASSERT_TRUE(controller().muteOutputDevices().has_value());
    controller().restoreSavedMuteStates();
    EXPECT_FALSE(state_->muted("speakers"));
    EXPECT_TRUE(state_->muted("headphones"));
}

TEST_F(SystemAudioMuteControllerTest, ControlsThatCannotBeUsedAreSkipped) {
    setUpOutputs(false, false);
    state_->outputs = {"speakers", "headphones", "hdmi", "missing"};
    state_->controls["headphones"].writable = false;
    state_->controls["hdmi"].observable = false;

    ScopedLogCapture logs;
    ASSERT_TRUE(controller().muteOutputDevices().has_value());
    EXPECT_TRUE(state_->muted("speakers"));
    EXPECT_FALSE(state_->muted("headphones"));
    EXPECT_FALSE(state_->muted("hdmi"));
    // A control whose write failed is no longer watched, so the restore leaves it alone.
    EXPECT_FALSE(state_->isObserved("headphones"));
    EXPECT_EQ(logs.messages("SystemAudioMuteController"),
              (std::vector<std::string>{"Could not set output mute property: device=headphones",
                                        "Could not observe output mute state: device=hdmi"}));

    controller().restoreSavedMuteStates();
    EXPECT_FALSE(state_->muted("speakers"));
}

TEST_F(SystemAudioMuteControllerTest, NoSettableControlIsAnErrorAndLeavesNothingInForce) {
    struct Case {
        const char* name;
        std::vector<std::string> outputs;
        bool writable;
    };
    const Case cases[] = {
        {"no outputs", {}, true},
        {"read-only control", {"speakers"}, false},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        state_ = std::make_shared<State>();
        controller_.reset();
        state_->outputs = testCase.outputs;
        state_->controls["speakers"].writable = testCase.writable;

        ScopedLogCapture logs;
        auto result = controller().muteOutputDevices();
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), MuteError::noSettableMuteControl);
        EXPECT_FALSE(controller().isActive());
    }
    EXPECT_EQ(muteErrorDescription(MuteError::noSettableMuteControl),
              "The active audio output device does not provide a settable mute control.");
}

TEST_F(SystemAudioMuteControllerTest, DestroyingTheControllerRestores) {
    setUpOutputs(false, true);
    ASSERT_TRUE(controller().muteOutputDevices().has_value());
    controller_.reset();
    EXPECT_FALSE(state_->muted("speakers"));
    EXPECT_TRUE(state_->muted("headphones"));
    EXPECT_FALSE(state_->isObserved("speakers"));
}

class SystemAudioMuteControllerRoutingTest : public SystemAudioMuteControllerTest {
protected:
    SystemAudioMuteController& routedController() {
        if (!controller_) {
            controller_ = std::make_unique<SystemAudioMuteController>(
                std::make_unique<FakeAudioOutputMuteControls>(state_),
                std::make_unique<FakeSystemAudioRouting>(routing_));
        }
        return *controller_;
    }
    std::vector<std::string> journal() { return routing_->journal(); }

    std::shared_ptr<FakeSystemAudioRouting::State> routing_ =
        std::make_shared<FakeSystemAudioRouting::State>();
};

TEST_F(SystemAudioMuteControllerRoutingTest, SoundGoesToTheCaptureBeforeMutingAndBackBeforeUnmuting) {
    setUpOutputs(false, false);
    // Whether the speakers were muted at each routing call.
    std::vector<bool> speakersMutedAtCall;
    routing_->observer = [&](const std::string&) {
        speakersMutedAtCall.push_back(state_->muted("speakers"));
    };

    // A routing left by an earlier run is undone first; not muting moves nothing.
    routedController().restoreSavedMuteStates();
    EXPECT_EQ(journal(), (std::vector<std::string>{"recover"}));

    ASSERT_TRUE(routedController().muteOutputDevices().has_value());
    ASSERT_TRUE(routedController().muteOutputDevices().has_value());
    EXPECT_TRUE(routing_->routed());
    EXPECT_TRUE(state_->muted("speakers"));

    routedController().restoreSavedMuteStates();
    routedController().restoreSavedMuteStates();
    EXPECT_FALSE(routing_->routed());
    EXPECT_FALSE(state_->muted("speakers"));
    EXPECT_EQ(journal(), (std::vector<std::string>{"recover", "route", "restore"}));
    EXPECT_EQ(speakersMutedAtCall, (std::vector<bool>{false, false, true}));
}

TEST_F(SystemAudioMuteControllerRoutingTest, TheRoutingFollowsWhetherMutingIsInForce) {
    struct Case {
        const char* name;
        bool refusesRouting;
        bool writable;
        bool muted;
        std::vector<std::string> journalAfterMute;
    };
    const Case cases[] = {
        {"a refused routing still mutes", true, true, true, {"recover", "route"}},
        {"nothing muted undoes the routing", false, false, false, {"recover", "route", "restore"}},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        state_ = std::make_shared<State>();
        routing_ = std::make_shared<FakeSystemAudioRouting::State>();
        controller_.reset();
        setUpOutputs(false, false);
        state_->controls["speakers"].writable = testCase.writable;
        state_->controls["headphones"].writable = testCase.writable;
        routing_->refusesRouting = testCase.refusesRouting;

        EXPECT_EQ(routedController().muteOutputDevices().has_value(), testCase.muted);
        EXPECT_EQ(state_->muted("speakers"), testCase.muted);
        EXPECT_FALSE(routing_->routed());
        EXPECT_EQ(journal(), testCase.journalAfterMute);
        // Nothing routed: nothing to put back.
        routedController().restoreSavedMuteStates();
        EXPECT_EQ(journal(), testCase.journalAfterMute);
    }
}

TEST_F(SystemAudioMuteControllerRoutingTest, DestroyingTheControllerPutsTheSoundBack) {
    setUpOutputs(false, false);
    ASSERT_TRUE(routedController().muteOutputDevices().has_value());
    controller_.reset();
    EXPECT_FALSE(routing_->routed());
    EXPECT_FALSE(state_->muted("speakers"));
    EXPECT_EQ(journal(), (std::vector<std::string>{"recover", "route", "restore"}));
}

}  // namespace
}  // namespace quillbridge
