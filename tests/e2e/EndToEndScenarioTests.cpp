// The host as the application builds it, from its real adapters, met by a headset over the network of a
// private namespace: discovered through Avahi, paired with the code typed into the host, streaming the
// desktop drawn on Xvfb and the sound played into PulseAudio. Run through run-e2e-environment.sh.

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include <gtest/gtest.h>
#include <sys/types.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/strand.hpp>
#include <asio/use_future.hpp>

#include "EndToEndHostFixture.hpp"
#include "PulseTonePlayer.hpp"
#include "X11PatternWindow.hpp"
#include "capture/ScreenRecorder.hpp"
#include "core/Date.hpp"
#include "pairing/P256SigningKey.hpp"
#include "platform/linux/avahi/AvahiServiceBrowser.hpp"
#include "platform/linux/host/LinuxHostServices.hpp"
#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "platform/x11/X11TestWindow.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "support/audio/ToneAnalysis.hpp"
#include "support/headset/HeadsetSimulator.hpp"
#include "support/headset/HeadsetSimulatorError.hpp"
#include "support/headset/ServiceBrowserHostLocator.hpp"
#include "support/quic/TestLoopback.hpp"
#include "wire/ControlMessageFraming.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Case = StreamControlMessage::Case;

constexpr auto waitBound = endToEndWaitBound;

class EndToEndTest : public EndToEndHostFixture {
protected:
    // Waits until the headset decoded a picture whose bands have the pattern's colours.
    bool waitForPattern(HeadsetSimulator& simulator, X11PatternWindow& pattern) {
        return waitUntil([&] {
            // Drawn again while waiting, as a live desktop keeps changing: each drawing is damage for the
            // capture to pick up, whenever the stream is ready for it.
            pattern.paint(pattern.colours());
            return readHeadset([&] {
                const auto& frames = simulator.decodedVideoFrames();
                return !frames.empty() && showsPattern(frames.back(), pattern);
            });
        });
    }

    static bool showsPattern(const DecodedVideoFrame& frame, const X11PatternWindow& pattern) {
        if (frame.width != pattern.width() || frame.height != pattern.height()) {
            return false;
        }
        const int bands = static_cast<int>(pattern.colours().size());
        const int bandWidth = frame.width / bands;
        for (int band = 0; band < bands; ++band) {
            // The middle of the band, away from its edges where chroma is shared with the next one.
            const auto rgb = frame.averageRgb(band * bandWidth + bandWidth / 4, frame.height / 4,
                                              bandWidth / 2, frame.height / 2);
            const std::uint32_t colour = pattern.colours()[static_cast<std::size_t>(band)];
            const int red = static_cast<int>((colour >> 16) & 0xFF);
            const int green = static_cast<int>((colour >> 8) & 0xFF);
            const int blue = static_cast<int>(colour & 0xFF);
            if (std::abs(rgb.red - red) > 24 || std::abs(rgb.green - green) > 24 ||
                std::abs(rgb.blue - blue) > 24) {
                return false;
            }
        }
        return true;
    }

    // The first line a command prints, nothing when it cannot be run.
    static std::optional<std::string> firstLine(const char* command) {
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command, "r"), pclose);
        if (!pipe) {
            return std::nullopt;
        }
        char line[512] = {};
        if (std::fgets(line, sizeof line, pipe.get()) == nullptr) {
            return std::string();
        }
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        return text;
    }

    // Whether the test sound server's default sink is muted; nothing when it cannot be asked.
    static std::optional<bool> sinkMuted() {
        const std::optional<std::string> text = firstLine("pactl get-sink-mute quillbridge_sink_a");
        if (!text) {
            return std::nullopt;
        }
        if (text->find("yes") != std::string::npos) {
            return true;
        }
        if (text->find("no") != std::string::npos) {
            return false;
        }
        return std::nullopt;
    }

    static std::optional<std::string> defaultSink() { return firstLine("pactl get-default-sink"); }
    // Whether the host's private sink, which carries the desktop's sound while the host is muted, exists.
    static bool hostSinkExists() {
        return firstLine("pactl list short sinks | grep -c quillbridge_host_audio").value_or("0") != "0";
    }
};

TEST_F(EndToEndTest, FirstContactPairsAndStreamsTheDesktopAndItsSound) {
    EXPECT_TRUE(onMain([&] { return host->recorder().permissionIssues().empty(); }));
    auto pattern = X11PatternWindow::open({0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF});
    ASSERT_TRUE(pattern);
    std::string soundError;
    auto tone = PulseTonePlayer::start(1000, &soundError);
    ASSERT_TRUE(tone) << soundError;

    auto simulator = makeHeadset();
    onHeadset([&] { return simulator->connect(); });
    pair(*simulator);
    // The headset's default: the host's speakers muted while it plays the host's sound.
    StreamConfigurationMessage configuration;
    ASSERT_TRUE(configuration.mutesHostAudio);
    startStreaming(*simulator, configuration);

    EXPECT_TRUE(waitForPattern(*simulator, *pattern));
    const auto format = readHeadset([&] { return simulator->videoFormat(); });
    ASSERT_TRUE(format);
    EXPECT_EQ(format->width, 1920);
    EXPECT_EQ(format->height, 1080);
    EXPECT_TRUE(readHeadset([&] {
        const auto& frames = simulator->receivedVideoFrames();
        return !frames.empty() && frames.front().isKeyFrame;
    }));

    // Once the speakers are muted, the desktop's sound plays into the host's own sink.
    ASSERT_TRUE(waitUntil([&] { return sinkMuted() == true && defaultSink() == "quillbridge_host_audio"; }));
    // A second and a half of sound decoded since then, the last second at the tone's frequency and level.
    const std::size_t mutedFrom = readHeadset([&] { return simulator->decodedAudioSamples().size(); });
    ASSERT_TRUE(waitUntil([&] {
        return readHeadset([&] { return simulator->decodedAudioSamples().size() >= mutedFrom + 72000; });
    }));
    const auto samples = readHeadset([&] { return simulator->decodedAudioSamples(); });
    const std::span<const float> recent(samples.data() + samples.size() - 48000, 48000);
    EXPECT_NEAR(dominantFrequencyHertz(recent, 48000), 1000, 10);
    EXPECT_GT(rootMeanSquare(recent), 0.2) << "the tone, not the silence of a muted sink";

    onHeadset([&] { return simulator->disconnect(); });
    EXPECT_TRUE(waitUntil([&] { return !onMain([&] { return host->recorder().isConnected(); }); }));
    EXPECT_TRUE(waitUntil([&] { return !onMain([&] { return host->recorder().isRunning(); }); }));
    // The speakers and the user's default sink back, the host's sink gone.
    EXPECT_TRUE(waitUntil([&] { return sinkMuted() == false && !hostSinkExists(); }));
    EXPECT_EQ(defaultSink(), "quillbridge_sink_a");
}

TEST_F(EndToEndTest, ReconnectWithoutCodeMeetsTheRotatedCertificateAndResumesFromAKeyFrame) {
    auto pattern = X11PatternWindow::open({0x00FFFF, 0xFF00FF});
    ASSERT_TRUE(pattern);
    ServiceBrowserHostLocator locator([] { return std::make_unique<AvahiServiceBrowser>(); },
                                      ServiceBrowserHostLocator::Options{.instanceName = hostName});
    const HostEndpoint first = headset.run(locator.locate());
    auto simulator = makeHeadset();
    onHeadset([&] { return simulator->connect(); });
    pair(*simulator);
    const Bytes rotated = readHeadset([&] { return simulator->pairedHost()->certificateDER; });
    onHeadset([&] { return simulator->disconnect(); });
    ASSERT_TRUE(waitUntil([&] { return !onMain([&] { return host->recorder().isConnected(); }); }));

    // The next listener runs on a port of its own; until Avahi announces it, the socket of the ended session
    // (kept while it closes) would answer with the certificate from before the rotation.
    ASSERT_TRUE(waitUntil([&] {
        try {
            return headset.run(locator.locate()).port != first.port;
        } catch (const std::exception&) {
            return false;
        }
    }));
    // No code this time: the signed challenge-response, against the certificate announced last.
    onHeadset([&] { return simulator->reconnect(); });
    EXPECT_EQ(readHeadset([&] { return simulator->connection()->peerCertificateDER(); }), rotated);
    StreamConfigurationMessage configuration;
    configuration.mutesHostAudio = true;
    startStreaming(*simulator, configuration);
    EXPECT_TRUE(waitForPattern(*simulator, *pattern));
    EXPECT_TRUE(readHeadset([&] {
        const auto& frames = simulator->receivedVideoFrames();
        return !frames.empty() && frames.front().isKeyFrame;
    }));
    // The host's sound is muted while the headset plays it, and given back when it leaves.
    EXPECT_TRUE(waitUntil([&] { return sinkMuted() == true; }));

    onHeadset([&] { return simulator->disconnect(); });
    EXPECT_TRUE(waitUntil([&] { return !onMain([&] { return host->recorder().isConnected(); }); }));
    EXPECT_TRUE(waitUntil([&] { return sinkMuted() == false; }));
}

TEST_F(EndToEndTest, HeadsetControlsTheFocusedWindowAndLocksTheSession) {
    // A logind session for this user, as the desktop would have.
    ASSERT_EQ(
        std::system("gdbus call --system --dest org.freedesktop.login1 --object-path /org/freedesktop/login1 "
                    "--method org.freedesktop.DBus.Mock.AddSession e2e seat0 1000 tester true >/dev/null"),
        0);
    ASSERT_EQ(setenv("XDG_SESSION_ID", "e2e", 1), 0);
    ASSERT_EQ(std::system("setxkbmap -layout us -option '' >/dev/null 2>&1"), 0);
    auto window = X11TestWindow::open();
    ASSERT_TRUE(window);
    auto simulator = makeHeadset();
    onHeadset([&] { return simulator->connect(); });
    pair(*simulator);
    startStreaming(*simulator, StreamConfigurationMessage{});

    using Kind = ReceivedInputEvent::Kind;
    onHeadset([&] { return simulator->sendMousePosition(MousePositionMessage{0.25, 0.5}); });
    EXPECT_TRUE(window->waitFor(
        [](const auto& events) {
            for (const auto& event : events) {
                if (event.kind == Kind::motion && std::abs(event.rootX - 480) <= 2 &&
                    std::abs(event.rootY - 540) <= 2) {
                    return true;
                }
            }
            return false;
        },
        waitBound));
    onHeadset([&] {
        return simulator->sendMouseClick(MouseClickMessage{MouseButton::primary, MouseButtonPhase::pressed});
    });
    onHeadset([&] {
        return simulator->sendMouseClick(MouseClickMessage{MouseButton::primary, MouseButtonPhase::released});
    });
    EXPECT_TRUE(window->waitFor(
        [](const auto& events) {
            bool pressed = false;
            for (const auto& event : events) {
                pressed = pressed || (event.kind == Kind::buttonPress && event.detail == 1);
                if (pressed && event.kind == Kind::buttonRelease && event.detail == 1) {
                    return true;
                }
            }
            return false;
        },
        waitBound));

    // Text, with characters the US layout has no key for.
    window->clear();
    const std::string text = "Hi é€ ß";
    onHeadset([&] { return simulator->sendTextInput(text); });
    EXPECT_TRUE(waitUntil([&] { return window->typedText() == text; })) << window->typedText();

    // A chord: Control held while A is pressed.
    window->clear();
    for (auto [key, phase] : {std::pair{RemoteKeyboardKey::control, KeyboardEventPhase::pressed},
                              std::pair{RemoteKeyboardKey::a, KeyboardEventPhase::pressed},
                              std::pair{RemoteKeyboardKey::a, KeyboardEventPhase::released},
                              std::pair{RemoteKeyboardKey::control, KeyboardEventPhase::released}}) {
        onHeadset([&] { return simulator->sendKeyboardEvent(KeyboardEventMessage{key, phase}); });
    }
    EXPECT_TRUE(window->waitFor(
        [&](const auto& events) {
            for (const auto& event : events) {
                if (event.kind == Kind::keyPress && (event.state & XCB_MOD_MASK_CONTROL) != 0 &&
                    window->keysym(event) == XKB_KEY_a) {
                    return true;
                }
            }
            return false;
        },
        waitBound));

    // Locking goes to logind, never a key chord.
    onHeadset([&] { return simulator->sendSystemAction(RemoteSystemAction::lockScreen); });
    EXPECT_TRUE(waitUntil([] {
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen("gdbus call --system --dest org.freedesktop.login1 "
                                                         "--object-path /org/freedesktop/login1/session/e2e "
                                                         "--method org.freedesktop.DBus.Mock.GetCalls",
                                                         "r"),
                                                   pclose);
        std::string calls;
        char buffer[512];
        while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
            calls += buffer;
        }
        return calls.find("'Lock'") != std::string::npos;
    }));
    onHeadset([&] { return simulator->disconnect(); });
}

TEST_F(EndToEndTest, SecondHeadsetDuringASessionIsRefused) {
    // Where the host listens, seen before the session withdraws the advertisement.
    ServiceBrowserHostLocator locator([] { return std::make_unique<AvahiServiceBrowser>(); },
                                      ServiceBrowserHostLocator::Options{.instanceName = hostName});
    const HostEndpoint endpoint = headset.run(locator.locate());
    auto first = makeHeadset();
    onHeadset([&] { return first->connect(); });
    pair(*first);
    startStreaming(*first, StreamConfigurationMessage{});

    HeadsetSimulator::Options options;
    options.displayName = "Second Headset";
    options.responseTimeout = 5000ms;
    auto second = makeHeadset(fixedHostLocator(endpoint.address, endpoint.port), options);
    EXPECT_ANY_THROW({
        onHeadset([&] { return second->connect(); });
        onHeadset([&] { return second->hello(true); });
    });
    EXPECT_TRUE(onMain([&] { return host->recorder().isConnected(); }));
    EXPECT_TRUE(readHeadset([&] { return first->isConnected(); }));
    onHeadset([&] { return first->disconnect(); });
}

TEST_F(EndToEndTest, WrongCodeThreeTimesEndsTheAttempt) {
    auto simulator = makeHeadset();
    onHeadset([&] { return simulator->connect(); });
    auto pairing = asio::co_spawn(headset.context, simulator->pair(), asio::use_future);
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::optional<std::string> code;
        ASSERT_TRUE(waitUntil([&] {
            code = readHeadset([&] { return simulator->pairingCode(); });
            return code.has_value() && code != lastShownCode;
        }));
        lastShownCode = code;
        ASSERT_TRUE(waitForPairingPrompt());
        submitPairingCode(wrongCode(*code));
    }
    ASSERT_EQ(pairing.wait_for(waitBound), std::future_status::ready);
    EXPECT_THROW(pairing.get(), HeadsetSimulatorError);
    EXPECT_FALSE(onMain([&] { return host->recorder().isConnected(); }));
    EXPECT_FALSE(readHeadset([&] { return simulator->pairedHost().has_value(); }));
}

TEST_F(EndToEndTest, VanishedHeadsetIsNoticedByTheIdleTimeOutAndTheHostListensAgain) {
    // Through a relay the headset can cut without a word; the host is reached on the test loopback.
    ServiceBrowserHostLocator locator([] { return std::make_unique<AvahiServiceBrowser>(); },
                                      ServiceBrowserHostLocator::Options{.instanceName = hostName});
    const HostEndpoint advertised = headset.run(locator.locate());
    HeadsetSimulator::Options options;
    options.connectsThroughRelay = true;
    // QUIC takes the shorter of the two sides' idle time-outs; this one still outlasts the pause while the
    // host rotates its identity after pairing.
    options.idleTimeout = 8000ms;
    auto simulator = makeHeadset(fixedHostLocator(testLoopbackAddress(), advertised.port), options);
    onHeadset([&] { return simulator->connect(); });
    pair(*simulator);
    startStreaming(*simulator, StreamConfigurationMessage{});

    readHeadset([&] {
        simulator->vanish();
        return true;
    });
    EXPECT_TRUE(waitUntil([&] { return !onMain([&] { return host->recorder().isConnected(); }); }));
    EXPECT_TRUE(waitUntil([&] { return !onMain([&] { return host->recorder().isRunning(); }); }));
    // Listening again: a new advertisement.
    EXPECT_TRUE(waitUntil([&] {
        try {
            return headset.run(locator.locate()).port != advertised.port;
        } catch (const std::exception&) {
            return false;
        }
    }));
}

TEST_F(EndToEndTest, DisplayResolutionChangeMidStreamAnnouncesANewFormatAndAKeyFrame) {
    auto pattern = X11PatternWindow::open({0xFF8000, 0x0080FF});
    ASSERT_TRUE(pattern);
    auto simulator = makeHeadset();
    onHeadset([&] { return simulator->connect(); });
    pair(*simulator);
    startStreaming(*simulator, StreamConfigurationMessage{});
    ASSERT_TRUE(waitForPattern(*simulator, *pattern));

    struct RestoreMode {
        ~RestoreMode() { std::system("xrandr --output screen --mode 1920x1080 >/dev/null 2>&1"); }
    } restoreMode;
    ASSERT_EQ(std::system(
                  "xrandr --newmode 1280x720_e2e 74.25 1280 1390 1430 1650 720 725 730 750 >/dev/null 2>&1; "
                  "xrandr --addmode screen 1280x720_e2e && xrandr --output screen --mode 1280x720_e2e"),
              0);
    EXPECT_TRUE(waitUntil([&] {
        pattern->paint(pattern->colours());
        return readHeadset([&] {
            const auto& format = simulator->videoFormat();
            return format && format->width == 1280 && format->height == 720;
        });
    }));
    // The first picture at the new size is a key frame.
    EXPECT_TRUE(waitUntil([&] {
        pattern->paint(pattern->colours());
        return readHeadset([&] {
            for (const auto& frame : simulator->decodedVideoFrames()) {
                if (frame.width == 1280 && frame.height == 720) {
                    return frame.isKeyFrame;
                }
            }
            return false;
        });
    }));
    onHeadset([&] { return simulator->disconnect(); });
}

// The main actor lets the session go while the host's services go, and still has a strand of the workers in
// hand a moment later: the services wait until it is done, so the pool is not destroyed under that strand
// (AddressSanitizer reports the use after free otherwise).
TEST_F(EndToEndTest, HostServicesGoOnlyOnceTheMainActorIsDoneReleasingTheSession) {
    struct Pause {
        ~Pause() { std::this_thread::sleep_for(300ms); }
    };
    struct Holder {
        // Destroyed in reverse order: the session first, then the pause, then the strand.
        asio::strand<asio::any_io_executor> strand;
        Pause pause;
        std::shared_ptr<ScreenStreamBroadcaster> session;
    };
    main.run(host->recorder().shutdown());
    std::unique_ptr<Holder> holder(
        new Holder{asio::make_strand(host->workerExecutor()), Pause{}, host->broadcaster()});
    // Once the recorder's tasks there have ended, the main actor lets go of the last holder.
    std::thread releaser([&] {
        std::this_thread::sleep_for(200ms);
        asio::post(main.executor, [holder = std::move(holder)]() mutable { holder.reset(); });
    });
    host.reset();
    releaser.join();
}

// Stops the suite's X server: keep it the last test.
TEST_F(EndToEndTest, XServerDyingStopsCaptureAndTheSessionEndsCleanly) {
    const char* xvfb = std::getenv("QUILLBRIDGE_TEST_XVFB_PID");
    ASSERT_NE(xvfb, nullptr);
    auto pattern = X11PatternWindow::open({0x808000, 0x008080});
    ASSERT_TRUE(pattern);
    auto simulator = makeHeadset();
    onHeadset([&] { return simulator->connect(); });
    pair(*simulator);
    startStreaming(*simulator, StreamConfigurationMessage{});
    ASSERT_TRUE(waitForPattern(*simulator, *pattern));

    ASSERT_EQ(::kill(static_cast<pid_t>(std::stol(xvfb)), SIGKILL), 0);
    EXPECT_TRUE(waitUntil([&] { return !onMain([&] { return host->recorder().isRunning(); }); }));
    onHeadset([&] { return simulator->disconnect(); });
    EXPECT_TRUE(waitUntil([&] { return !onMain([&] { return host->recorder().isConnected(); }); }));
}

}  // namespace
}  // namespace quillbridge
