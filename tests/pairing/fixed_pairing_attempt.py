#!/usr/bin/python3
"""Computes the expected values of the fixed pairing attempt in FixedPairingAttemptTests.cpp.

Written from the protocol description, independently of the host's C++ code: Argon2id (RFC 9106) and the
edwards25519 group in plain Python, SHA-256/HMAC/HKDF from hashlib and hmac, and P-256 from the
`cryptography` module (python3-cryptography). The tests do not run it: its output is pasted into the test.

    /usr/bin/python3 tests/pairing/fixed_pairing_attempt.py          # about half a minute (pure-Python Argon2id)
    /usr/bin/python3 tests/pairing/fixed_pairing_attempt.py --self-test
"""

import hashlib
import hmac
import struct
import sys

from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, utils

MASK64 = (1 << 64) - 1

# ---- Argon2id (RFC 9106), version 0x13 ------------------------------------------------------------------


def blake2b_long(data, out_len):
    """H' of RFC 9106 section 3.3."""
    prefix = struct.pack("<I", out_len)
    if out_len <= 64:
        return hashlib.blake2b(prefix + data, digest_size=out_len).digest()
    result = b""
    v = hashlib.blake2b(prefix + data, digest_size=64).digest()
    result += v[:32]
    remaining = out_len - 32
    while remaining > 64:
        v = hashlib.blake2b(v, digest_size=64).digest()
        result += v[:32]
        remaining -= 32
    v = hashlib.blake2b(v, digest_size=remaining).digest()
    return result + v


def rotr(x, n):
    return ((x >> n) | (x << (64 - n))) & MASK64


def gb(v, a, b, c, d):
    va, vb, vc, vd = v[a], v[b], v[c], v[d]
    va = (va + vb + 2 * (va & 0xFFFFFFFF) * (vb & 0xFFFFFFFF)) & MASK64
    vd = rotr(vd ^ va, 32)
    vc = (vc + vd + 2 * (vc & 0xFFFFFFFF) * (vd & 0xFFFFFFFF)) & MASK64
    vb = rotr(vb ^ vc, 24)
    va = (va + vb + 2 * (va & 0xFFFFFFFF) * (vb & 0xFFFFFFFF)) & MASK64
    vd = rotr(vd ^ va, 16)
    vc = (vc + vd + 2 * (vc & 0xFFFFFFFF) * (vd & 0xFFFFFFFF)) & MASK64
    vb = rotr(vb ^ vc, 63)
    v[a], v[b], v[c], v[d] = va, vb, vc, vd


def permute(v, idx):
    """P on the 16 words v[idx[0..15]]."""
    w = [v[i] for i in idx]
    gb(w, 0, 4, 8, 12)
    gb(w, 1, 5, 9, 13)
    gb(w, 2, 6, 10, 14)
    gb(w, 3, 7, 11, 15)
    gb(w, 0, 5, 10, 15)
    gb(w, 1, 6, 11, 12)
    gb(w, 2, 7, 8, 13)
    gb(w, 3, 4, 9, 14)
    for k, i in enumerate(idx):
        v[i] = w[k]


ROW_INDICES = [list(range(16 * r, 16 * r + 16)) for r in range(8)]
COLUMN_INDICES = [
    [2 * c + 16 * r + s for r in range(8) for s in (0, 1)] for c in range(8)
]


def compress(x, y):
    """G(X, Y) on blocks of 128 words."""
    r = [a ^ b for a, b in zip(x, y)]
    q = list(r)
    for idx in ROW_INDICES:
        permute(q, idx)
    for idx in COLUMN_INDICES:
        permute(q, idx)
    return [a ^ b for a, b in zip(q, r)]


ZERO_BLOCK = [0] * 128


def block_from_bytes(data):
    return list(struct.unpack("<128Q", data))


def block_to_bytes(block):
    return struct.pack("<128Q", *block)


def argon2id(password, salt, time_cost, memory_kib, parallelism, tag_length, secret=b"", associated=b""):
    argon_type, version = 2, 0x13
    h0 = hashlib.blake2b(
        struct.pack("<IIIIII", parallelism, tag_length, memory_kib, time_cost, version, argon_type)
        + struct.pack("<I", len(password)) + password
        + struct.pack("<I", len(salt)) + salt
        + struct.pack("<I", len(secret)) + secret
        + struct.pack("<I", len(associated)) + associated,
        digest_size=64,
    ).digest()

    block_count = 4 * parallelism * (memory_kib // (4 * parallelism))
    lane_length = block_count // parallelism
    segment_length = lane_length // 4
    memory = [[None] * lane_length for _ in range(parallelism)]
    for lane in range(parallelism):
        for j in (0, 1):
            memory[lane][j] = block_from_bytes(blake2b_long(h0 + struct.pack("<II", j, lane), 1024))

    for pass_number in range(time_cost):
        for slice_number in range(4):
            for lane in range(parallelism):
                data_independent = pass_number == 0 and slice_number < 2
                address_block = None
                counter = 0
                start = 2 if pass_number == 0 and slice_number == 0 else 0
                if data_independent:
                    input_block = [pass_number, lane, slice_number, block_count, time_cost, argon_type] + [0] * 122

                    def next_addresses():
                        nonlocal counter
                        counter += 1
                        input_block[6] = counter
                        return compress(ZERO_BLOCK, compress(ZERO_BLOCK, input_block))

                    address_block = next_addresses()
                for index in range(start, segment_length):
                    column = slice_number * segment_length + index
                    previous = memory[lane][column - 1 if column > 0 else lane_length - 1]
                    if data_independent:
                        if index % 128 == 0 and index != 0:
                            address_block = next_addresses()
                        pseudo_random = address_block[index % 128]
                    else:
                        pseudo_random = previous[0]
                    j1 = pseudo_random & 0xFFFFFFFF
                    j2 = pseudo_random >> 32
                    ref_lane = lane if pass_number == 0 and slice_number == 0 else j2 % parallelism
                    same_lane = ref_lane == lane
                    if pass_number == 0:
                        area = slice_number * segment_length
                        area += index - 1 if same_lane else (-1 if index == 0 else 0)
                        start_position = 0
                    else:
                        area = lane_length - segment_length
                        area += index - 1 if same_lane else (-1 if index == 0 else 0)
                        start_position = 0 if slice_number == 3 else (slice_number + 1) * segment_length
                    x = (j1 * j1) >> 32
                    y = (area * x) >> 32
                    relative = area - 1 - y
                    ref_column = (start_position + relative) % lane_length
                    new_block = compress(previous, memory[ref_lane][ref_column])
                    if pass_number > 0:
                        new_block = [a ^ b for a, b in zip(memory[lane][column], new_block)]
                    memory[lane][column] = new_block
        print("argon2id: pass %d done" % (pass_number + 1), file=sys.stderr)

    final = memory[0][lane_length - 1]
    for lane in range(1, parallelism):
        final = [a ^ b for a, b in zip(final, memory[lane][lane_length - 1])]
    return blake2b_long(block_to_bytes(final), tag_length)


# ---- edwards25519 ---------------------------------------------------------------------------------------

P = 2**255 - 19
L = 2**252 + 27742317777372353535851937790883648493
D = (-121665 * pow(121666, P - 2, P)) % P
SQRT_M1 = pow(2, (P - 1) // 4, P)


def point_add(p1, p2):
    x1, y1, z1, t1 = p1
    x2, y2, z2, t2 = p2
    a = (y1 - x1) * (y2 - x2) % P
    b = (y1 + x1) * (y2 + x2) % P
    c = 2 * t1 * t2 * D % P
    d = 2 * z1 * z2 % P
    e, f, g, h = b - a, d - c, d + c, b + a
    return (e * f % P, g * h % P, f * g % P, e * h % P)


def point_neg(p1):
    x, y, z, t = p1
    return (-x % P, y, z, -t % P)


def scalar_mult(scalar, point):
    result = (0, 1, 1, 0)
    while scalar:
        if scalar & 1:
            result = point_add(result, point)
        point = point_add(point, point)
        scalar >>= 1
    return result


def encode_point(point):
    x, y, z, _ = point
    zi = pow(z, P - 2, P)
    x, y = x * zi % P, y * zi % P
    return (y | ((x & 1) << 255)).to_bytes(32, "little")


def decode_point(data):
    value = int.from_bytes(data, "little")
    sign = value >> 255
    y = value & ((1 << 255) - 1)
    assert y < P
    x2 = (y * y - 1) * pow(D * y * y + 1, P - 2, P) % P
    x = pow(x2, (P + 3) // 8, P)
    if (x * x - x2) % P:
        x = x * SQRT_M1 % P
    assert (x * x - x2) % P == 0, "not on the curve"
    if (x & 1) != sign:
        x = P - x
    return (x, y, 1, x * y % P)


BASE = decode_point(bytes.fromhex("5866666666666666666666666666666666666666666666666666666666666666"))
POINT_M = decode_point(bytes.fromhex("d048032c6ea0b6d697ddc2e86bda85a33adac920f1bf18e1b0c6d166a5cecdaf"))
POINT_N = decode_point(bytes.fromhex("d3bfb518f44f3430f29d0c92af503865a1ed3281dc69b35dd868ba85f886c4ab"))


def scalar_bytes(value):
    return (value % L).to_bytes(32, "little")


# ---- the protocol's byte strings -------------------------------------------------------------------------


def field(value):
    return struct.pack(">I", len(value)) + value


def text_field(text):
    return field(text.encode("utf-8"))


def sha256(data):
    return hashlib.sha256(data).digest()


def peer_block(role, peer_id, name, signing_key, certificate):
    return text_field(role) + text_field(peer_id) + text_field(name) + field(signing_key) + field(sha256(certificate))


def spake_identity(role, peer_id):
    return b"Quillbridge SPAKE2 identity v1" + text_field(role) + text_field(peer_id)


def transcript_entry(value):
    return struct.pack("<Q", len(value)) + value


def hkdf_sha256(key_material, info, length):
    prk = hmac.new(b"", key_material, hashlib.sha256).digest()
    output, block, counter = b"", b"", 1
    while len(output) < length:
        block = hmac.new(prk, block + info + bytes([counter]), hashlib.sha256).digest()
        output += block
        counter += 1
    return output[:length]


def p256_public_raw(scalar_hex):
    key = ec.derive_private_key(int(scalar_hex, 16), ec.SECP256R1())
    numbers = key.public_key().public_numbers()
    return key, numbers.x.to_bytes(32, "big") + numbers.y.to_bytes(32, "big")


def der_signature_is_minimal(signature):
    r, s = utils.decode_dss_signature(signature)
    return utils.encode_dss_signature(r, s) == signature


# ---- the fixed attempt -----------------------------------------------------------------------------------

ATTEMPT_ID = "6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F"
HEADSET_ID = "11111111-2222-4333-8444-555555555555"
HOST_ID = "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"
ROUND_ID = "01234567-89AB-4DEF-8123-456789ABCDEF"
HEADSET_NAME = "Zo\u00e9's Vision Pro"
HOST_NAME = "Studio Mac"
VERSION = 19
CODE = b"246810"
SALT = bytes(range(16))
NONCE = bytes(range(0xA0, 0xC0))
HEADSET_CERTIFICATE = b"headset certificate DER"
HOST_CERTIFICATE = b"host certificate DER"
HEADSET_SIGNING_SCALAR = "1f3a5c7e9b2d4f6081a3c5e7092b4d6f8091a2b3c4d5e6f708192a3b4c5d6e7f"
HOST_SIGNING_SCALAR = "7e6d5c4b3a29180706f5e4d3c2b1a0918f7e6d5c4b3a291807f6e5d4c3b2a190"
CLIENT_SCALAR = int.from_bytes(bytes.fromhex("85aae71644593852bef4ad0bfb71539f7d805bb94f3f3a037df1cd8c05879606"), "little")
SERVER_SCALAR = int.from_bytes(bytes.fromhex("6c5848feeb16fe7d11bfcf1b958bfa812e5bf69676f3eaf0255527d19bdb2c0e"), "little")


def self_test():
    # RFC 9106 section 5.3 (Argon2id, t=3, m=32 KiB, p=4, 32-byte tag).
    tag = argon2id(b"\x01" * 32, b"\x02" * 16, 3, 32, 4, 32, secret=b"\x03" * 8, associated=b"\x04" * 12)
    expected = "0d640df58d78766c08c037a34a8b53c9d01ef0452d75b65eb52520e96b01e659"
    assert tag.hex() == expected, tag.hex()
    # RFC 8032 test 1: the public key of a known seed is the base point times its clamped scalar.
    seed = bytes.fromhex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60")
    h = hashlib.sha512(seed).digest()
    a = int.from_bytes(h[:32], "little") & ((1 << 254) - 8) | (1 << 254)
    assert encode_point(scalar_mult(a, BASE)).hex() == (
        "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a")
    print("self-test passed")


def main():
    headset_key, headset_public = p256_public_raw(HEADSET_SIGNING_SCALAR)
    host_key, host_public = p256_public_raw(HOST_SIGNING_SCALAR)

    transcript = (
        b"Quillbridge pairing transcript v2"
        + field(struct.pack(">H", VERSION))
        + text_field(ATTEMPT_ID)
        + peer_block("visionPro", HEADSET_ID, HEADSET_NAME, headset_public, HEADSET_CERTIFICATE)
        + peer_block("mac", HOST_ID, HOST_NAME, host_public, HOST_CERTIFICATE)
        + field(NONCE)
    )
    transcript_hash = sha256(transcript)
    additional_data = sha256(
        b"Quillbridge SPAKE2 additional data v1" + field(transcript_hash) + text_field(ROUND_ID) + field(SALT))

    password = b"Quillbridge SPAKE2 PIN v1\x00" + CODE
    w = int.from_bytes(argon2id(password, SALT, 2, 64 * 1024, 1, 64), "little") % L

    client_share = point_add(scalar_mult(CLIENT_SCALAR, BASE), scalar_mult(w, POINT_M))
    server_share = point_add(scalar_mult(SERVER_SCALAR, BASE), scalar_mult(w, POINT_N))
    p_a, p_b = encode_point(client_share), encode_point(server_share)
    # The host's view: K = 8x (pA - w M).
    unmasked = point_add(decode_point(p_a), point_neg(scalar_mult(w, POINT_M)))
    shared = encode_point(scalar_mult((8 * SERVER_SCALAR) % L, unmasked))
    # The headset's view must agree.
    unmasked_b = point_add(decode_point(p_b), point_neg(scalar_mult(w, POINT_N)))
    assert encode_point(scalar_mult((8 * CLIENT_SCALAR) % L, unmasked_b)) == shared

    tt = b"".join(transcript_entry(v) for v in (
        spake_identity("visionPro", HEADSET_ID), spake_identity("mac", HOST_ID), p_a, p_b, shared, scalar_bytes(w)))
    confirmation_key = sha256(tt)[16:]
    keys = hkdf_sha256(confirmation_key, b"ConfirmationKeys" + additional_data, 32)
    client_confirmation = hmac.new(keys[:16], tt, hashlib.sha256).digest()
    server_confirmation = hmac.new(keys[16:], tt, hashlib.sha256).digest()

    round_hash = sha256(
        b"Quillbridge SPAKE2 round transcript v1" + field(transcript_hash) + text_field(ROUND_ID) + field(SALT)
        + field(p_a) + field(p_b) + field(client_confirmation))
    host_payload = (b"Quillbridge SPAKE2 confirmation signature v1" + text_field("mac") + field(round_hash)
                    + field(server_confirmation))
    client_payload = (b"Quillbridge SPAKE2 confirmation signature v1" + text_field("visionPro")
                      + field(round_hash) + field(client_confirmation))
    acceptance_payload = (b"Quillbridge SPAKE2 acceptance v1" + field(round_hash) + field(server_confirmation)
                          + field(client_confirmation))
    # ECDSA draws a fresh nonce each time; any valid signature does.
    while True:
        client_signature = headset_key.sign(client_payload, ec.ECDSA(hashes.SHA256()))
        if der_signature_is_minimal(client_signature):
            break

    values = [
        ("headsetSigningPublicKey", headset_public),
        ("hostSigningPublicKey", host_public),
        ("transcriptHash", transcript_hash),
        ("passwordScalar", scalar_bytes(w)),
        ("clientShare", p_a),
        ("serverShare", p_b),
        ("clientConfirmation", client_confirmation),
        ("serverConfirmation", server_confirmation),
        ("roundTranscriptHash", round_hash),
        ("hostConfirmationPayload", host_payload),
        ("clientSignature", client_signature),
        ("acceptancePayload", acceptance_payload),
    ]
    for name, value in values:
        print('%s = "%s"' % (name, value.hex()))


if __name__ == "__main__":
    if "--self-test" in sys.argv:
        self_test()
    else:
        main()
