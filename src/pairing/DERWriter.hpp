#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/Bytes.hpp"
#include "core/Date.hpp"

namespace quillbridge {

// The few pieces of DER (ASN.1 distinguished encoding) that the self-signed certificate and ECDSA
// signatures need. Every element is a tag byte, a length, then the content.
struct DERWriter {
    enum Tag : std::uint8_t {
        boolean = 0x01,
        integer = 0x02,
        bitString = 0x03,
        octetString = 0x04,
        objectIdentifier = 0x06,
        utf8String = 0x0C,
        utcTime = 0x17,
        generalizedTime = 0x18,
        sequence = 0x30,
        set = 0x31,
        contextPrimitive2 = 0x82,    // [2], a DNS name in a subject alternative name
        contextConstructed0 = 0xA0,  // [0], the certificate version
        contextConstructed3 = 0xA3,  // [3], the certificate extensions
    };

    // 0 to 127 as one byte; larger as 0x80 + n and the length in the n big-endian bytes that hold it.
    static Bytes derLength(std::size_t length);
    static Bytes derElement(std::uint8_t tag, ByteView content);
    // The encoded elements one after the other, wrapped with `tag`.
    static Bytes derConstructed(std::uint8_t tag, std::span<const Bytes> elements);
    static Bytes derConstructed(std::uint8_t tag, std::initializer_list<Bytes> elements) {
        return derConstructed(tag, std::span<const Bytes>(elements.begin(), elements.size()));
    }
    // A non-negative INTEGER from its big-endian magnitude, minimally encoded: leading zero bytes dropped,
    // one 0x00 put in front when the top bit is set. An empty or all-zero magnitude is the number 0.
    static Bytes derUnsignedInteger(ByteView magnitude);
    static Bytes derUTF8String(std::string_view text);
    // "yyMMddHHmmssZ" in UTC, the fraction of the second dropped.
    static Bytes derUTCTime(Date date);
    // A certificate validity time: UTCTime for the years 1950 to 2049, GeneralizedTime ("yyyyMMddHHmmssZ")
    // outside them, where a two-digit year would name the wrong century.
    static Bytes derTime(Date date);
    // Name = SEQUENCE { SET { SEQUENCE { OID 2.5.4.3 (common name), UTF8String } } }.
    static Bytes derName(std::string_view commonName);
};

}  // namespace quillbridge
