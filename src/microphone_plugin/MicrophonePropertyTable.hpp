#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

#include "microphone_plugin/MicrophoneDriverTypes.hpp"
#include "microphone_plugin/MicrophonePropertyObject.hpp"

namespace quillbridge {

// How a property's value is written into the caller's buffer.
enum class MicrophoneAnswerForm {
    // One value of a fixed size: a smaller buffer gets '!siz'.
    fixed,
    // A list of items, cut to as many whole items as the buffer holds (none in a buffer under one item).
    list,
    // One reference to a new or retained object (8 bytes); the caller releases it.
    reference,
};

// Where a reference answer comes from.
enum class MicrophoneReferenceSource { text, boxName, emptyData, diagnostics };

// The value of one property, before it is written out. Fixed and list answers carry their bytes (at most
// 64, the largest structure the objects have); reference answers say what to create.
struct MicrophonePropertyAnswer {
    MicrophoneAnswerForm form = MicrophoneAnswerForm::fixed;
    std::uint32_t itemByteCount = 0;
    std::uint32_t itemCount = 1;
    std::array<std::uint8_t, 64> bytes{};
    MicrophoneReferenceSource referenceSource = MicrophoneReferenceSource::text;
    std::string_view text;

    // The size of the whole value.
    std::uint32_t byteCount() const;

    static MicrophonePropertyAnswer unsigned32(std::uint32_t value) { return structure(value); }
    static MicrophonePropertyAnswer float64(double value) { return structure(value); }
    static MicrophonePropertyAnswer objectList(std::initializer_list<MicrophoneObjectID> objects);
    static MicrophonePropertyAnswer reference(MicrophoneReferenceSource source, std::string_view text = {});

    template <typename Structure>
    static MicrophonePropertyAnswer structure(const Structure& value) {
        return items(MicrophoneAnswerForm::fixed, std::span(&value, 1));
    }
    template <typename Structure, std::size_t Extent>
    static MicrophonePropertyAnswer structureList(std::span<const Structure, Extent> values) {
        return items(MicrophoneAnswerForm::list, std::span<const Structure>(values));
    }

private:
    template <typename Structure>
    static MicrophonePropertyAnswer items(MicrophoneAnswerForm form, std::span<const Structure> values) {
        static_assert(std::is_trivially_copyable_v<Structure>);
        MicrophonePropertyAnswer answer;
        answer.form = form;
        answer.itemByteCount = sizeof(Structure);
        answer.itemCount = static_cast<std::uint32_t>(values.size());
        static_assert(sizeof(Structure) <= sizeof(answer.bytes));
        if (!values.empty()) {
            std::memcpy(answer.bytes.data(), values.data(), values.size_bytes());
        }
        return answer;
    }
};

// A property the object has in that scope and element.
struct MicrophonePropertyEntry {
    MicrophonePropertyAnswer answer;
    bool settable = false;
    // Getting it needs an 8-byte qualifier.
    bool needsQualifier = false;
};

// The state the property answers depend on, read under the driver's state lock.
struct MicrophonePropertySnapshot {
    bool boxAcquired = false;
    bool running = false;
    bool streamActive = true;
    std::uint32_t targetFrames = 0;
};

// A string the qualifier refers to, if it is an 8-byte reference to a string object.
std::optional<std::string_view> microphoneQualifierText(std::uint32_t qualifierDataSize,
                                                        const void* qualifierData);

// The property tables of the four objects: the entry of a property the object has, nothing otherwise.
std::optional<MicrophonePropertyEntry> microphonePlugInProperty(
    const MicrophonePropertyAddress& address, const MicrophonePropertySnapshot& snapshot,
    std::optional<std::string_view> qualifierText);
std::optional<MicrophonePropertyEntry> microphoneBoxProperty(const MicrophonePropertyAddress& address,
                                                             const MicrophonePropertySnapshot& snapshot);
std::optional<MicrophonePropertyEntry> microphoneDeviceProperty(const MicrophonePropertyAddress& address,
                                                                const MicrophonePropertySnapshot& snapshot);
std::optional<MicrophonePropertyEntry> microphoneStreamProperty(const MicrophonePropertyAddress& address,
                                                                const MicrophonePropertySnapshot& snapshot);

// Any object's table; nothing for an object that does not exist as well.
std::optional<MicrophonePropertyEntry> microphoneProperty(MicrophoneObjectID objectID,
                                                          const MicrophonePropertyAddress& address,
                                                          const MicrophonePropertySnapshot& snapshot,
                                                          std::optional<std::string_view> qualifierText);

bool microphoneObjectExists(MicrophoneObjectID objectID);

}  // namespace quillbridge
