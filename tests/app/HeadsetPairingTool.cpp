// A headset that asks the host on this network to pair, for the pairing prompt's end-to-end test: it finds
// the host through the service browser, connects, prints "code NNNNNN" once the code is shown, then waits for
// the host's user to type it. Exit status 0 once paired, 1 otherwise.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "platform/linux/avahi/AvahiServiceBrowser.hpp"
#include "support/headset/HeadsetSimulator.hpp"
#include "support/headset/ServiceBrowserHostLocator.hpp"

int main(int argc, char** argv) {
    using namespace quillbridge;
    asio::io_context context;
    HeadsetSimulator::Options options;
    options.displayName = argc > 1 ? argv[1] : "Simulated Headset";
    options.pairingCode = argc > 2 ? argv[2] : "";
    options.responseTimeout = std::chrono::seconds(30);
    auto headset = std::make_unique<HeadsetSimulator>(
        context.get_executor(),
        ServiceBrowserHostLocator([] { return std::make_unique<AvahiServiceBrowser>(); }).locator(), options);

    int status = 1;
    bool done = false;
    asio::co_spawn(
        context,
        [&]() -> asio::awaitable<void> {
            co_await headset->connect();
            co_await headset->pair();
        },
        [&](std::exception_ptr error) {
            done = true;
            if (!error) {
                status = 0;
                std::printf("paired\n");
            } else {
                try {
                    std::rethrow_exception(error);
                } catch (const std::exception& failure) {
                    std::printf("failed %s\n", failure.what());
                }
            }
            std::fflush(stdout);
        });
    // Tells the code once it is shown.
    asio::co_spawn(
        context,
        [&]() -> asio::awaitable<void> {
            asio::steady_timer timer(co_await asio::this_coro::executor);
            while (!done && !headset->pairingCode()) {
                timer.expires_after(std::chrono::milliseconds(50));
                co_await timer.async_wait(asio::use_awaitable);
            }
            if (headset->pairingCode()) {
                std::printf("code %s\n", headset->pairingCode()->c_str());
                std::fflush(stdout);
            }
        },
        [](std::exception_ptr) {});
    while (!done) {
        context.run_one();
    }
    asio::co_spawn(
        context, [&]() -> asio::awaitable<void> { co_await headset->disconnect(); },
        [](std::exception_ptr) {});
    context.run_for(std::chrono::seconds(5));
    headset.reset();
    context.run_for(std::chrono::milliseconds(200));
    return status;
}
