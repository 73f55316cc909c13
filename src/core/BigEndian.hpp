#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/Bytes.hpp"

namespace quillbridge {

// Readers of fixed-width unsigned integers stored most significant byte first. Each reads at `cursor`
// (an index into `data`) and advances it past the value, or returns nothing and leaves the cursor
// where it was when fewer bytes than the width remain.
std::optional<std::uint8_t> readUInt8(ByteView data, std::size_t& cursor);
std::optional<std::uint16_t> readBigEndianUInt16(ByteView data, std::size_t& cursor);
std::optional<std::uint32_t> readBigEndianUInt32(ByteView data, std::size_t& cursor);
std::optional<std::uint64_t> readBigEndianUInt64(ByteView data, std::size_t& cursor);

// Writers append the value to the end of the buffer, most significant byte first.
void appendBigEndian(Bytes& buffer, std::uint8_t value);
void appendBigEndian(Bytes& buffer, std::uint16_t value);
void appendBigEndian(Bytes& buffer, std::uint32_t value);
void appendBigEndian(Bytes& buffer, std::uint64_t value);

}  // namespace quillbridge
