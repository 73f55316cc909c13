#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ScreenRecorderTestFixture.hpp"
#include "core/BlockingWorkPool.hpp"

namespace quillbridge {
namespace {

class ScreenRecorderDisplayChoiceTest : public ScreenRecorderTest {
protected:
    ScreenRecorderDisplayChoiceTest() {
        displays->displays[0].uuid = Uuid::parse("5B1F4D1E-64C2-4B8E-9E0A-2D4C6E8F0A1B");
    }

    std::optional<std::string> storedChoice() const {
        return defaults->string(ScreenRecorder::preferredDisplayDefaultsKey);
    }

    void choose(std::optional<CaptureDisplay> display) {
        run(recorder->setPreferredDisplayIdentifier(std::move(display)));
        settle();
    }
};

struct DisplayChoiceExample {
    const char* name;
    bool writesOnAPool;
    std::size_t chosen;
    const char* identifier;
};

class ScreenRecorderDisplayChoiceExamples : public ScreenRecorderDisplayChoiceTest,
                                            public testing::WithParamInterface<DisplayChoiceExample> {};

TEST_P(ScreenRecorderDisplayChoiceExamples, TheChosenDisplayIsRememberedSelectedCapturedAndOutlivesARefresh) {
    const auto& example = GetParam();
    std::unique_ptr<BlockingWorkPool> pool;
    if (example.writesOnAPool) {
        pool = std::make_unique<BlockingWorkPool>(1);
        blockingWork = pool.get();
    }
    makeRecorder();
    startServices();
    connectHeadset();
    ASSERT_EQ(recorder->selectedDisplay()->displayID, 1u);
    ASSERT_EQ(factory->streams.size(), 1u);

    const CaptureDisplay display = recorder->availableDisplays()[example.chosen];
    choose(display);
    EXPECT_EQ(storedChoice(), example.identifier);
    EXPECT_EQ(recorder->selectedDisplay(), display);
    // A new display restarts the running capture on it; the one already captured changes nothing.
    const std::size_t expectedStreams = display.displayID == 1u ? 1u : 2u;
    EXPECT_EQ(factory->streams.size(), expectedStreams);
    EXPECT_TRUE(recorder->isRunning());
    EXPECT_EQ(lastStream()->filter.display.displayID, display.displayID);
    EXPECT_EQ(session->displayReports.back().displayID, display.displayID);

    // The stored choice wins over the list's first display at the next refresh.
    run(recorder->refreshAvailableContent());
    EXPECT_EQ(recorder->selectedDisplay()->displayID, display.displayID);
    EXPECT_EQ(factory->streams.size(), expectedStreams);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, ScreenRecorderDisplayChoiceExamples,
    testing::Values(DisplayChoiceExample{"Uuid", false, 0, "5B1F4D1E-64C2-4B8E-9E0A-2D4C6E8F0A1B"},
                    DisplayChoiceExample{"DisplayID", false, 1, "displayID:2"},
                    DisplayChoiceExample{"WrittenOffTheMainActor", true, 1, "displayID:2"}),
    [](const testing::TestParamInfo<DisplayChoiceExample>& info) { return std::string(info.param.name); });

TEST_F(ScreenRecorderDisplayChoiceTest, ChoosingNoDisplayForgetsTheChoiceAndTheNextRefreshTakesTheFirst) {
    defaults->setString(ScreenRecorder::preferredDisplayDefaultsKey, "displayID:2");
    makeRecorder();
    startServices();
    ASSERT_EQ(recorder->selectedDisplay()->displayID, 2u);

    choose(std::nullopt);
    EXPECT_EQ(storedChoice(), std::nullopt);
    EXPECT_EQ(recorder->selectedDisplay(), std::nullopt);
    EXPECT_FALSE(session->displayReports.back().displayID.has_value());

    run(recorder->refreshAvailableContent());
    EXPECT_EQ(recorder->selectedDisplay()->displayID, 1u);
}

TEST_F(ScreenRecorderDisplayChoiceTest, AChoiceThatCannotBeStoredIsStillSelected) {
    defaults->failWrites = true;
    makeRecorder();
    startServices();
    choose(recorder->availableDisplays()[1]);
    EXPECT_EQ(storedChoice(), std::nullopt);
    EXPECT_EQ(recorder->selectedDisplay()->displayID, 2u);
    EXPECT_EQ(session->displayReports.back().displayID, 2u);
}

}  // namespace
}  // namespace quillbridge
