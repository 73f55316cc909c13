#pragma once

#include <string_view>

#include "core/Bytes.hpp"
#include "core/Uuid.hpp"
#include "wire/PairingChallengeMessage.hpp"
#include "wire/PairingStartMessage.hpp"

namespace quillbridge::pairing_vectors {

// One fixed pairing attempt whose byte strings were computed by an independent implementation of the
// protocol. Any change of a label, field order, length prefix or key schedule changes these results.

inline Bytes hex(std::string_view text) {
    return *fromHex(text);
}

inline Bytes counting(std::uint8_t first, std::size_t count) {
    Bytes bytes(count);
    for (std::size_t index = 0; index < count; ++index)
        bytes[index] = static_cast<std::uint8_t>(first + index);
    return bytes;
}

inline const Uuid attemptID = *Uuid::parse("6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F");
inline const Uuid headsetID = *Uuid::parse("11111111-2222-4333-8444-555555555555");
inline const Uuid hostID = *Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
inline const Uuid roundID = *Uuid::parse("01234567-89AB-4DEF-8123-456789ABCDEF");
inline constexpr std::string_view headsetName = "Zo\xC3\xA9's Vision Pro";
inline constexpr std::string_view hostName = "Studio Mac";
inline constexpr std::string_view code = "246810";
inline const Bytes headsetCertificate = toBytes("headset certificate DER");
inline const Bytes hostCertificate = toBytes("host certificate DER");
inline const Bytes salt = counting(0, 16);

inline PairingStartMessage start() {
    return {attemptID, 19, headsetID, std::string(headsetName), counting(0, 64)};
}

inline PairingChallengeMessage challenge() {
    return {attemptID, 19, hostID, std::string(hostName), counting(64, 64), counting(0xA0, 32)};
}

// The random scalars of the two sides (little-endian, below the group order).
inline const Bytes clientScalar = hex("85aae71644593852bef4ad0bfb71539f7d805bb94f3f3a037df1cd8c05879606");
inline const Bytes serverScalar = hex("6c5848feeb16fe7d11bfcf1b958bfa812e5bf69676f3eaf0255527d19bdb2c0e");

inline const Bytes transcriptHash = hex("82ca906d4c8c30a932a45f2ee8e9f14b6ba59fad8d3d2113dfb6a655b338d904");
inline const Bytes clientIdentity =
    hex("5175696c6c627269646765205350414b4532206964656e7469747920763100000009766973696f6e50726f00000024313131"
        "31313131"
        "312d323232322d343333332d383434342d353535353535353535353535");
inline const Bytes serverIdentity =
    hex("5175696c6c627269646765205350414b4532206964656e74697479207631000000036d61630000002441414141414141412d"
        "424242"
        "422d344343432d384444442d454545454545454545454545");
inline const Bytes additionalData = hex("3a0118c7af7a62b342498fd55591a883e31b439c19d1e99892c889f812a6b8e4");
inline const Bytes passwordScalar = hex("6dd3e63c2f227a61c2c7239fd2aae35ad2d3b1de851e7164d5469baf9c5d8200");
inline const Bytes clientShare = hex("a8bfb2eab05406f8dbdfabb670c6e76d66c93d870435072b84f487f0b688a3d5");
inline const Bytes serverShare = hex("a8d809178a323514ff0230e0bdfed2dbfb2a17455e02ba5874c6f1857848a1db");
inline const Bytes clientConfirmation =
    hex("970dc74e409a003ceb2059d8e07b238a28b615a5b49bea62df249bd8cc2330bd");
inline const Bytes serverConfirmation =
    hex("a3c260654245d6f5fda2ebff13c427cdafa41ebbc20d2aae5dea934b473e9345");
inline const Bytes roundTranscriptHash =
    hex("9cffd9a00d34678445bb33c29a53ef08a8e275542c1fc054b31ee9958cd5253b");
// SHA-256 of the host's confirmation signature payload (123 bytes) and of the acceptance payload (140).
inline const Bytes hostConfirmationPayloadDigest =
    hex("3d0d05b4b711413b8cf7d6d014199ddca867f049e28aeac3c591b7f789bfd689");
inline const Bytes acceptancePayloadDigest =
    hex("a5419b8a26fbd3e06231a7ad33adf5345f958283644cab13bb4537839c709997");
// SHA-256 of the host's certificate payload (118 bytes) and of the headset's reconnect payload over the
// challenge nonce (113 bytes).
inline const Bytes hostCertificatePayloadDigest =
    hex("527f6ce95442a4a40e5fb07d41ad15f23732503844309041f17329f0e9847d98");
inline const Bytes clientSignedPayloadDigest =
    hex("983a7335df186ff34f42cd63cbc8c64665a7afc342d73992ef6f30e85d5fa032");

}  // namespace quillbridge::pairing_vectors
