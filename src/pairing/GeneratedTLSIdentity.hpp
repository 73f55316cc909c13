#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>

#include "core/Bytes.hpp"
#include "core/Date.hpp"
#include "core/Json.hpp"
#include "core/SecretBytes.hpp"
#include "core/Uuid.hpp"
#include "pairing/SecretStore.hpp"
#include "pairing/TLSIdentity.hpp"

namespace quillbridge {

// The host's self-signed P-256 TLS identity: made once, kept in the secret store as JSON under
// service "Quillbridge.tls-identity" and account "local.<UUID>-v2", reused on every launch, replaced by
// a rotation. No instances: the session calls the two entry points from its own serial context.
class GeneratedTLSIdentity {
public:
    static constexpr std::string_view secretService = "Quillbridge.tls-identity";
    // The certificate is valid for this long after it is made.
    static constexpr double validitySeconds = 365.0 * 86400.0;

    // The stored form: the certificate, the private key as 0x04 || X || Y || scalar (97 bytes), and the
    // certificate's expiry (always set when generated; optional when read).
    struct StoredIdentity {
        Bytes certificateDER;
        SecretBytes privateKeyX963;
        std::optional<Date> notValidAfter;
    };

    // What the session gets: the identity for the QUIC listener and the certificate's DER bytes for the
    // pairing transcript and the certificate signature.
    struct Loaded {
        TLSIdentity identity;
        Bytes certificateDER;

        bool operator==(const Loaded&) const = default;
    };

    // Fills a buffer from a secure random source.
    using RandomSource = std::function<void(std::span<std::uint8_t>)>;

    // The stored identity when it reads, decodes and converts; otherwise a new one, which is used only
    // once it has been stored. Nothing when generation or storing fails.
    static std::optional<Loaded> loadOrCreate(SecretStore& secrets, const Uuid& localPeerID);
    // A new identity in place of the stored one. Never creates the first identity, and changes the
    // stored item only when it returns a result.
    static std::optional<Loaded> rotate(SecretStore& secrets, const Uuid& localPeerID);

    // A fresh key and a certificate for it, valid from `now` for `validitySeconds`. Nothing when signing
    // fails.
    static std::optional<StoredIdentity> makeStoredIdentity(std::string_view commonName,
                                                            std::span<const std::string> dnsNames,
                                                            Date now = Date::now());
    // The identity the transport can use: the certificate parses, its serial number is a minimally encoded
    // positive integer, and its public key is the stored private key's. Nothing otherwise.
    static std::optional<TLSIdentity> tlsIdentity(const StoredIdentity& stored);

    // "local." + upper-case UUID text + "-v2".
    static std::string secretAccount(const Uuid& localPeerID);
    // "Quillbridge-" + lower-case UUID text.
    static std::string commonName(const Uuid& localPeerID);
    // Upper-case UUID text + ".local".
    static std::string dnsName(const Uuid& localPeerID);

    // The content of the certificate's serial-number INTEGER: 16 random bytes whose first byte is not
    // zero (drawn again until it is), with 0x00 put in front when its top bit is set, so the number is
    // positive and minimally encoded.
    static Bytes serialNumberContent(const RandomSource& random);

private:
    static std::optional<StoredIdentity> loadStoredIdentity(SecretStore& secrets, const std::string& account);
    static bool persist(SecretStore& secrets, const std::string& account, const StoredIdentity& identity);
    static std::optional<StoredIdentity> generate(const Uuid& localPeerID);
};

// The stored form as JSON: {"certificateDER": Base64, "privateKeyX963": Base64, "notValidAfter": date}. The
// plain copies of the key that the JSON layer needs on the way are wiped before these return.
template <>
struct JsonCoder<GeneratedTLSIdentity::StoredIdentity> {
    static JsonResult<Json> encode(const GeneratedTLSIdentity::StoredIdentity& value);
    static JsonResult<GeneratedTLSIdentity::StoredIdentity> decode(const Json& json);
};

}  // namespace quillbridge
