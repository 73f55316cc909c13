#include "pairing/SessionAuthentication.hpp"

#include <string_view>

#include "pairing/PairingCrypto.hpp"

namespace quillbridge {
namespace {

void appendSeparated(Bytes& buffer, std::string_view text) {
    buffer.push_back(0);
    appendBytes(buffer, asBytes(text));
}

}  // namespace

Bytes SessionAuthentication::certificateSignaturePayload(const Uuid& signerID, const Uuid& peerID,
                                                         ByteView certificateDER) {
    Bytes buffer = toBytes("certificate");
    appendSeparated(buffer, signerID.string());
    appendSeparated(buffer, peerID.string());
    buffer.push_back(0);
    appendBytes(buffer, sha256(certificateDER));
    return buffer;
}

Bytes SessionAuthentication::signedPayload(Side side, const Uuid& signerID, const Uuid& peerID,
                                           ByteView nonce) {
    Bytes buffer = toBytes(side == Side::client ? "client" : "server");
    appendSeparated(buffer, signerID.string());
    appendSeparated(buffer, peerID.string());
    buffer.push_back(0);
    appendBytes(buffer, nonce);
    return buffer;
}

}  // namespace quillbridge
