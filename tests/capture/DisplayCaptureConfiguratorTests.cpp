#include "capture/DisplayCaptureConfigurator.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "capture/DisplayCaptureSignature.hpp"
#include "core/Logger.hpp"

namespace quillbridge {
namespace {

using ::testing::ElementsAre;

CaptureDisplay display(std::uint32_t id, double pointWidth, double pointHeight, std::optional<int> pixelWidth,
                       std::optional<int> pixelHeight, std::optional<double> refresh) {
    CaptureDisplay result;
    result.displayID = id;
    result.frame = CaptureRect{0, 0, pointWidth, pointHeight};
    result.pointSize = CaptureSize{pointWidth, pointHeight};
    result.pixelWidth = pixelWidth;
    result.pixelHeight = pixelHeight;
    result.modeRefreshRate = refresh;
    return result;
}

TEST(DisplayCaptureConfiguratorTest, IdentifiersComeFromTheUuidOrTheDisplayID) {
    auto withUuid = display(4, 1920, 1080, 1920, 1080, 60);
    withUuid.uuid = Uuid::parse("0e8a3c5d-1b2f-4a6e-9c7d-5f4e3d2c1b0a");
    EXPECT_EQ(DisplayCaptureConfigurator::displayIdentifier(withUuid),
              "0E8A3C5D-1B2F-4A6E-9C7D-5F4E3D2C1B0A");
    EXPECT_EQ(DisplayCaptureConfigurator::displayIdentifier(display(69, 1920, 1080, 1920, 1080, 60)),
              "displayID:69");

    EXPECT_EQ(DisplayCaptureConfigurator::selectionIdentifier(display(3, 1511.5, 981.4, 3024, 1964, 119.88)),
              "3-1512-981-3024-1964-120");
    EXPECT_EQ(
        DisplayCaptureConfigurator::selectionIdentifier(display(3, 800, 600, std::nullopt, std::nullopt, 0)),
        "3-800-600-0-0-0");
}

TEST(DisplayCaptureConfiguratorTest, ThePreferredDisplayIsTheStoredOneThenTheSelectedOneThenTheFirst) {
    auto first = display(1, 1920, 1080, 1920, 1080, 60);
    first.uuid = Uuid::parse("11111111-1111-4111-8111-111111111111");
    const auto second = display(2, 2560, 1440, 2560, 1440, 144);
    auto oldSecond = second;
    oldSecond.frame.x = 99;
    const std::vector<CaptureDisplay> displays{first, second};
    struct Case {
        const char* name;
        std::vector<CaptureDisplay> displays;
        std::optional<std::string> stored;
        std::optional<CaptureDisplay> selected;
        std::optional<std::uint32_t> expectedID;
    };
    const Case cases[] = {
        {"stored UUID", displays, "11111111-1111-4111-8111-111111111111", second, 1},
        {"stored display ID form", displays, "displayID:2", first, 2},
        {"unknown stored identifier falls to the selection", displays, "displayID:7", oldSecond, 2},
        {"no preference keeps the selection", displays, std::nullopt, oldSecond, 2},
        {"nothing selected gives the first", displays, std::nullopt, std::nullopt, 1},
        {"a selection that is gone gives the first", displays, std::nullopt, display(9, 1, 1, 1, 1, 60), 1},
        {"no displays", {}, "displayID:2", second, std::nullopt},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto preferred = DisplayCaptureConfigurator::preferredDisplay(
            testCase.displays, testCase.stored, testCase.selected);
        ASSERT_EQ(preferred.has_value(), testCase.expectedID.has_value());
        if (preferred) {
            EXPECT_EQ(preferred->displayID, *testCase.expectedID);
            // The list's entry replaces the old object.
            EXPECT_EQ(*preferred, testCase.displays[*testCase.expectedID - 1]);
        }
    }
}

TEST(DisplayCaptureConfiguratorTest, StreamConfigurationSizesAndIntervals) {
    struct Case {
        const char* name;
        std::optional<CaptureDisplay> display;
        CaptureResolutionOption resolution;
        StreamFrameRateOption frameRate;
        std::uint32_t width, height;
        int effectiveFrameRate;
        CaptureFrameInterval interval;
    };
    const Case cases[] = {
        {"retina at half", display(1, 1512, 982, 3024, 1964, 60), CaptureResolutionOption::half,
         StreamFrameRateOption::fps120, 1512, 982, 60, CaptureFrameInterval::zero()},
        {"odd result is made even", display(1, 1511, 983, 3022, 1967, 60), CaptureResolutionOption::half,
         StreamFrameRateOption::fps30, 1510, 982, 30, CaptureFrameInterval::perSecond(30)},
        {"tiny display gives 2", display(1, 3, 1, 3, 1, 60), CaptureResolutionOption::half,
         StreamFrameRateOption::fps60, 2, 2, 60, CaptureFrameInterval::zero()},
        {"no pixel size uses points", display(1, 1280, 720, std::nullopt, std::nullopt, 59.94),
         CaptureResolutionOption::full, StreamFrameRateOption::fps90, 1280, 720, 60,
         CaptureFrameInterval::zero()},
        {"unknown refresh keeps the request", display(1, 1920, 1080, 1920, 1080, std::nullopt),
         CaptureResolutionOption::full, StreamFrameRateOption::fps90, 1920, 1080, 90,
         CaptureFrameInterval::perSecond(90)},
        {"no display", std::nullopt, CaptureResolutionOption::full, StreamFrameRateOption::fps60, 0, 0, 60,
         CaptureFrameInterval::perSecond(60)},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        CaptureSettings settings{testCase.resolution, testCase.frameRate, false, false};
        ScopedLogCapture logs;
        const auto configuration =
            DisplayCaptureConfigurator::streamConfiguration(testCase.display, settings);
        EXPECT_EQ(configuration.width, testCase.width);
        EXPECT_EQ(configuration.height, testCase.height);
        EXPECT_EQ(DisplayCaptureConfigurator::effectiveFrameRate(testCase.frameRate, testCase.display),
                  testCase.effectiveFrameRate);
        EXPECT_EQ(configuration.minimumFrameInterval, testCase.interval);
        EXPECT_EQ(configuration.queueDepth, 3);
        EXPECT_TRUE(configuration.capturesAudio);
        EXPECT_EQ(configuration.sampleRate, 48000);
        EXPECT_EQ(configuration.channelCount, 2);
        EXPECT_TRUE(configuration.excludesCurrentProcessAudio);
        EXPECT_FALSE(configuration.capturesMicrophone);
        EXPECT_FALSE(configuration.hdrPreset);
    }
    const auto hdr = display(1, 1920, 1080, 1920, 1080, 60);
    EXPECT_EQ(DisplayCaptureConfigurator::streamConfiguration(hdr, {{}, {}, true, false}).hdrPreset,
              CaptureHDRPreset::localDisplay);
    EXPECT_EQ(DisplayCaptureConfigurator::streamConfiguration(hdr, {{}, {}, true, true}).hdrPreset,
              CaptureHDRPreset::canonicalDisplay);
}

TEST(DisplayCaptureConfiguratorTest, AFilterNeedsASelectedDisplay) {
    ScopedLogCapture logs;
    EXPECT_FALSE(DisplayCaptureConfigurator::contentFilter(std::nullopt));
    EXPECT_THAT(logs.messages("ScreenRecorder"),
                ElementsAre("Cannot create content filter because no display is selected."));
    const auto selected = display(5, 1920, 1080, 1920, 1080, 60);
    EXPECT_EQ(DisplayCaptureConfigurator::contentFilter(selected), (CaptureContentFilter{selected, 1.0}));
}

TEST(DisplayCaptureConfiguratorTest, SignaturesChangeOnlyWithWhatCaptureDependsOn) {
    const auto base = display(1, 1920, 1080, 1920, 1080, 60.0);
    auto reconnected = base;
    reconnected.localizedName = "Other name";
    reconnected.modeRefreshRate = 60.2;
    EXPECT_EQ(DisplayCaptureSignature::of(base), DisplayCaptureSignature::of(reconnected));

    auto moved = base;
    moved.frame.x = 1920;
    auto noMode = base;
    noMode.pixelWidth.reset();
    auto faster = base;
    faster.modeRefreshRate = 75;
    auto unknownRate = base;
    unknownRate.modeRefreshRate.reset();
    for (const auto& changed : {moved, noMode, faster, unknownRate}) {
        EXPECT_NE(DisplayCaptureSignature::of(base), DisplayCaptureSignature::of(changed));
    }
}

TEST(DisplayCaptureConfiguratorTest, LabelsNameTheDisplayAndItsResolution) {
    auto named = display(1, 1512, 982, 3024, 1964, 60);
    named.localizedName = "  Built-in Retina Display \n";
    EXPECT_EQ(DisplayCaptureConfigurator::displayLabel(named), "Built-in Retina Display: 3024 x 1964");
    EXPECT_EQ(DisplayCaptureConfigurator::displayLabel(display(1, 1920.4, 1079.5, 1920, 1080, 60)),
              "Display: 1920 x 1080");
    ScopedLogCapture logs;
    DisplayCaptureConfigurator::logHDRCorrectionEstimate(named);
    EXPECT_THAT(
        logs.messages("ScreenRecorder"),
        ElementsAre(
            "Selected display Built-in Retina Display: 3024 x 1964 does not expose HDR/EDR metrics."));
}

}  // namespace
}  // namespace quillbridge
