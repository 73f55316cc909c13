#pragma once

#include <string>

namespace quillbridge {

// The loopback address the QUIC tests listen and connect on: ::1, or 127.0.0.1 on a host where ::1 cannot be
// bound (IPv6 switched off). Decided once per process.
const std::string& testLoopbackAddress();

// Whether ::1 can be bound here; tests that need IPv6 skip without it.
bool hasIPv6Loopback();

}  // namespace quillbridge
