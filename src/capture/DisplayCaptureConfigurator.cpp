#include "capture/DisplayCaptureConfigurator.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "core/Logger.hpp"

namespace quillbridge {

namespace {

const Logger logger{"ScreenRecorder"};

// Rounds to the nearest integer, halves away from zero.
long long roundedHalfAway(double value) {
    return std::llround(value);
}

int framesPerSecond(StreamFrameRateOption option) {
    return 30 * (static_cast<int>(option) + 1);
}

std::string trimmed(const std::string& text) {
    const auto isSpace = [](unsigned char character) { return std::isspace(character) != 0; };
    auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
    return first < last ? std::string(first, last) : std::string();
}

}  // namespace

std::string DisplayCaptureConfigurator::displayIdentifier(const CaptureDisplay& display) {
    if (display.uuid) {
        return display.uuid->string();
    }
    return "displayID:" + std::to_string(display.displayID);
}

std::optional<CaptureDisplay> DisplayCaptureConfigurator::preferredDisplay(
    const std::vector<CaptureDisplay>& availableDisplays, const std::optional<std::string>& storedIdentifier,
    const std::optional<CaptureDisplay>& selectedDisplay) {
    if (storedIdentifier) {
        for (const auto& display : availableDisplays) {
            if (displayIdentifier(display) == *storedIdentifier) {
                return display;
            }
        }
    }
    if (selectedDisplay) {
        for (const auto& display : availableDisplays) {
            if (display.displayID == selectedDisplay->displayID) {
                return display;
            }
        }
    }
    if (availableDisplays.empty()) {
        return std::nullopt;
    }
    return availableDisplays.front();
}

std::string DisplayCaptureConfigurator::selectionIdentifier(const CaptureDisplay& display) {
    return std::to_string(display.displayID) + "-" +
           std::to_string(roundedHalfAway(display.pointSize.width)) + "-" +
           std::to_string(roundedHalfAway(display.pointSize.height)) + "-" +
           std::to_string(display.pixelWidth.value_or(0)) + "-" +
           std::to_string(display.pixelHeight.value_or(0)) + "-" +
           std::to_string(refreshRate(display).value_or(0));
}

std::optional<int> DisplayCaptureConfigurator::refreshRate(const CaptureDisplay& display) {
    if (display.modeRefreshRate && *display.modeRefreshRate > 0) {
        return static_cast<int>(std::max<long long>(1, roundedHalfAway(*display.modeRefreshRate)));
    }
    return std::nullopt;
}

int DisplayCaptureConfigurator::effectiveFrameRate(StreamFrameRateOption requested,
                                                   const std::optional<CaptureDisplay>& display) {
    const int rate = framesPerSecond(requested);
    if (display) {
        if (auto refresh = refreshRate(*display)) {
            return *refresh < 1 ? 1 : std::min(*refresh, rate);
        }
    }
    return rate;
}

std::optional<CaptureContentFilter> DisplayCaptureConfigurator::contentFilter(
    const std::optional<CaptureDisplay>& display) {
    if (!display) {
        logger.error("Cannot create content filter because no display is selected.");
        return std::nullopt;
    }
    return CaptureContentFilter{*display, 1.0};
}

CaptureStreamConfiguration DisplayCaptureConfigurator::streamConfiguration(
    const std::optional<CaptureDisplay>& display, const CaptureSettings& settings) {
    CaptureStreamConfiguration configuration;
    if (settings.isHDREnabled) {
        configuration.hdrPreset =
            settings.usesCanonicalHDR ? CaptureHDRPreset::canonicalDisplay : CaptureHDRPreset::localDisplay;
    }
    configuration.capturesAudio = true;
    configuration.sampleRate = 48000;
    configuration.channelCount = 2;
    configuration.excludesCurrentProcessAudio = true;
    configuration.capturesMicrophone = false;
    if (display) {
        const auto filter = contentFilter(display);
        const double scale = filter ? filter->pointPixelScale : 1.0;
        const double pixelWidth = display->pixelWidth
                                      ? double(*display->pixelWidth)
                                      : double(roundedHalfAway(scale * display->pointSize.width));
        const double pixelHeight = display->pixelHeight
                                       ? double(*display->pixelHeight)
                                       : double(roundedHalfAway(scale * display->pointSize.height));
        const double factor = settings.captureResolution == CaptureResolutionOption::half ? 0.5 : 1.0;
        const auto evenSize = [factor](double pixels) {
            const auto size = std::max<long long>(2, static_cast<long long>(std::floor(factor * pixels)));
            return static_cast<std::uint32_t>(size & ~1LL);
        };
        configuration.width = evenSize(pixelWidth);
        configuration.height = evenSize(pixelHeight);
    }
    const int fps = effectiveFrameRate(settings.captureFrameRate, display);
    const auto refresh = display ? refreshRate(*display) : std::nullopt;
    if (refresh && fps >= *refresh) {
        configuration.minimumFrameInterval = CaptureFrameInterval::zero();
    } else {
        configuration.minimumFrameInterval = CaptureFrameInterval::perSecond(fps);
    }
    configuration.queueDepth = 3;
    return configuration;
}

std::string DisplayCaptureConfigurator::displayLabel(const CaptureDisplay& display) {
    std::string resolution;
    if (display.pixelWidth && display.pixelHeight &&
        (double(*display.pixelWidth) != display.pointSize.width ||
         double(*display.pixelHeight) != display.pointSize.height)) {
        resolution = std::to_string(*display.pixelWidth) + " x " + std::to_string(*display.pixelHeight);
    } else {
        resolution = std::to_string(roundedHalfAway(display.pointSize.width)) + " x " +
                     std::to_string(roundedHalfAway(display.pointSize.height));
    }
    const std::string name = trimmed(display.localizedName);
    return (name.empty() ? std::string("Display") : name) + ": " + resolution;
}

void DisplayCaptureConfigurator::logHDRCorrectionEstimate(const CaptureDisplay& display) {
    logger.notice("Selected display ", displayLabel(display), " does not expose HDR/EDR metrics.");
}

}  // namespace quillbridge
