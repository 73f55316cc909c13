#include "core/BigEndian.hpp"

namespace quillbridge {
namespace {

template <typename T>
std::optional<T> readBigEndian(ByteView data, std::size_t& cursor) {
    if (cursor > data.size() || data.size() - cursor < sizeof(T)) {
        return std::nullopt;
    }
    T value = 0;
    for (std::size_t index = 0; index < sizeof(T); ++index) {
        value = static_cast<T>((value << 8) | data[cursor + index]);
    }
    cursor += sizeof(T);
    return value;
}

template <typename T>
void appendBigEndianValue(Bytes& buffer, T value) {
    for (std::size_t index = sizeof(T); index > 0; --index) {
        buffer.push_back(static_cast<std::uint8_t>(value >> (8 * (index - 1))));
    }
}

}  // namespace

std::optional<std::uint8_t> readUInt8(ByteView data, std::size_t& cursor) {
    return readBigEndian<std::uint8_t>(data, cursor);
}
std::optional<std::uint16_t> readBigEndianUInt16(ByteView data, std::size_t& cursor) {
    return readBigEndian<std::uint16_t>(data, cursor);
}
std::optional<std::uint32_t> readBigEndianUInt32(ByteView data, std::size_t& cursor) {
    return readBigEndian<std::uint32_t>(data, cursor);
}
std::optional<std::uint64_t> readBigEndianUInt64(ByteView data, std::size_t& cursor) {
    return readBigEndian<std::uint64_t>(data, cursor);
}

void appendBigEndian(Bytes& buffer, std::uint8_t value) {
    buffer.push_back(value);
}
void appendBigEndian(Bytes& buffer, std::uint16_t value) {
    appendBigEndianValue(buffer, value);
}
void appendBigEndian(Bytes& buffer, std::uint32_t value) {
    appendBigEndianValue(buffer, value);
}
void appendBigEndian(Bytes& buffer, std::uint64_t value) {
    appendBigEndianValue(buffer, value);
}

}  // namespace quillbridge
