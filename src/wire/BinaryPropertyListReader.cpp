// Reader of binary property lists ("bplist00"): a header, the objects, a table of object offsets and a
// 32-byte trailer. Every count and offset is checked against the bytes present before it is used, nesting
// is bounded (so reference cycles end), and shared references cannot multiply the work beyond a budget
// proportional to the size of the data.

#include "wire/PropertyListReader.hpp"

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/BigEndian.hpp"
#include "core/UnicodeText.hpp"
#include "wire/PropertyListDictionaryBuilder.hpp"

namespace quillbridge {
namespace {

constexpr std::string_view magic = "bplist00";
constexpr std::size_t trailerByteCount = 32;

// Reads an unsigned big-endian integer of 1 to 8 bytes at `offset`.
std::optional<std::uint64_t> readSized(ByteView data, std::size_t offset, std::size_t width) {
    if (width == 0 || width > 8 || offset > data.size() || data.size() - offset < width)
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t index = 0; index < width; ++index)
        value = (value << 8) | data[offset + index];
    return value;
}

class BinaryReader {
public:
    explicit BinaryReader(ByteView data) : data_(data), budget_(4 * data.size() + 4096) {}

    std::optional<PropertyListValue> read() {
        if (data_.size() < magic.size() + 1 + trailerByteCount)
            return std::nullopt;
        if (asText(data_.first(magic.size())) != magic)
            return std::nullopt;
        std::size_t trailer = data_.size() - trailerByteCount;
        offsetWidth_ = data_[trailer + 6];
        referenceWidth_ = data_[trailer + 7];
        std::size_t cursor = trailer + 8;
        auto objectCount = readBigEndianUInt64(data_, cursor);
        auto topObject = readBigEndianUInt64(data_, cursor);
        auto offsetTable = readBigEndianUInt64(data_, cursor);
        if (offsetWidth_ < 1 || offsetWidth_ > 8 || referenceWidth_ < 1 || referenceWidth_ > 8)
            return std::nullopt;
        if (*objectCount == 0 || *topObject >= *objectCount)
            return std::nullopt;
        if (*offsetTable < magic.size() + 1 || *offsetTable > trailer)
            return std::nullopt;
        if (*objectCount > (trailer - *offsetTable) / offsetWidth_)
            return std::nullopt;
        objectCount_ = *objectCount;
        offsetTable_ = static_cast<std::size_t>(*offsetTable);
        return readObject(*topObject, 0);
    }

private:
    ByteView data_;
    std::size_t offsetWidth_ = 0;
    std::size_t referenceWidth_ = 0;
    std::uint64_t objectCount_ = 0;
    // Objects lie between the header and the offset table.
    std::size_t offsetTable_ = 0;
    // What may still be produced, counted in values plus bytes of text and data.
    std::size_t budget_;

    bool spend(std::size_t amount) {
        if (amount > budget_)
            return false;
        budget_ -= amount;
        return true;
    }

    // Bytes from `offset` to the offset table, or nothing when `count` units of `width` bytes do not fit.
    bool fits(std::size_t offset, std::uint64_t count, std::size_t width) const {
        return offset <= offsetTable_ && count <= (offsetTable_ - offset) / width;
    }

    std::optional<std::size_t> objectOffset(std::uint64_t reference) const {
        if (reference >= objectCount_)
            return std::nullopt;
        auto offset =
            readSized(data_, offsetTable_ + static_cast<std::size_t>(reference) * offsetWidth_, offsetWidth_);
        if (!offset || *offset < magic.size() || *offset >= offsetTable_)
            return std::nullopt;
        return static_cast<std::size_t>(*offset);
    }

    // The element count of a marker: its low nibble, or for 0xF an integer object that follows it.
    std::optional<std::uint64_t> readCount(std::uint8_t low, std::size_t& cursor) const {
        if (low != 0xF)
            return low;
        if (cursor >= offsetTable_)
            return std::nullopt;
        std::uint8_t marker = data_[cursor];
        if ((marker >> 4) != 0x1 || (marker & 0xF) > 3)
            return std::nullopt;
        std::size_t width = std::size_t{1} << (marker & 0xF);
        if (!fits(cursor + 1, 1, width))
            return std::nullopt;
        auto count = readSized(data_, cursor + 1, width);
        cursor += 1 + width;
        return count;
    }

    std::optional<std::uint64_t> readReference(std::size_t offset) const {
        return readSized(data_, offset, referenceWidth_);
    }

    std::optional<std::string> readKey(std::uint64_t reference) {
        auto key = readObject(reference, maximumPropertyListDepth);
        if (!key || !std::holds_alternative<std::string>(key->storage))
            return std::nullopt;
        return std::get<std::string>(std::move(key->storage));
    }

    std::optional<PropertyListValue> readObject(std::uint64_t reference, std::size_t depth) {
        auto start = objectOffset(reference);
        if (!start || !spend(1))
            return std::nullopt;
        std::size_t cursor = *start;
        std::uint8_t marker = data_[cursor++];
        std::uint8_t low = marker & 0xF;
        switch (marker >> 4) {
            case 0x0:
                if (marker == 0x08)
                    return PropertyListValue{false};
                if (marker == 0x09)
                    return PropertyListValue{true};
                return std::nullopt;  // null and fill bytes are no values
            case 0x1:
                return readInteger(cursor, low);
            case 0x2: {
                if (low == 2 && fits(cursor, 1, 4)) {
                    auto bits = static_cast<std::uint32_t>(*readSized(data_, cursor, 4));
                    float number;
                    std::memcpy(&number, &bits, sizeof number);
                    return PropertyListValue{static_cast<double>(number)};
                }
                if (low == 3 && fits(cursor, 1, 8))
                    return PropertyListValue{readDouble(cursor)};
                return std::nullopt;
            }
            case 0x3:
                if (marker != 0x33 || !fits(cursor, 1, 8))
                    return std::nullopt;
                return PropertyListValue{Date{readDouble(cursor)}};
            case 0x4: {
                auto count = readCount(low, cursor);
                if (!count || !fits(cursor, *count, 1) || !spend(*count))
                    return std::nullopt;
                auto bytes = data_.subspan(cursor, static_cast<std::size_t>(*count));
                return PropertyListValue{Bytes(bytes.begin(), bytes.end())};
            }
            case 0x5: {
                auto count = readCount(low, cursor);
                if (!count || !fits(cursor, *count, 1) || !spend(*count))
                    return std::nullopt;
                auto text = asText(data_.subspan(cursor, static_cast<std::size_t>(*count)));
                for (char c : text) {
                    if (static_cast<unsigned char>(c) >= 0x80)
                        return std::nullopt;
                }
                return PropertyListValue{std::string(text)};
            }
            case 0x6: {
                auto count = readCount(low, cursor);
                if (!count || !fits(cursor, *count, 2) || !spend(2 * *count))
                    return std::nullopt;
                return readUtf16(cursor, static_cast<std::size_t>(*count));
            }
            case 0x8: {
                std::size_t width = std::size_t{low} + 1;
                if (width > 8 || !fits(cursor, 1, width))
                    return std::nullopt;
                return PropertyListValue{PropertyListValue::Uid{*readSized(data_, cursor, width)}};
            }
            case 0xA: {
                auto count = readCount(low, cursor);
                if (!count || depth >= maximumPropertyListDepth || !fits(cursor, *count, referenceWidth_)) {
                    return std::nullopt;
                }
                PropertyListValue::Array elements;
                elements.reserve(static_cast<std::size_t>(*count));
                for (std::uint64_t index = 0; index < *count; ++index) {
                    auto element = readObject(*readReference(cursor + index * referenceWidth_), depth + 1);
                    if (!element)
                        return std::nullopt;
                    elements.push_back(std::move(*element));
                }
                return PropertyListValue{std::move(elements)};
            }
            case 0xD: {
                auto count = readCount(low, cursor);
                if (!count || depth >= maximumPropertyListDepth || *count > UINT64_MAX / 2 ||
                    !fits(cursor, 2 * *count, referenceWidth_)) {
                    return std::nullopt;
                }
                PropertyListDictionaryBuilder entries;
                entries.reserve(static_cast<std::size_t>(*count));
                std::size_t values = cursor + static_cast<std::size_t>(*count) * referenceWidth_;
                for (std::uint64_t index = 0; index < *count; ++index) {
                    auto key = readKey(*readReference(cursor + index * referenceWidth_));
                    if (!key)
                        return std::nullopt;
                    auto value = readObject(*readReference(values + index * referenceWidth_), depth + 1);
                    if (!value)
                        return std::nullopt;
                    entries.set(std::move(*key), std::move(*value));
                }
                return std::move(entries).build();
            }
            default:
                return std::nullopt;
        }
    }

    double readDouble(std::size_t cursor) const {
        std::uint64_t bits = *readSized(data_, cursor, 8);
        double number;
        std::memcpy(&number, &bits, sizeof number);
        return number;
    }

    // 1, 2 and 4 bytes are unsigned, 8 bytes signed; 16 bytes hold values beyond the signed range.
    std::optional<PropertyListValue> readInteger(std::size_t cursor, std::uint8_t low) const {
        if (low > 4)
            return std::nullopt;
        std::size_t width = std::size_t{1} << low;
        if (!fits(cursor, 1, width))
            return std::nullopt;
        if (width < 8)
            return PropertyListValue{static_cast<std::int64_t>(*readSized(data_, cursor, width))};
        if (width == 8)
            return PropertyListValue{static_cast<std::int64_t>(*readSized(data_, cursor, 8))};
        std::uint64_t high = *readSized(data_, cursor, 8);
        std::uint64_t lowBits = *readSized(data_, cursor + 8, 8);
        if (high == 0) {
            if (lowBits <= static_cast<std::uint64_t>(INT64_MAX)) {
                return PropertyListValue{static_cast<std::int64_t>(lowBits)};
            }
            return PropertyListValue{lowBits};
        }
        if (high == UINT64_MAX && lowBits > static_cast<std::uint64_t>(INT64_MAX)) {
            return PropertyListValue{static_cast<std::int64_t>(lowBits)};
        }
        return std::nullopt;  // does not fit in 64 bits
    }

    std::optional<PropertyListValue> readUtf16(std::size_t cursor, std::size_t count) const {
        std::string text;
        text.reserve(count);
        for (std::size_t index = 0; index < count; ++index) {
            auto unit = static_cast<std::uint32_t>(*readSized(data_, cursor + 2 * index, 2));
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                if (index + 1 >= count)
                    return std::nullopt;
                auto next = static_cast<std::uint32_t>(*readSized(data_, cursor + 2 * (index + 1), 2));
                if (next < 0xDC00 || next > 0xDFFF)
                    return std::nullopt;
                detail::appendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++index;
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return std::nullopt;
            } else {
                detail::appendUtf8(text, unit);
            }
        }
        return PropertyListValue{std::move(text)};
    }
};

}  // namespace

std::optional<PropertyListValue> readBinaryPropertyList(ByteView data) {
    return BinaryReader(data).read();
}

}  // namespace quillbridge
