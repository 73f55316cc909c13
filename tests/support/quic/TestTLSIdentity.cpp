#include "support/quic/TestTLSIdentity.hpp"

#include <ctime>
#include <stdexcept>
#include <string>

#include <gnutls/abstract.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

namespace quillbridge {

namespace {

void check(int rv, const char* what) {
    if (rv < 0) {
        throw std::runtime_error(std::string(what) + ": " + gnutls_strerror(rv));
    }
}

// Exported integers lose leading zero bytes or gain a sign byte: bring them to exactly 32 bytes.
void appendCoordinate(Bytes& out, const gnutls_datum_t& value) {
    Bytes bytes(value.data, value.data + value.size);
    while (bytes.size() > 32 && bytes.front() == 0) {
        bytes.erase(bytes.begin());
    }
    if (bytes.size() > 32) {
        throw std::runtime_error("P-256 coordinate too long");
    }
    out.insert(out.end(), 32 - bytes.size(), 0);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

TLSIdentity makeTestTLSIdentity(std::string_view commonName) {
    gnutls_x509_privkey_t key = nullptr;
    check(gnutls_x509_privkey_init(&key), "privkey_init");
    check(gnutls_x509_privkey_generate(key, GNUTLS_PK_ECDSA, GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1),
                                       0),
          "privkey_generate");

    TLSIdentity identity;
    gnutls_ecc_curve_t curve;
    gnutls_datum_t x{}, y{}, k{};
    check(gnutls_x509_privkey_export_ecc_raw(key, &curve, &x, &y, &k), "export_ecc_raw");
    Bytes privateKey{0x04};
    appendCoordinate(privateKey, x);
    appendCoordinate(privateKey, y);
    appendCoordinate(privateKey, k);
    identity.privateKeyX963 = SecretBytes::consuming(std::move(privateKey));
    gnutls_free(x.data);
    gnutls_free(y.data);
    gnutls_free(k.data);

    gnutls_x509_crt_t certificate = nullptr;
    check(gnutls_x509_crt_init(&certificate), "crt_init");
    check(gnutls_x509_crt_set_version(certificate, 3), "set_version");
    const unsigned char serial[] = {0x01, 0x02, 0x03, 0x04};
    check(gnutls_x509_crt_set_serial(certificate, serial, sizeof serial), "set_serial");
    const std::time_t now = std::time(nullptr);
    check(gnutls_x509_crt_set_activation_time(certificate, now - 3600), "set_activation_time");
    check(gnutls_x509_crt_set_expiration_time(certificate, now + 3600L * 24 * 365), "set_expiration_time");
    const std::string name(commonName);
    check(gnutls_x509_crt_set_dn_by_oid(certificate, GNUTLS_OID_X520_COMMON_NAME, 0, name.data(),
                                        static_cast<unsigned>(name.size())),
          "set_dn");
    check(gnutls_x509_crt_set_issuer_dn_by_oid(certificate, GNUTLS_OID_X520_COMMON_NAME, 0, name.data(),
                                               static_cast<unsigned>(name.size())),
          "set_issuer_dn");
    check(gnutls_x509_crt_set_key(certificate, key), "set_key");
    check(gnutls_x509_crt_sign2(certificate, certificate, key, GNUTLS_DIG_SHA256, 0), "sign");
    gnutls_datum_t der{};
    check(gnutls_x509_crt_export2(certificate, GNUTLS_X509_FMT_DER, &der), "export");
    identity.certificateDER.assign(der.data, der.data + der.size);
    gnutls_free(der.data);
    gnutls_x509_crt_deinit(certificate);
    gnutls_x509_privkey_deinit(key);
    return identity;
}

}  // namespace quillbridge
