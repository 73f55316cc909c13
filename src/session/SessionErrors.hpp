#pragma once

#include <exception>
#include <string>

#include "session/ServiceDiscoveryError.hpp"

// How the session classifies and describes the errors that end connections, listeners and probes.

namespace quillbridge {

// Whether an error is an expected end of a connection or stream (cancellation, a closed control stream,
// a connection closed by this side) that is neither logged nor reported as a failure.
bool isCancellationError(const std::exception_ptr& error);

// Whether a listener or browse error means the system denied local network access.
bool isLocalNetworkDeniedError(const ServiceDiscoveryError& error);
bool isLocalNetworkDeniedError(const std::exception_ptr& error);

// The text of an error for logs and status lines.
std::string errorDescription(const std::exception_ptr& error);

}  // namespace quillbridge
