#include "platform/linux/quic/GnuTLSCredentials.hpp"

#include <gnutls/abstract.h>
#include <gnutls/x509.h>

namespace quillbridge {

namespace {

constexpr std::size_t coordinateLength = 32;
constexpr std::size_t x963PrivateKeyLength = 1 + 3 * coordinateLength;

std::string describe(const char* what, int code) {
    return std::string(what) + ": " + gnutls_strerror(code);
}

gnutls_datum_t datum(const std::uint8_t* data, std::size_t length) {
    return gnutls_datum_t{const_cast<unsigned char*>(data), static_cast<unsigned int>(length)};
}

}  // namespace

GnuTLSCredentials::~GnuTLSCredentials() {
    gnutls_certificate_free_credentials(credentials_);
}

std::expected<std::shared_ptr<GnuTLSCredentials>, std::string> GnuTLSCredentials::withoutIdentity() {
    gnutls_certificate_credentials_t credentials = nullptr;
    if (int rv = gnutls_certificate_allocate_credentials(&credentials); rv != GNUTLS_E_SUCCESS) {
        return std::unexpected(describe("Cannot allocate TLS credentials", rv));
    }
    return std::shared_ptr<GnuTLSCredentials>(new GnuTLSCredentials(credentials));
}

std::expected<std::shared_ptr<GnuTLSCredentials>, std::string> GnuTLSCredentials::fromIdentity(
    const TLSIdentity& identity) {
    ByteView key = identity.privateKeyX963;
    if (key.size() != x963PrivateKeyLength || key[0] != 0x04) {
        return std::unexpected("The TLS private key is not a P-256 key in X9.63 form");
    }
    if (identity.certificateDER.empty()) {
        return std::unexpected("The TLS certificate is empty");
    }

    auto created = withoutIdentity();
    if (!created) {
        return created;
    }
    auto credentials = std::move(*created);

    gnutls_privkey_t privateKey = nullptr;
    if (int rv = gnutls_privkey_init(&privateKey); rv != GNUTLS_E_SUCCESS) {
        return std::unexpected(describe("Cannot create the TLS private key", rv));
    }
    const gnutls_datum_t x = datum(key.data() + 1, coordinateLength);
    const gnutls_datum_t y = datum(key.data() + 1 + coordinateLength, coordinateLength);
    const gnutls_datum_t k = datum(key.data() + 1 + 2 * coordinateLength, coordinateLength);
    int rv = gnutls_privkey_import_ecc_raw(privateKey, GNUTLS_ECC_CURVE_SECP256R1, &x, &y, &k);
    if (rv == GNUTLS_E_SUCCESS) {
        // The public point must lie on the curve and belong to the scalar.
        rv = gnutls_privkey_verify_params(privateKey);
    }
    if (rv != GNUTLS_E_SUCCESS) {
        gnutls_privkey_deinit(privateKey);
        return std::unexpected(describe("The TLS private key is not a valid P-256 key", rv));
    }

    gnutls_pcert_st certificate{};
    const gnutls_datum_t der = datum(identity.certificateDER.data(), identity.certificateDER.size());
    rv = gnutls_pcert_import_x509_raw(&certificate, &der, GNUTLS_X509_FMT_DER, 0);
    if (rv != GNUTLS_E_SUCCESS) {
        gnutls_privkey_deinit(privateKey);
        return std::unexpected(describe("The TLS certificate cannot be read", rv));
    }

    // On success the credentials own the key and the certificate's contents (the array element is copied);
    // they also check that the key belongs to the certificate.
    rv = gnutls_certificate_set_key(credentials->get(), nullptr, 0, &certificate, 1, privateKey);
    if (rv < 0) {
        gnutls_pcert_deinit(&certificate);
        gnutls_privkey_deinit(privateKey);
        return std::unexpected(describe("The TLS certificate and key cannot be used", rv));
    }
    return credentials;
}

}  // namespace quillbridge
