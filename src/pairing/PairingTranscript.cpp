#include "pairing/PairingTranscript.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "core/BigEndian.hpp"
#include "pairing/PairingCrypto.hpp"

namespace quillbridge {
namespace {

void appendText(std::string_view text, Bytes& buffer) {
    appendBytes(buffer, asBytes(text));
}

void appendTextField(std::string_view text, Bytes& buffer) {
    appendField(asBytes(text), buffer);
}

void appendPeerBlock(PairingRole role, const Uuid& peerID, std::string_view displayName,
                     ByteView signingPublicKey, ByteView certificateDER, Bytes& buffer) {
    appendTextField(rawValue(role), buffer);
    appendTextField(peerID.string(), buffer);
    appendTextField(displayName, buffer);
    appendField(signingPublicKey, buffer);
    appendField(sha256(certificateDER), buffer);
}

}  // namespace

void appendField(ByteView value, Bytes& buffer) {
    if (value.size() > std::numeric_limits<std::uint32_t>::max()) {
        std::fputs("appendField: value too long for a 32-bit length\n", stderr);
        std::abort();
    }
    appendBigEndian(buffer, static_cast<std::uint32_t>(value.size()));
    appendBytes(buffer, value);
}

std::optional<Bytes> pairingTranscriptHash(const PairingStartMessage& start,
                                           const PairingChallengeMessage& challenge,
                                           ByteView clientCertificate, ByteView hostCertificate) {
    if (start.attemptID != challenge.attemptID)
        return std::nullopt;
    if (start.controlProtocolVersion != challenge.controlProtocolVersion)
        return std::nullopt;
    if (challenge.nonce.size() != pairingNonceByteCount)
        return std::nullopt;

    Bytes buffer;
    appendText(PairingLabels::pairingTranscript, buffer);
    Bytes version;
    appendBigEndian(version, start.controlProtocolVersion);
    appendField(version, buffer);
    appendTextField(start.attemptID.string(), buffer);
    appendPeerBlock(PairingRole::visionPro, start.peerID, start.displayName, start.signingPublicKey,
                    clientCertificate, buffer);
    appendPeerBlock(PairingRole::mac, challenge.peerID, challenge.displayName, challenge.signingPublicKey,
                    hostCertificate, buffer);
    appendField(challenge.nonce, buffer);
    return sha256(buffer);
}

Bytes spakeIdentity(PairingRole role, const Uuid& peerID) {
    Bytes buffer;
    appendText(PairingLabels::spakeIdentity, buffer);
    appendTextField(rawValue(role), buffer);
    appendTextField(peerID.string(), buffer);
    return buffer;
}

std::optional<Bytes> spakeAdditionalData(ByteView transcriptHash, const Uuid& roundID, ByteView salt) {
    if (transcriptHash.size() != pairingHashByteCount || salt.size() != pairingSaltByteCount)
        return std::nullopt;
    Bytes buffer;
    appendText(PairingLabels::spakeAdditionalData, buffer);
    appendField(transcriptHash, buffer);
    appendTextField(roundID.string(), buffer);
    appendField(salt, buffer);
    return sha256(buffer);
}

std::optional<Bytes> roundTranscriptHash(ByteView transcriptHash, const Uuid& roundID, ByteView salt,
                                         ByteView clientShare, ByteView hostShare,
                                         ByteView clientConfirmation) {
    if (transcriptHash.size() != pairingHashByteCount || salt.size() != pairingSaltByteCount ||
        clientShare.size() != pairingShareByteCount || hostShare.size() != pairingShareByteCount ||
        clientConfirmation.size() != pairingConfirmationByteCount) {
        return std::nullopt;
    }
    Bytes buffer;
    appendText(PairingLabels::roundTranscript, buffer);
    appendField(transcriptHash, buffer);
    appendTextField(roundID.string(), buffer);
    appendField(salt, buffer);
    appendField(clientShare, buffer);
    appendField(hostShare, buffer);
    appendField(clientConfirmation, buffer);
    return sha256(buffer);
}

Bytes confirmationSignaturePayload(PairingRole role, ByteView roundTranscriptHash, ByteView confirmation) {
    Bytes buffer;
    appendText(PairingLabels::confirmationSignature, buffer);
    appendTextField(rawValue(role), buffer);
    appendField(roundTranscriptHash, buffer);
    appendField(confirmation, buffer);
    return buffer;
}

std::optional<Bytes> acceptancePayload(ByteView roundTranscriptHash, ByteView hostConfirmation,
                                       ByteView clientConfirmation) {
    if (roundTranscriptHash.size() != pairingHashByteCount ||
        hostConfirmation.size() != pairingConfirmationByteCount ||
        clientConfirmation.size() != hostConfirmation.size()) {
        return std::nullopt;
    }
    Bytes buffer;
    appendText(PairingLabels::acceptance, buffer);
    appendField(roundTranscriptHash, buffer);
    appendField(hostConfirmation, buffer);
    appendField(clientConfirmation, buffer);
    return buffer;
}

}  // namespace quillbridge
