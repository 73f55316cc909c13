#pragma once

#include <expected>
#include <memory>
#include <string>

#include <gnutls/gnutls.h>

#include "pairing/TLSIdentity.hpp"

namespace quillbridge {

// GnuTLS certificate credentials, owned. Built from the host's TLSIdentity: the certificate from its DER
// and the P-256 private key from its X9.63 bytes (0x04, X, Y, scalar), checked to match each other.
class GnuTLSCredentials {
public:
    // Credentials that present the identity's certificate.
    static std::expected<std::shared_ptr<GnuTLSCredentials>, std::string> fromIdentity(
        const TLSIdentity& identity);
    // Credentials without a certificate of their own (a client that presents none).
    static std::expected<std::shared_ptr<GnuTLSCredentials>, std::string> withoutIdentity();

    ~GnuTLSCredentials();
    GnuTLSCredentials(const GnuTLSCredentials&) = delete;
    GnuTLSCredentials& operator=(const GnuTLSCredentials&) = delete;

    gnutls_certificate_credentials_t get() const { return credentials_; }

private:
    explicit GnuTLSCredentials(gnutls_certificate_credentials_t credentials) : credentials_(credentials) {}

    gnutls_certificate_credentials_t credentials_;
};

}  // namespace quillbridge
