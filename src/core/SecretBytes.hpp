#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/Bytes.hpp"

namespace quillbridge {

// Overwrites memory with zeros in a way the compiler cannot drop (sodium_memzero).
void wipeMemory(void* data, std::size_t size);
// Wipes the characters of a string (its whole capacity) and empties it.
void wipeString(std::string& text);
// Wipes the bytes of a buffer (its whole capacity) and empties it.
void wipeBytes(Bytes& bytes);

namespace detail {

// An allocator that wipes every buffer it hands back, so that no copy of a secret is left in freed memory
// when a buffer grows, shrinks or is destroyed.
template <class T>
struct WipingAllocator {
    using value_type = T;
    using propagate_on_container_move_assignment = std::true_type;
    using is_always_equal = std::true_type;

    WipingAllocator() = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) { return std::allocator<T>{}.allocate(count); }
    void deallocate(T* pointer, std::size_t count) noexcept {
        wipeMemory(pointer, count * sizeof(T));
        std::allocator<T>{}.deallocate(pointer, count);
    }

    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace detail

// Bytes that are secret: private keys, the stored identity's text, what the secret store returns. The memory
// is wiped when the value is destroyed, when it is moved from (the buffer moves; nothing stays behind) and
// whenever its buffer is reallocated. It cannot be copied by accident: copies are made with copy(), and the
// only way out as plain Bytes is exposedCopy(), for callers that hand the bytes to code outside our control.
class SecretBytes {
public:
    using Storage = std::vector<std::uint8_t, detail::WipingAllocator<std::uint8_t>>;
    using iterator = Storage::iterator;
    using const_iterator = Storage::const_iterator;

    SecretBytes() = default;
    // `count` zero bytes.
    explicit SecretBytes(std::size_t count) : bytes_(count) {}
    explicit SecretBytes(ByteView bytes) : bytes_(bytes.begin(), bytes.end()) {}
    SecretBytes(std::initializer_list<std::uint8_t> bytes) : bytes_(bytes) {}
    // Takes the bytes of a plain buffer and wipes the buffer.
    static SecretBytes consuming(Bytes&& bytes);
    // Takes the characters of a string and wipes the string.
    static SecretBytes consuming(std::string&& text);

    SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) { other.bytes_.clear(); }
    SecretBytes& operator=(SecretBytes&& other) noexcept {
        if (this != &other) {
            bytes_ = std::move(other.bytes_);
            other.bytes_.clear();
        }
        return *this;
    }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    ~SecretBytes() = default;  // the allocator wipes the buffer

    SecretBytes copy() const { return SecretBytes(view()); }
    // A plain copy, which nothing wipes: only for APIs that take Bytes.
    Bytes exposedCopy() const { return Bytes(bytes_.begin(), bytes_.end()); }

    ByteView view() const { return {bytes_.data(), bytes_.size()}; }
    // A view, never a copy: lets secrets go to functions that read a ByteView.
    operator ByteView() const { return view(); }
    std::span<std::uint8_t> mutableView() { return {bytes_.data(), bytes_.size()}; }
    std::string_view text() const { return asText(view()); }

    const std::uint8_t* data() const { return bytes_.data(); }
    std::uint8_t* data() { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    std::uint8_t& operator[](std::size_t index) { return bytes_[index]; }
    const std::uint8_t& operator[](std::size_t index) const { return bytes_[index]; }
    iterator begin() { return bytes_.begin(); }
    iterator end() { return bytes_.end(); }
    const_iterator begin() const { return bytes_.begin(); }
    const_iterator end() const { return bytes_.end(); }

    void push_back(std::uint8_t byte) { bytes_.push_back(byte); }
    void pop_back() { bytes_.pop_back(); }
    void append(ByteView bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }
    void resize(std::size_t count) { bytes_.resize(count); }
    void reserve(std::size_t count) { bytes_.reserve(count); }
    // Empties the value and wipes what it held.
    void clear();

    // Compares in time that depends only on the lengths.
    bool operator==(const SecretBytes& other) const;
    bool operator==(ByteView other) const;

private:
    Storage bytes_;
};

}  // namespace quillbridge
