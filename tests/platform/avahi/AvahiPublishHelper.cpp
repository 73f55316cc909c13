// Publishes one service with AvahiServiceAdvertiser and reports its states on standard output, one line
// each ("ready NAME", "waiting TEXT", "failed TEXT"), until SIGTERM or the time limit. The two-host tests
// run it on the peer host.
//
//   quillbridge_avahi_publish_helper NAME TYPE PORT SECONDS

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/linux/avahi/AvahiServiceAdvertiser.hpp"

int main(int argc, char** argv) {
    using namespace quillbridge;
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s NAME TYPE PORT SECONDS\n", argv[0]);
        return 2;
    }
    int seconds = std::atoi(argv[4]);
    if (seconds <= 0 || seconds > 600)
        seconds = 60;

    // Block the stop signals before any thread starts, then wait for them below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    AvahiServiceAdvertiser advertiser;
    advertiser.start({argv[1],
                      argv[2],
                      {{"peer_id", "peer-host"}, {"mac_form", "desktop"}},
                      static_cast<std::uint16_t>(std::atoi(argv[3]))},
                     [](const ServiceDiscoveryState& state) {
                         switch (state.status) {
                             case ServiceDiscoveryState::Status::ready:
                                 std::printf("ready %s\n", state.serviceName.c_str());
                                 break;
                             case ServiceDiscoveryState::Status::waiting:
                                 std::printf("waiting %s\n", state.error->localizedDescription.c_str());
                                 break;
                             case ServiceDiscoveryState::Status::failed:
                                 std::printf("failed %s\n", state.error->localizedDescription.c_str());
                                 break;
                         }
                         std::fflush(stdout);
                     });

    timespec limit{seconds, 0};
    sigtimedwait(&stopSignals, nullptr, &limit);
    advertiser.stop();
    return 0;
}
