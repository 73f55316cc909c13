#pragma once

#include <string>
#include <vector>

#include "input/SystemServicesPort.hpp"

namespace quillbridge {

// Records the service calls; `available` false makes every call fail (no session manager, no sound server).
class FakeSystemServices final : public SystemServicesPort {
public:
    bool available = true;
    std::vector<std::string> calls;

    bool lockScreen() override { return record("lockScreen"); }
    bool raiseVolume() override { return record("raiseVolume"); }
    bool lowerVolume() override { return record("lowerVolume"); }
    bool toggleMute() override { return record("toggleMute"); }

private:
    bool record(const char* name) {
        calls.emplace_back(name);
        return available;
    }
};

}  // namespace quillbridge
