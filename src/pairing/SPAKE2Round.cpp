#include "pairing/SPAKE2Round.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>

#include <nettle/hkdf.h>
#include <nettle/hmac.h>
#include <nettle/sha2.h>
#include <sodium.h>

namespace quillbridge {
namespace {

constexpr std::size_t scalarByteCount = crypto_core_ed25519_SCALARBYTES;
constexpr std::size_t pointByteCount = crypto_core_ed25519_BYTES;
static_assert(scalarByteCount == 32 && pointByteCount == 32);

// Argon2id parameters of the password hash of the code.
constexpr unsigned long long passwordHashOpsLimit = 2;
constexpr std::size_t passwordHashMemLimit = 64 * 1024 * 1024;
constexpr std::size_t passwordHashOutputByteCount = 64;
constexpr std::size_t pinByteCount = 6;
constexpr std::size_t saltByteCount = crypto_pwhash_SALTBYTES;
static_assert(saltByteCount == 16);

// "Quillbridge SPAKE2 PIN v1" and a terminating zero byte precede the code in the password input.
constexpr std::string_view passwordLabel{"Quillbridge SPAKE2 PIN v1\0", 26};
constexpr std::string_view keyScheduleLabel = "ConfirmationKeys";

// The lowest library release whose group operations this round relies on.
constexpr std::tuple<int, int, int> minimumSodiumVersion{1, 0, 18};

// Fixed-size secret storage that is wiped however the scope is left.
template <std::size_t N>
struct SecretArray {
    std::array<std::uint8_t, N> bytes{};
    SecretArray() = default;
    SecretArray(const SecretArray&) = delete;
    SecretArray& operator=(const SecretArray&) = delete;
    ~SecretArray() { sodium_memzero(bytes.data(), bytes.size()); }
    std::uint8_t* data() { return bytes.data(); }
    const std::uint8_t* data() const { return bytes.data(); }
    constexpr std::size_t size() const { return N; }
};

// A growable secret buffer: its capacity is reserved up front so that no copy is left behind, and the
// whole of it is wiped on destruction.
struct SecretBuffer {
    Bytes bytes;
    explicit SecretBuffer(std::size_t capacity) { bytes.reserve(capacity); }
    SecretBuffer(const SecretBuffer&) = delete;
    SecretBuffer& operator=(const SecretBuffer&) = delete;
    ~SecretBuffer() {
        bytes.resize(bytes.capacity());
        sodium_memzero(bytes.data(), bytes.size());
    }
};

// Only ever called with the two constants below, which both decode.
std::array<std::uint8_t, 32> decodedPoint(std::string_view hex) {
    std::array<std::uint8_t, 32> point{};
    auto bytes = fromHex(hex);
    std::copy(bytes->begin(), bytes->end(), point.begin());
    return point;
}

// The RFC 9382 edwards25519 masking points: the client masks its share with M, the server with N.
const std::array<std::uint8_t, 32>& pointM() {
    static const std::array<std::uint8_t, 32> point =
        decodedPoint("d048032c6ea0b6d697ddc2e86bda85a33adac920f1bf18e1b0c6d166a5cecdaf");
    return point;
}

const std::array<std::uint8_t, 32>& pointN() {
    static const std::array<std::uint8_t, 32> point =
        decodedPoint("d3bfb518f44f3430f29d0c92af503865a1ed3281dc69b35dd868ba85f886c4ab");
    return point;
}

std::optional<std::tuple<int, int, int>> parseVersion(std::string_view text) {
    int parts[3] = {0, 0, 0};
    const char* cursor = text.data();
    const char* end = text.data() + text.size();
    for (int index = 0; index < 3; ++index) {
        if (index > 0) {
            if (cursor == end || *cursor != '.')
                return std::nullopt;
            ++cursor;
        }
        if (cursor == end || *cursor < '0' || *cursor > '9')
            return std::nullopt;
        auto [next, error] = std::from_chars(cursor, end, parts[index]);
        if (error != std::errc())
            return std::nullopt;
        cursor = next;
    }
    if (cursor != end)
        return std::nullopt;
    return std::tuple{parts[0], parts[1], parts[2]};
}

// A library without the point-validation fix accepts points with a small-order component; such a
// library must not run pairing.
bool pointValidationSelfTest() {
    // The neutral element, the point of order 2, and the base point plus the point of order 2.
    static constexpr std::string_view rejected[] = {
        "0100000000000000000000000000000000000000000000000000000000000000",
        "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
        "9599999999999999999999999999999999999999999999999999999999999999",
    };
    static constexpr std::string_view basePoint =
        "5866666666666666666666666666666666666666666666666666666666666666";
    for (auto hex : rejected) {
        auto point = fromHex(hex);
        if (crypto_core_ed25519_is_valid_point(point->data()) != 0)
            return false;
    }
    auto base = fromHex(basePoint);
    return crypto_core_ed25519_is_valid_point(base->data()) == 1;
}

bool isSixAsciiDigits(std::string_view pin) {
    return pin.size() == pinByteCount &&
           std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// w = Argon2id(label || code, salt) reduced modulo the group order. False when the hash fails or w is zero.
bool derivePasswordScalar(std::string_view pin, ByteView salt, std::array<std::uint8_t, 32>& passwordScalar) {
    SecretArray<passwordLabel.size() + pinByteCount> input;
    std::memcpy(input.data(), passwordLabel.data(), passwordLabel.size());
    std::memcpy(input.data() + passwordLabel.size(), pin.data(), pinByteCount);
    SecretArray<passwordHashOutputByteCount> output;
    if (crypto_pwhash(output.data(), output.size(), reinterpret_cast<const char*>(input.data()), input.size(),
                      salt.data(), passwordHashOpsLimit, passwordHashMemLimit,
                      crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return false;
    }
    crypto_core_ed25519_scalar_reduce(passwordScalar.data(), output.data());
    if (sodium_is_zero(passwordScalar.data(), passwordScalar.size())) {
        sodium_memzero(passwordScalar.data(), passwordScalar.size());
        return false;
    }
    return true;
}

void appendTranscriptEntry(Bytes& transcript, ByteView entry) {
    std::uint64_t length = entry.size();
    for (int index = 0; index < 8; ++index)
        transcript.push_back(static_cast<std::uint8_t>(length >> (8 * index)));
    appendBytes(transcript, entry);
}

// (cA, cB) from the transcript and the additional data: Ka is the second half of SHA-256(TT); HKDF-SHA256
// with no salt and info "ConfirmationKeys" || AD gives KcA || KcB; each confirmation is HMAC-SHA256 of TT.
SPAKE2Round::Result confirmationValues(ByteView transcript, ByteView additionalData) {
    SecretArray<SHA256_DIGEST_SIZE> transcriptHash;
    {
        sha256_ctx hash;
        sha256_init(&hash);
        sha256_update(&hash, transcript.size(), transcript.data());
        sha256_digest(&hash, transcriptHash.size(), transcriptHash.data());
        sodium_memzero(&hash, sizeof hash);
    }
    const std::uint8_t* confirmationKey = transcriptHash.data() + 16;  // Ka; the first half (Ke) is unused

    Bytes info = toBytes(keyScheduleLabel);
    appendBytes(info, additionalData);

    hmac_sha256_ctx mac;
    SecretArray<SHA256_DIGEST_SIZE> pseudoRandomKey;
    SecretArray<32> keyMaterial;
    const std::uint8_t emptySalt = 0;
    hmac_sha256_set_key(&mac, 0, &emptySalt);
    hkdf_extract(&mac, reinterpret_cast<nettle_hash_update_func*>(hmac_sha256_update),
                 reinterpret_cast<nettle_hash_digest_func*>(hmac_sha256_digest), SHA256_DIGEST_SIZE, 16,
                 confirmationKey, pseudoRandomKey.data());
    hmac_sha256_set_key(&mac, pseudoRandomKey.size(), pseudoRandomKey.data());
    hkdf_expand(&mac, reinterpret_cast<nettle_hash_update_func*>(hmac_sha256_update),
                reinterpret_cast<nettle_hash_digest_func*>(hmac_sha256_digest), SHA256_DIGEST_SIZE,
                info.size(), info.data(), keyMaterial.size(), keyMaterial.data());

    SPAKE2Round::Result result;
    result.outboundConfirmation.resize(SHA256_DIGEST_SIZE);
    result.expectedPeerConfirmation.resize(SHA256_DIGEST_SIZE);
    // cA with KcA (first half), cB with KcB (second half); the caller assigns them to the two sides.
    hmac_sha256_set_key(&mac, 16, keyMaterial.data());
    hmac_sha256_update(&mac, transcript.size(), transcript.data());
    hmac_sha256_digest(&mac, SHA256_DIGEST_SIZE, result.outboundConfirmation.data());
    hmac_sha256_set_key(&mac, 16, keyMaterial.data() + 16);
    hmac_sha256_update(&mac, transcript.size(), transcript.data());
    hmac_sha256_digest(&mac, SHA256_DIGEST_SIZE, result.expectedPeerConfirmation.data());
    sodium_memzero(&mac, sizeof mac);
    return result;
}

void defaultScalarSource(std::span<std::uint8_t, 32> scalar) {
    crypto_core_ed25519_scalar_random(scalar.data());
}

}  // namespace

bool SPAKE2Round::libraryGateAccepts(int sodiumInitResult, std::string_view versionText,
                                     bool pointValidationSelfTestPassed) {
    if (sodiumInitResult < 0)
        return false;
    auto version = parseVersion(versionText);
    if (!version || *version < minimumSodiumVersion)
        return false;
    return pointValidationSelfTestPassed;
}

bool SPAKE2Round::libraryGateIsOpen() {
    static const bool open = [] {
        int initResult = sodium_init();
        if (initResult < 0)
            return false;
        return libraryGateAccepts(initResult, sodium_version_string(), pointValidationSelfTest());
    }();
    return open;
}

std::expected<std::unique_ptr<SPAKE2Round>, SPAKE2Round::Failure> SPAKE2Round::create(
    Role role, std::string_view pin, ByteView salt, ByteView clientIdentity, ByteView serverIdentity) {
    return create(role, pin, salt, clientIdentity, serverIdentity, defaultScalarSource);
}

std::expected<std::unique_ptr<SPAKE2Round>, SPAKE2Round::Failure> SPAKE2Round::create(
    Role role, std::string_view pin, ByteView salt, ByteView clientIdentity, ByteView serverIdentity,
    const ScalarSource& privateScalarSource) {
    if (!libraryGateIsOpen())
        return std::unexpected(Failure::invalidInput);
    if (!isSixAsciiDigits(pin))
        return std::unexpected(Failure::invalidInput);
    if (salt.size() != saltByteCount)
        return std::unexpected(Failure::invalidInput);
    if (clientIdentity.empty() || serverIdentity.empty())
        return std::unexpected(Failure::invalidInput);

    // Built in place so that the scalars are never copied; the destructor wipes them on every exit.
    std::unique_ptr<SPAKE2Round> round(new SPAKE2Round());
    round->holdsSecrets_ = true;
    if (!derivePasswordScalar(pin, salt, round->passwordScalar_)) {
        round->wipeSecrets();
        return std::unexpected(Failure::invalidInput);
    }
    privateScalarSource(std::span<std::uint8_t, 32>(round->privateScalar_));
    if (sodium_is_zero(round->privateScalar_.data(), round->privateScalar_.size())) {
        round->wipeSecrets();
        return std::unexpected(Failure::primitiveFailure);
    }

    SecretArray<pointByteCount> commitment;  // x·G
    SecretArray<pointByteCount> mask;        // w·P
    const auto& maskPoint = role == Role::client ? pointM() : pointN();
    Bytes share(pointByteCount);
    if (crypto_scalarmult_ed25519_base_noclamp(commitment.data(), round->privateScalar_.data()) != 0 ||
        crypto_scalarmult_ed25519_noclamp(mask.data(), round->passwordScalar_.data(), maskPoint.data()) !=
            0 ||
        crypto_core_ed25519_add(share.data(), commitment.data(), mask.data()) != 0) {
        round->wipeSecrets();
        return std::unexpected(Failure::primitiveFailure);
    }

    round->role_ = role;
    round->clientIdentity_.assign(clientIdentity.begin(), clientIdentity.end());
    round->serverIdentity_.assign(serverIdentity.begin(), serverIdentity.end());
    round->outboundPublicValue_ = std::move(share);
    return round;
}

SPAKE2Round::~SPAKE2Round() {
    wipeSecrets();
}

void SPAKE2Round::wipeSecrets() {
    sodium_memzero(privateScalar_.data(), privateScalar_.size());
    sodium_memzero(passwordScalar_.data(), passwordScalar_.size());
    holdsSecrets_ = false;
}

ByteView SPAKE2Round::privateScalar() const {
    return holdsSecrets_ ? ByteView(privateScalar_) : ByteView();
}

ByteView SPAKE2Round::passwordScalar() const {
    return holdsSecrets_ ? ByteView(passwordScalar_) : ByteView();
}

std::expected<SPAKE2Round::Result, SPAKE2Round::Failure> SPAKE2Round::finish(ByteView peerPublicValue,
                                                                             ByteView additionalData) {
    if (finished_)
        return std::unexpected(Failure::alreadyFinished);
    finished_ = true;
    struct WipeOnExit {
        SPAKE2Round& round;
        ~WipeOnExit() { round.wipeSecrets(); }
    } wipeOnExit{*this};
    if (!holdsSecrets_)
        return std::unexpected(Failure::primitiveFailure);

    if (peerPublicValue.size() != pointByteCount ||
        crypto_core_ed25519_is_valid_point(peerPublicValue.data()) != 1) {
        return std::unexpected(Failure::invalidPeerPublicValue);
    }

    // Remove the peer's mask: D = Y − w·Q, which must again be a valid point of the prime-order subgroup.
    const auto& peerMaskPoint = role_ == Role::server ? pointM() : pointN();
    SecretArray<pointByteCount> peerMask;
    SecretArray<pointByteCount> unmasked;
    if (crypto_scalarmult_ed25519_noclamp(peerMask.data(), passwordScalar_.data(), peerMaskPoint.data()) !=
            0 ||
        crypto_core_ed25519_sub(unmasked.data(), peerPublicValue.data(), peerMask.data()) != 0 ||
        crypto_core_ed25519_is_valid_point(unmasked.data()) != 1) {
        return std::unexpected(Failure::invalidPeerPublicValue);
    }

    // K = (8·x mod L)·D.
    SecretArray<scalarByteCount> cofactor;
    cofactor.bytes[0] = 8;
    SecretArray<scalarByteCount> clearedScalar;
    crypto_core_ed25519_scalar_mul(clearedScalar.data(), privateScalar_.data(), cofactor.data());
    if (sodium_is_zero(clearedScalar.data(), clearedScalar.size()))
        return std::unexpected(Failure::primitiveFailure);
    SecretArray<pointByteCount> sharedPoint;
    if (crypto_scalarmult_ed25519_noclamp(sharedPoint.data(), clearedScalar.data(), unmasked.data()) != 0) {
        return std::unexpected(Failure::primitiveFailure);
    }

    // TT = A, B, pA, pB, K, w, each behind its 8-byte little-endian length.
    const ByteView clientShare = role_ == Role::client ? ByteView(outboundPublicValue_) : peerPublicValue;
    const ByteView serverShare = role_ == Role::client ? peerPublicValue : ByteView(outboundPublicValue_);
    SecretBuffer transcript(6 * 8 + clientIdentity_.size() + serverIdentity_.size() + 4 * 32);
    appendTranscriptEntry(transcript.bytes, clientIdentity_);
    appendTranscriptEntry(transcript.bytes, serverIdentity_);
    appendTranscriptEntry(transcript.bytes, clientShare);
    appendTranscriptEntry(transcript.bytes, serverShare);
    appendTranscriptEntry(transcript.bytes, ByteView(sharedPoint.bytes));
    appendTranscriptEntry(transcript.bytes, ByteView(passwordScalar_));

    Result confirmations = confirmationValues(transcript.bytes, additionalData);  // (cA, cB)
    if (role_ == Role::server)
        std::swap(confirmations.outboundConfirmation, confirmations.expectedPeerConfirmation);
    return confirmations;
}

}  // namespace quillbridge
