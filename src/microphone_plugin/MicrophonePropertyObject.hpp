#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillbridge {

// A signed number in a dictionary, with the width it is reported as.
struct MicrophoneNumber {
    enum class Width { signed32, signed64 };
    Width width = Width::signed64;
    std::int64_t value = 0;

    bool operator==(const MicrophoneNumber&) const = default;
};

// A reference-counted, immutable string, data or dictionary: the values of reference properties. A property
// that answers with a reference hands its receiver one reference, which the receiver releases; a reference
// given to the driver (a name to set, an audio packet, a qualifier) stays the caller's. Thread-safe counting.
class MicrophonePropertyObject {
public:
    enum class Kind { string, data, dictionary };
    using Entries = std::vector<std::pair<std::string, MicrophoneNumber>>;

    // Each is returned with one reference, which the caller owns.
    static MicrophonePropertyObject* createString(std::string_view text);
    static MicrophonePropertyObject* createData(std::span<const std::uint8_t> bytes);
    static MicrophonePropertyObject* createDictionary(Entries entries);

    MicrophonePropertyObject(const MicrophonePropertyObject&) = delete;
    MicrophonePropertyObject& operator=(const MicrophonePropertyObject&) = delete;

    void retain() const;
    // Destroys the object when the last reference goes.
    void release() const;

    Kind kind() const { return kind_; }
    // Empty for another kind.
    const std::string& text() const { return text_; }
    std::span<const std::uint8_t> bytes() const { return bytes_; }
    const Entries& entries() const { return entries_; }

    // A short human-readable form, for diagnostic output.
    std::string description() const;

private:
    explicit MicrophonePropertyObject(Kind kind) : kind_(kind) {}
    ~MicrophonePropertyObject() = default;

    mutable std::atomic<std::uint32_t> referenceCount_{1};
    Kind kind_;
    std::string text_;
    std::vector<std::uint8_t> bytes_;
    Entries entries_;
};

// Owns one reference to a property object (or none).
class MicrophonePropertyObjectRef {
public:
    MicrophonePropertyObjectRef() = default;
    // Takes over a reference the caller owns.
    static MicrophonePropertyObjectRef adopt(MicrophonePropertyObject* object) {
        return MicrophonePropertyObjectRef(object);
    }
    // Adds a reference of its own.
    static MicrophonePropertyObjectRef retain(MicrophonePropertyObject* object) {
        if (object != nullptr) {
            object->retain();
        }
        return MicrophonePropertyObjectRef(object);
    }
    MicrophonePropertyObjectRef(const MicrophonePropertyObjectRef& other) : object_(other.object_) {
        if (object_ != nullptr) {
            object_->retain();
        }
    }
    MicrophonePropertyObjectRef(MicrophonePropertyObjectRef&& other) noexcept
        : object_(std::exchange(other.object_, nullptr)) {}
    MicrophonePropertyObjectRef& operator=(MicrophonePropertyObjectRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~MicrophonePropertyObjectRef() {
        if (object_ != nullptr) {
            object_->release();
        }
    }

    MicrophonePropertyObject* get() const { return object_; }
    const MicrophonePropertyObject* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Gives up the reference to the caller.
    MicrophonePropertyObject* leak() { return std::exchange(object_, nullptr); }

private:
    explicit MicrophonePropertyObjectRef(MicrophonePropertyObject* object) : object_(object) {}
    MicrophonePropertyObject* object_ = nullptr;
};

}  // namespace quillbridge
