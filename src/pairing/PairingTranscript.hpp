#pragma once

#include <optional>
#include <string_view>

#include "core/Bytes.hpp"
#include "core/Uuid.hpp"
#include "wire/PairingChallengeMessage.hpp"
#include "wire/PairingRole.hpp"
#include "wire/PairingStartMessage.hpp"

namespace quillbridge {

// The byte strings that pairing hashes, signs or feeds into SPAKE2. The headset builds the same bytes, so
// every label, order and length here is part of the protocol. Values inside payloads are either fields
// (a 4-byte big-endian byte count, then the bytes) or raw bytes; identifiers are upper-case UUID text.
// Every function is pure and may run on any thread.
namespace PairingLabels {
inline constexpr std::string_view pairingTranscript = "Quillbridge pairing transcript v2";
inline constexpr std::string_view roundTranscript = "Quillbridge SPAKE2 round transcript v1";
inline constexpr std::string_view confirmationSignature = "Quillbridge SPAKE2 confirmation signature v1";
inline constexpr std::string_view acceptance = "Quillbridge SPAKE2 acceptance v1";
inline constexpr std::string_view spakeIdentity = "Quillbridge SPAKE2 identity v1";
inline constexpr std::string_view spakeAdditionalData = "Quillbridge SPAKE2 additional data v1";
}  // namespace PairingLabels

// Byte counts the pairing protocol fixes.
inline constexpr std::size_t pairingHashByteCount = 32;          // SHA-256 transcript hashes
inline constexpr std::size_t pairingConfirmationByteCount = 32;  // SPAKE2 key confirmations
inline constexpr std::size_t pairingShareByteCount = 32;         // SPAKE2 shares (edwards25519 points)
inline constexpr std::size_t pairingSaltByteCount = 16;          // salt of the code's password hash
inline constexpr std::size_t pairingNonceByteCount = 32;         // challenge nonces

// Appends the field encoding of `value` to `buffer`. A value of 2^32 bytes or more cannot be encoded; the
// protocol never carries one, and passing one stops the process.
void appendField(ByteView value, Bytes& buffer);

// SHA-256 over the label, the protocol version, the attempt, the headset's peer block ("visionPro", its
// identifier, name, signing key and certificate digest), the host's peer block ("mac", ...) and the
// challenge nonce. Nothing unless both messages name the same attempt and version and the nonce is
// 32 bytes.
std::optional<Bytes> pairingTranscriptHash(const PairingStartMessage& start,
                                           const PairingChallengeMessage& challenge,
                                           ByteView clientCertificate, ByteView hostCertificate);

// The SPAKE2 identity of one side: label, field(role name), field(identifier text). Not hashed.
Bytes spakeIdentity(PairingRole role, const Uuid& peerID);

// SHA-256 over label, field(transcript hash), field(round identifier text), field(salt): the additional
// data both sides pass to the SPAKE2 round of `roundID`. Nothing unless the hash is 32 bytes and the salt
// 16.
std::optional<Bytes> spakeAdditionalData(ByteView transcriptHash, const Uuid& roundID, ByteView salt);

// SHA-256 over label and six fields: pairing transcript hash, round identifier text, salt, headset's
// share, host's share and the headset's confirmation. Nothing unless they are 32, 16, 32, 32 and 32 bytes.
std::optional<Bytes> roundTranscriptHash(ByteView transcriptHash, const Uuid& roundID, ByteView salt,
                                         ByteView clientShare, ByteView hostShare,
                                         ByteView clientConfirmation);

// Label, field(signer's role name), field(round transcript hash), field(confirmation): what each side
// signs with its confirmation. No length checks.
Bytes confirmationSignaturePayload(PairingRole role, ByteView roundTranscriptHash, ByteView confirmation);

// Label, field(round transcript hash), field(host's confirmation), field(headset's confirmation): what
// the host signs when it accepts. Nothing unless all three are 32 bytes (140 bytes in all).
std::optional<Bytes> acceptancePayload(ByteView roundTranscriptHash, ByteView hostConfirmation,
                                       ByteView clientConfirmation);

}  // namespace quillbridge
