#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

// Little-endian reading and writing for the microphone packet and the property channel's messages.
namespace quillbridge::microphone {

template <typename Integer>
void appendLittleEndian(std::vector<std::uint8_t>& buffer, Integer value) {
    using Unsigned = std::make_unsigned_t<Integer>;
    auto bits = static_cast<Unsigned>(value);
    for (std::size_t index = 0; index < sizeof(Integer); ++index) {
        buffer.push_back(static_cast<std::uint8_t>(bits >> (8 * index)));
    }
}

inline void appendLittleEndianDouble(std::vector<std::uint8_t>& buffer, double value) {
    appendLittleEndian(buffer, std::bit_cast<std::uint64_t>(value));
}

template <typename Integer>
Integer loadLittleEndian(const std::uint8_t* bytes) {
    using Unsigned = std::make_unsigned_t<Integer>;
    Unsigned bits = 0;
    for (std::size_t index = 0; index < sizeof(Integer); ++index) {
        bits |= static_cast<Unsigned>(static_cast<Unsigned>(bytes[index]) << (8 * index));
    }
    return static_cast<Integer>(bits);
}

inline float loadLittleEndianFloat(const std::uint8_t* bytes) {
    return std::bit_cast<float>(loadLittleEndian<std::uint32_t>(bytes));
}

// Reads fields in order from a byte span; every read checks the length first and yields nothing past the end.
class LittleEndianReader {
public:
    explicit LittleEndianReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    template <typename Integer>
    std::optional<Integer> read() {
        if (remaining() < sizeof(Integer)) {
            return std::nullopt;
        }
        auto value = loadLittleEndian<Integer>(bytes_.data() + cursor_);
        cursor_ += sizeof(Integer);
        return value;
    }

    std::optional<double> readDouble() {
        auto bits = read<std::uint64_t>();
        if (!bits) {
            return std::nullopt;
        }
        return std::bit_cast<double>(*bits);
    }

    // The next `count` bytes, checked against what is left before anything is copied.
    std::optional<std::span<const std::uint8_t>> readBytes(std::size_t count) {
        if (remaining() < count) {
            return std::nullopt;
        }
        auto view = bytes_.subspan(cursor_, count);
        cursor_ += count;
        return view;
    }

    std::size_t remaining() const { return bytes_.size() - cursor_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t cursor_ = 0;
};

}  // namespace quillbridge::microphone
