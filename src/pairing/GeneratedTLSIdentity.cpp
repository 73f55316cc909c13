#include "pairing/GeneratedTLSIdentity.hpp"

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include "core/Logger.hpp"
#include "core/SecureRandom.hpp"
#include "pairing/DERWriter.hpp"
#include "pairing/P256SigningKey.hpp"

namespace quillbridge {

namespace {

const Logger& logger() {
    static const Logger instance{"GeneratedTLSIdentity"};
    return instance;
}

using D = DERWriter;

constexpr std::uint8_t ecdsaWithSHA256[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02};
constexpr std::uint8_t ecPublicKey[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
constexpr std::uint8_t prime256v1[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
constexpr std::uint8_t basicConstraints[] = {0x55, 0x1D, 0x13};
constexpr std::uint8_t keyUsage[] = {0x55, 0x1D, 0x0F};
constexpr std::uint8_t extendedKeyUsage[] = {0x55, 0x1D, 0x25};
constexpr std::uint8_t subjectAlternativeName[] = {0x55, 0x1D, 0x11};
constexpr std::uint8_t serverAuth[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x01};
constexpr std::uint8_t clientAuth[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x02};
// digitalSignature, keyEncipherment, keyAgreement.
constexpr std::uint8_t keyUsageBits[] = {0x03, 0x02, 0x03, 0xA8};
constexpr std::uint8_t emptySequence[] = {0x30, 0x00};
constexpr std::uint8_t critical[] = {0xFF};

Bytes signatureAlgorithm() {
    return D::derConstructed(D::sequence, {D::derElement(D::objectIdentifier, ecdsaWithSHA256)});
}

Bytes extension(ByteView oid, bool isCritical, ByteView value) {
    std::vector<Bytes> parts{D::derElement(D::objectIdentifier, oid)};
    if (isCritical)
        parts.push_back(D::derElement(D::boolean, critical));
    parts.push_back(D::derElement(D::octetString, value));
    return D::derConstructed(D::sequence, parts);
}

Bytes bitString(ByteView content) {
    Bytes value{0x00};
    appendBytes(value, content);
    return D::derElement(D::bitString, value);
}

Bytes toBeSigned(std::string_view commonName, std::span<const std::string> dnsNames, ByteView publicKeyX963,
                 Date notBefore, Date notAfter, ByteView serialContent) {
    std::vector<Bytes> extensions{
        extension(basicConstraints, true, emptySequence),
        extension(keyUsage, true, keyUsageBits),
        extension(extendedKeyUsage, false,
                  D::derConstructed(D::sequence, {D::derElement(D::objectIdentifier, serverAuth),
                                                  D::derElement(D::objectIdentifier, clientAuth)})),
    };
    if (!dnsNames.empty()) {
        std::vector<Bytes> names;
        for (const auto& name : dnsNames)
            names.push_back(D::derElement(D::contextPrimitive2, asBytes(name)));
        extensions.push_back(extension(subjectAlternativeName, false, D::derConstructed(D::sequence, names)));
    }

    Bytes name = D::derName(commonName);
    return D::derConstructed(
        D::sequence,
        {
            D::derConstructed(D::contextConstructed0, {D::derUnsignedInteger(Bytes{2})}),
            D::derElement(D::integer, serialContent),
            signatureAlgorithm(),
            name,
            D::derConstructed(D::sequence, {D::derTime(notBefore), D::derTime(notAfter)}),
            name,
            D::derConstructed(
                D::sequence,
                {D::derConstructed(D::sequence, {D::derElement(D::objectIdentifier, ecPublicKey),
                                                 D::derElement(D::objectIdentifier, prime256v1)}),
                 bitString(publicKeyX963)}),
            D::derConstructed(D::contextConstructed3, {D::derConstructed(D::sequence, extensions)}),
        });
}

struct CertificateDeleter {
    void operator()(gnutls_x509_crt_int* certificate) const { gnutls_x509_crt_deinit(certificate); }
};

struct GnutlsDatum {
    gnutls_datum_t value{nullptr, 0};
    GnutlsDatum() = default;
    GnutlsDatum(const GnutlsDatum&) = delete;
    GnutlsDatum& operator=(const GnutlsDatum&) = delete;
    ~GnutlsDatum() { gnutls_free(value.data); }
    ByteView view() const { return {value.data, value.size}; }
};

// A coordinate as GnuTLS exports it (leading zero bytes dropped, sometimes a sign byte added), as 32 bytes.
std::optional<Bytes> coordinate(ByteView exported) {
    while (!exported.empty() && exported.front() == 0)
        exported = exported.subspan(1);
    if (exported.size() > 32)
        return std::nullopt;
    Bytes padded(32 - exported.size(), 0);
    appendBytes(padded, exported);
    return padded;
}

// The stored identity with its key as plain bytes: what the JSON layer reads and writes.
struct StoredIdentityForm {
    Bytes certificateDER;
    Bytes privateKeyX963;
    std::optional<Date> notValidAfter;

    StoredIdentityForm() = default;
    StoredIdentityForm(const StoredIdentityForm&) = delete;
    StoredIdentityForm& operator=(const StoredIdentityForm&) = delete;
    StoredIdentityForm(StoredIdentityForm&&) = default;
    StoredIdentityForm& operator=(StoredIdentityForm&&) = delete;
    ~StoredIdentityForm() { wipeBytes(privateKeyX963); }
};

}  // namespace

template <>
struct JsonFields<StoredIdentityForm> {
    static auto fields() {
        return std::tuple{jsonField("certificateDER", &StoredIdentityForm::certificateDER),
                          jsonField("privateKeyX963", &StoredIdentityForm::privateKeyX963),
                          jsonField("notValidAfter", &StoredIdentityForm::notValidAfter)};
    }
};

JsonResult<Json> JsonCoder<GeneratedTLSIdentity::StoredIdentity>::encode(
    const GeneratedTLSIdentity::StoredIdentity& value) {
    StoredIdentityForm form;
    form.certificateDER = value.certificateDER;
    form.privateKeyX963 = value.privateKeyX963.exposedCopy();
    form.notValidAfter = value.notValidAfter;
    return toJson(form);
}

JsonResult<GeneratedTLSIdentity::StoredIdentity> JsonCoder<GeneratedTLSIdentity::StoredIdentity>::decode(
    const Json& json) {
    auto form = JsonCoder<StoredIdentityForm>::decode(json);
    if (!form)
        return std::unexpected(form.error());
    return GeneratedTLSIdentity::StoredIdentity{std::move(form->certificateDER),
                                                SecretBytes::consuming(std::move(form->privateKeyX963)),
                                                form->notValidAfter};
}

std::string GeneratedTLSIdentity::secretAccount(const Uuid& localPeerID) {
    return "local." + localPeerID.string() + "-v2";
}

std::string GeneratedTLSIdentity::commonName(const Uuid& localPeerID) {
    std::string text = localPeerID.string();
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char character) { return static_cast<char>(std::tolower(character)); });
    return "Quillbridge-" + text;
}

std::string GeneratedTLSIdentity::dnsName(const Uuid& localPeerID) {
    return localPeerID.string() + ".local";
}

Bytes GeneratedTLSIdentity::serialNumberContent(const RandomSource& random) {
    Bytes serial(16);
    // A leading zero byte would make the INTEGER non-minimal (or shorter than the rest of the system
    // expects), which strict certificate parsers refuse.
    do {
        random(serial);
    } while (serial[0] == 0);
    if ((serial[0] & 0x80) != 0)
        serial.insert(serial.begin(), 0x00);
    return serial;
}

std::optional<GeneratedTLSIdentity::StoredIdentity> GeneratedTLSIdentity::makeStoredIdentity(
    std::string_view commonName, std::span<const std::string> dnsNames, Date now) {
    auto key = P256SigningKey::generate();
    Date notValidAfter = now.addingSeconds(validitySeconds);
    Bytes serial = serialNumberContent([](std::span<std::uint8_t> buffer) { fillSecureRandom(buffer); });
    Bytes tbs =
        toBeSigned(commonName, dnsNames, key.publicKey().x963Representation(), now, notValidAfter, serial);
    auto signature = key.signature(tbs);
    if (!signature)
        return std::nullopt;
    Bytes certificate = D::derConstructed(D::sequence, {tbs, signatureAlgorithm(), bitString(*signature)});
    return StoredIdentity{std::move(certificate), key.x963Representation(), notValidAfter};
}

std::optional<TLSIdentity> GeneratedTLSIdentity::tlsIdentity(const StoredIdentity& stored) {
    auto key = P256SigningKey::fromX963Representation(stored.privateKeyX963);
    if (!key)
        return std::nullopt;

    gnutls_x509_crt_t raw = nullptr;
    if (gnutls_x509_crt_init(&raw) != GNUTLS_E_SUCCESS)
        return std::nullopt;
    std::unique_ptr<gnutls_x509_crt_int, CertificateDeleter> certificate(raw);
    gnutls_datum_t der{const_cast<unsigned char*>(stored.certificateDER.data()),
                       static_cast<unsigned int>(stored.certificateDER.size())};
    if (stored.certificateDER.empty() || stored.certificateDER.size() > SecretStore::maximumSecretByteCount ||
        gnutls_x509_crt_import(certificate.get(), &der, GNUTLS_X509_FMT_DER) != GNUTLS_E_SUCCESS) {
        return std::nullopt;
    }

    std::uint8_t serial[40];
    std::size_t serialSize = sizeof serial;
    if (gnutls_x509_crt_get_serial(certificate.get(), serial, &serialSize) != GNUTLS_E_SUCCESS ||
        serialSize == 0) {
        return std::nullopt;
    }
    bool negative = (serial[0] & 0x80) != 0;
    bool notMinimal = serialSize > 1 && serial[0] == 0x00 && (serial[1] & 0x80) == 0;
    if (negative || notMinimal)
        return std::nullopt;

    gnutls_ecc_curve_t curve = GNUTLS_ECC_CURVE_INVALID;
    GnutlsDatum x;
    GnutlsDatum y;
    if (gnutls_x509_crt_get_pk_ecc_raw(certificate.get(), &curve, &x.value, &y.value) != GNUTLS_E_SUCCESS ||
        curve != GNUTLS_ECC_CURVE_SECP256R1) {
        return std::nullopt;
    }
    auto xBytes = coordinate(x.view());
    auto yBytes = coordinate(y.view());
    if (!xBytes || !yBytes)
        return std::nullopt;
    Bytes certificateKey = *xBytes;
    appendBytes(certificateKey, *yBytes);
    if (certificateKey != key->publicKey().rawRepresentation())
        return std::nullopt;

    return TLSIdentity{stored.certificateDER, stored.privateKeyX963.copy()};
}

std::optional<GeneratedTLSIdentity::StoredIdentity> GeneratedTLSIdentity::loadStoredIdentity(
    SecretStore& secrets, const std::string& account) {
    auto item = secrets.read(secretService, account);
    if (!item || !*item)
        return std::nullopt;
    auto decoded = decodeJson<StoredIdentity>((*item)->text());
    if (!decoded)
        return std::nullopt;
    return std::move(*decoded);
}

bool GeneratedTLSIdentity::persist(SecretStore& secrets, const std::string& account,
                                   const StoredIdentity& identity) {
    auto json = encodeJson(identity);
    if (!json)
        return false;
    // The text holds the private key: it is wiped as soon as it has been handed over.
    SecretBytes text = SecretBytes::consuming(std::move(*json));
    return secrets.write(secretService, account, text).has_value();
}

std::optional<GeneratedTLSIdentity::StoredIdentity> GeneratedTLSIdentity::generate(const Uuid& localPeerID) {
    std::string names[] = {dnsName(localPeerID)};
    return makeStoredIdentity(commonName(localPeerID), names);
}

std::optional<GeneratedTLSIdentity::Loaded> GeneratedTLSIdentity::loadOrCreate(SecretStore& secrets,
                                                                               const Uuid& localPeerID) {
    std::string account = secretAccount(localPeerID);
    if (auto stored = loadStoredIdentity(secrets, account)) {
        // Reused whenever it converts, expired or not.
        if (auto identity = tlsIdentity(*stored))
            return Loaded{std::move(*identity), stored->certificateDER};
    }

    auto generated = generate(localPeerID);
    if (!generated)
        return std::nullopt;
    if (persist(secrets, account, *generated)) {
        if (auto identity = tlsIdentity(*generated))
            return Loaded{std::move(*identity), generated->certificateDER};
    }
    logger().error("Unable to persist a generated TLS identity");
    return std::nullopt;
}

std::optional<GeneratedTLSIdentity::Loaded> GeneratedTLSIdentity::rotate(SecretStore& secrets,
                                                                         const Uuid& localPeerID) {
    std::string account = secretAccount(localPeerID);
    if (!loadStoredIdentity(secrets, account))
        return std::nullopt;

    auto generated = generate(localPeerID);
    if (!generated)
        return std::nullopt;
    auto identity = tlsIdentity(*generated);
    if (!identity)
        return std::nullopt;
    if (!persist(secrets, account, *generated)) {
        logger().error("Unable to persist a rotated TLS identity");
        return std::nullopt;
    }
    return Loaded{std::move(*identity), generated->certificateDER};
}

}  // namespace quillbridge
