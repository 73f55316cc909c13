#pragma once

#include <string_view>

#include "pairing/TLSIdentity.hpp"

namespace quillbridge {

// A fresh P-256 key and a self-signed certificate for it, made with GnuTLS, in the form the transport takes.
TLSIdentity makeTestTLSIdentity(std::string_view commonName = "Quillbridge Test");

}  // namespace quillbridge
