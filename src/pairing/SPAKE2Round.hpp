#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "core/Bytes.hpp"

namespace quillbridge {

// One SPAKE2 exchange (RFC 9382 shape) over edwards25519, keyed by the 6-digit pairing code. The host
// always takes the server role, the headset the client role. Creating a round derives the password scalar
// w from the code with Argon2id (64 MiB, 2 passes: tens of milliseconds, see `create`) and yields this
// side's share T = x·G + w·P. Finishing it with the peer's share gives the two key confirmations. A round
// can be finished once; its secret scalars are wiped as soon as it is finished or destroyed.
//
// A round belongs to one owner and is used from one thread at a time.
class SPAKE2Round {
public:
    enum class Role { client, server };

    enum class Failure {
        invalidInput,            // library gate closed; unusable code, salt or identity; password hash failed
        invalidPeerPublicValue,  // the peer's share, or the share unmasked, is not a valid group element
        primitiveFailure,        // a group or scalar operation on our own values failed or gave zero
        alreadyFinished,         // `finish` called a second time
    };

    struct Result {
        Bytes outboundConfirmation;      // the confirmation this side sends
        Bytes expectedPeerConfirmation;  // the confirmation the peer must send
        bool operator==(const Result&) const = default;
    };

    // Writes a uniformly random non-zero scalar below the group order (little-endian).
    using ScalarSource = std::function<void(std::span<std::uint8_t, 32>)>;

    // Runs Argon2id synchronously on the calling thread: call it where blocking for tens of milliseconds
    // and allocating 64 MiB is acceptable, never on a thread that serves the network or the user interface.
    // The code must be six ASCII digits, the salt 16 bytes, and neither identity empty.
    static std::expected<std::unique_ptr<SPAKE2Round>, Failure> create(Role role, std::string_view pin,
                                                                       ByteView salt, ByteView clientIdentity,
                                                                       ByteView serverIdentity);
    // The same with the random scalar x drawn from `privateScalarSource`; fixed test vectors use it.
    static std::expected<std::unique_ptr<SPAKE2Round>, Failure> create(
        Role role, std::string_view pin, ByteView salt, ByteView clientIdentity, ByteView serverIdentity,
        const ScalarSource& privateScalarSource);

    SPAKE2Round(const SPAKE2Round&) = delete;
    SPAKE2Round& operator=(const SPAKE2Round&) = delete;
    ~SPAKE2Round();

    // This side's 32-byte share, to send to the peer.
    const Bytes& outboundPublicValue() const { return outboundPublicValue_; }
    Role role() const { return role_; }
    const Bytes& clientIdentity() const { return clientIdentity_; }
    const Bytes& serverIdentity() const { return serverIdentity_; }
    bool isFinished() const { return finished_; }
    // The secret scalars x and w (32 bytes each, little-endian); empty once the round is finished.
    ByteView privateScalar() const;
    ByteView passwordScalar() const;

    // Takes the peer's 32-byte share and the additional data both sides bind into the key schedule.
    // Whatever the outcome, the round is finished afterwards and its secrets are wiped.
    std::expected<Result, Failure> finish(ByteView peerPublicValue, ByteView additionalData);

    // Whether this process may run rounds: libsodium initialises, is 1.0.18 or later, and rejects
    // small-order and mixed-order points. Evaluated once, on first use.
    static bool libraryGateIsOpen();
    // The decision itself, from the three observations.
    static bool libraryGateAccepts(int sodiumInitResult, std::string_view versionText,
                                   bool pointValidationSelfTestPassed);

private:
    SPAKE2Round() = default;
    void wipeSecrets();

    Bytes outboundPublicValue_;
    Role role_ = Role::server;
    Bytes clientIdentity_;
    Bytes serverIdentity_;
    std::array<std::uint8_t, 32> privateScalar_{};
    std::array<std::uint8_t, 32> passwordScalar_{};
    bool holdsSecrets_ = false;
    bool finished_ = false;
};

}  // namespace quillbridge
