#include "session/SessionErrors.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <string_view>
#include <system_error>

#include <asio/error.hpp>
#include <asio/system_error.hpp>

#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {

namespace {

// The Avahi codes for a denied or forbidden operation, and the service discovery daemon's policy refusal.
constexpr int avahiAccessDenied = -20;
constexpr int avahiNotPermitted = -50;
constexpr int policyDenied = -65570;

std::string lowercased(std::string_view text) {
    std::string result(text);
    std::ranges::transform(result, result.begin(), [](unsigned char character) {
        return static_cast<char>(std::tolower(character));
    });
    return result;
}

bool describesLocalNetworkDenial(std::string_view description) {
    const std::string text = lowercased(description);
    for (std::string_view needle :
         {"policydenied", "policy denied", "local network", "operation not permitted"}) {
        if (text.find(needle) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool isPermissionError(const std::error_code& code) {
    return code == std::errc::operation_not_permitted || code == std::errc::permission_denied;
}

}  // namespace

std::string errorDescription(const std::exception_ptr& error) {
    if (!error) {
        return {};
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
        return "Unknown error";
    }
}

bool isCancellationError(const std::exception_ptr& error) {
    if (!error) {
        return false;
    }
    try {
        std::rethrow_exception(error);
    } catch (const ControlMessageFramingError&) {
        return true;
    } catch (const std::system_error& exception) {
        const auto& code = exception.code();
        return code == asio::error::operation_aborted || code == std::errc::operation_canceled ||
               code == std::errc::not_connected;
    } catch (...) {
        return false;
    }
}

bool isLocalNetworkDeniedError(const ServiceDiscoveryError& error) {
    if (error.domain == ServiceDiscoveryError::Domain::posix &&
        (error.code == EPERM || error.code == EACCES)) {
        return true;
    }
    if (error.domain == ServiceDiscoveryError::Domain::dns &&
        (error.code == policyDenied || error.code == avahiAccessDenied || error.code == avahiNotPermitted)) {
        return true;
    }
    return describesLocalNetworkDenial(error.localizedDescription);
}

bool isLocalNetworkDeniedError(const std::exception_ptr& error) {
    if (!error) {
        return false;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::system_error& exception) {
        return isPermissionError(exception.code()) || describesLocalNetworkDenial(exception.what());
    } catch (const std::exception& exception) {
        return describesLocalNetworkDenial(exception.what());
    } catch (...) {
        return false;
    }
}

}  // namespace quillbridge
