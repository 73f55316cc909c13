// A headset that a shell script drives, for the application's end-to-end suite: the simulator on this
// network, one command per line on standard input, one answer line (or more) per command on standard output.
// The headset remembers its pairing across commands, as a real one does.
//
//   quillbridge_e2e_headset [NAME]
//
// Commands and what they print ("failed REASON" when one fails):
// - pair: finds the host, connects and asks to pair; "code NNNNNN" for every code shown (a new one after each
//   wrong code), then "paired".
// - reconnect: connects as the paired headset; "reconnected".
// - forget: forgets the host it paired with; "forgotten".
// - stream: starts the stream (the headset's default configuration) and says it is ready; "streaming".
// - video FILE: waits for a decoded picture and writes the latest as FILE (PPM); "video WIDTHxHEIGHT".
// - tone HERTZ: plays a tone of that frequency into the desktop's default sink; "playing".
// - heard: waits for 1.5 s more of decoded sound; "heard HERTZ RMS" (the last second's dominant frequency and
//   level).
// - camera on|off: the headset's user switches Persona camera sharing; "camera on|off".
// - microphone on|off: the headset's user switches microphone sharing; while it is on, the headset sends a
//   440 Hz tone at real-time pace whenever the host asks for it; "microphone on|off".
// - requests: what the host asked for last; "requests camera=yes|no|none microphone=yes|no|none".
// - disconnect: asks to leave; "disconnected". close: drops the connection at once; "closed".
// - quit: ends the program.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <numbers>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/read_until.hpp>
#include <asio/steady_timer.hpp>
#include <asio/streambuf.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "PulseTonePlayer.hpp"
#include "platform/linux/avahi/AvahiServiceBrowser.hpp"
#include "support/audio/ToneAnalysis.hpp"
#include "support/headset/HeadsetSimulator.hpp"
#include "support/headset/ServiceBrowserHostLocator.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {
namespace {

using Case = StreamControlMessage::Case;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void writePicture(const DecodedVideoFrame& frame, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << frame.width << ' ' << frame.height << "\n255\n";
    std::string row(static_cast<std::size_t>(frame.width) * 3, '\0');
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const auto rgb = frame.rgbAt(x, y);
            row[static_cast<std::size_t>(x) * 3] = static_cast<char>(rgb.red);
            row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<char>(rgb.green);
            row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<char>(rgb.blue);
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
}

class Driver {
public:
    Driver(asio::io_context& context, std::string name) : context_(context) {
        HeadsetSimulator::Options options;
        options.displayName = std::move(name);
        // Generous: the host may run under sanitizers on a loaded machine.
        options.responseTimeout = std::chrono::seconds(45);
        headset_ = std::make_unique<HeadsetSimulator>(
            context.get_executor(),
            ServiceBrowserHostLocator([] { return std::make_unique<AvahiServiceBrowser>(); }).locator(),
            options);
    }

    asio::awaitable<void> run() {
        asio::posix::stream_descriptor input(co_await asio::this_coro::executor, ::dup(0));
        asio::streambuf buffer;
        for (;;) {
            std::size_t length = 0;
            try {
                length = co_await asio::async_read_until(input, buffer, '\n', asio::use_awaitable);
            } catch (const std::exception&) {
                break;
            }
            std::string line(asio::buffers_begin(buffer.data()), asio::buffers_begin(buffer.data()) + length);
            buffer.consume(length);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
                line.pop_back();
            }
            std::istringstream words(line);
            std::string command;
            std::string argument;
            words >> command >> argument;
            if (command.empty()) {
                continue;
            }
            if (command == "quit") {
                break;
            }
            try {
                co_await perform(command, argument);
            } catch (const std::exception& failure) {
                say("failed " + std::string(failure.what()));
            }
        }
        tone_.reset();
        if (headset_->isConnected()) {
            try {
                co_await headset_->disconnect();
            } catch (const std::exception&) {
            }
        }
    }

private:
    asio::awaitable<void> perform(const std::string& command, const std::string& argument) {
        if (command == "pair") {
            // What is left of a connection the host refused goes first.
            if (headset_->isConnected()) {
                headset_->close();
            }
            co_await headset_->connect();
            watchingCodes_ = true;
            asio::co_spawn(context_, tellCodes(), asio::detached);
            try {
                co_await headset_->pair();
            } catch (...) {
                watchingCodes_ = false;
                throw;
            }
            watchingCodes_ = false;
            say("paired");
        } else if (command == "forget") {
            headset_->forgetPairedHost();
            say("forgotten");
        } else if (command == "reconnect") {
            co_await headset_->reconnect();
            say("reconnected");
        } else if (command == "stream") {
            co_await headset_->send(
                StreamControlMessage::make<Case::streamConfiguration>(StreamConfigurationMessage{}));
            co_await headset_->sendReceiverReady();
            say("streaming");
        } else if (command == "video") {
            try {
                co_await headset_->waitUntil([&] { return !headset_->decodedVideoFrames().empty(); },
                                             "a decoded picture");
            } catch (const std::exception&) {
                say("failed no decoded picture: " + std::to_string(headset_->receivedVideoFrames().size()) +
                    " frames received, " + std::to_string(headset_->undecodableVideoFrameCount()) +
                    " undecodable (" + headset_->lastVideoDecodeError() + "), format " +
                    (headset_->videoFormat() ? "known" : "unknown"));
                co_return;
            }
            const auto& frame = headset_->decodedVideoFrames().back();
            if (!argument.empty()) {
                writePicture(frame, argument);
            }
            say("video " + std::to_string(frame.width) + "x" + std::to_string(frame.height));
        } else if (command == "tone") {
            std::string error;
            tone_.reset();
            tone_ = PulseTonePlayer::start(std::stod(argument), &error);
            say(tone_ ? "playing" : "failed " + error);
        } else if (command == "heard") {
            const std::size_t from = headset_->decodedAudioSamples().size();
            co_await headset_->waitUntil(
                [&] { return headset_->decodedAudioSamples().size() >= from + 72000; }, "decoded sound");
            const auto& samples = headset_->decodedAudioSamples();
            const std::span<const float> recent(samples.data() + samples.size() - 48000, 48000);
            char line[96];
            std::snprintf(line, sizeof line, "heard %.0f %.3f", dominantFrequencyHertz(recent, 48000),
                          rootMeanSquare(recent));
            say(line);
        } else if (command == "camera") {
            co_await headset_->sendPersonaCameraSharingState(argument == "on");
            say("camera " + argument);
        } else if (command == "microphone") {
            const bool on = argument == "on";
            co_await headset_->sendMicrophoneSharingState(on);
            if (on && !speaking_) {
                speaking_ = true;
                asio::co_spawn(context_, speak(), asio::detached);
            }
            speaking_ = on;
            say("microphone " + argument);
        } else if (command == "requests") {
            auto word = [](std::optional<bool> request) {
                return request ? (*request ? "yes" : "no") : "none";
            };
            say(std::string("requests camera=") + word(headset_->personaCameraRequested()) +
                " microphone=" + word(headset_->microphoneRequested()));
        } else if (command == "disconnect") {
            speaking_ = false;
            co_await headset_->disconnect();
            say("disconnected");
        } else if (command == "close") {
            speaking_ = false;
            headset_->close();
            say("closed");
        } else {
            say("failed unknown command " + command);
        }
    }

    // Tells each code the headset shows while a pairing round waits for the host's user.
    asio::awaitable<void> tellCodes() {
        asio::steady_timer timer(co_await asio::this_coro::executor);
        std::string told = headset_->pairingCode().value_or("");
        while (watchingCodes_) {
            const auto& code = headset_->pairingCode();
            if (code && *code != told) {
                told = *code;
                say("code " + told);
            }
            timer.expires_after(std::chrono::milliseconds(50));
            co_await timer.async_wait(asio::use_awaitable);
        }
    }

    // A 440 Hz tone on the microphone stream in 10 ms chunks at real-time pace, while sharing is on and the
    // host asks for the microphone.
    asio::awaitable<void> speak() {
        asio::steady_timer timer(co_await asio::this_coro::executor);
        constexpr double frequency = 440;
        std::uint64_t frame = 0;
        auto next = std::chrono::steady_clock::now();
        bool formatSent = false;
        while (speaking_ && headset_->isConnected()) {
            next += std::chrono::milliseconds(10);
            // The headset sends its microphone only while the host asks for it, its format first.
            if (headset_->microphoneRequested() != true) {
                formatSent = false;
                timer.expires_at(next);
                co_await timer.async_wait(asio::use_awaitable);
                continue;
            }
            if (!formatSent) {
                try {
                    co_await headset_->sendMicrophoneFormat(MicrophoneFormatMessage{48000, 1});
                } catch (const std::exception&) {
                    break;
                }
                formatSent = true;
            }
            std::vector<float> samples(480);
            for (float& sample : samples) {
                sample = 0.5f * float(std::sin(2 * std::numbers::pi * frequency * double(frame++) / 48000));
            }
            const std::uint64_t chunk = ++microphoneChunks_;
            // The headset's capture clock: 10 ms a chunk, across every sharing period.
            const std::uint64_t captureTime = chunk * 10'000'000ULL + 1'000'000'000ULL;
            try {
                co_await headset_->sendMicrophoneChunk(chunk, captureTime, samples);
            } catch (const std::exception&) {
                break;
            }
            timer.expires_at(next);
            co_await timer.async_wait(asio::use_awaitable);
        }
        speaking_ = false;
    }

    asio::io_context& context_;
    std::unique_ptr<HeadsetSimulator> headset_;
    std::unique_ptr<PulseTonePlayer> tone_;
    bool watchingCodes_ = false;
    bool speaking_ = false;
    std::uint64_t microphoneChunks_ = 0;
};

}  // namespace
}  // namespace quillbridge

int main(int argc, char** argv) {
    asio::io_context context;
    auto driver = std::make_unique<quillbridge::Driver>(context, argc > 1 ? argv[1] : "Simulated Headset");
    bool done = false;
    asio::co_spawn(context, driver->run(), [&](std::exception_ptr) { done = true; });
    while (!done) {
        context.run_one();
    }
    driver.reset();
    context.run_for(std::chrono::milliseconds(200));
    return 0;
}
