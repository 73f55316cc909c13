#include "core/SecretBytes.hpp"

#include <algorithm>
#include <string>
#include <type_traits>
#include <utility>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

// Copies are explicit: a secret never turns into plain bytes or a second secret by accident.
static_assert(!std::is_copy_constructible_v<SecretBytes>);
static_assert(!std::is_copy_assignable_v<SecretBytes>);
static_assert(!std::is_convertible_v<SecretBytes, Bytes>);
static_assert(std::is_nothrow_move_constructible_v<SecretBytes>);

bool allZero(const std::uint8_t* data, std::size_t size) {
    return std::all_of(data, data + size, [](std::uint8_t byte) { return byte == 0; });
}

TEST(SecretBytesTests, MovingLeavesNothingBehindAndCopiesAreIndependent) {
    SecretBytes original{1, 2, 3, 4};
    const std::uint8_t* buffer = original.data();

    SecretBytes moved(std::move(original));
    EXPECT_TRUE(original.empty());  // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_EQ(moved.data(), buffer) << "a move hands the buffer over instead of copying it";

    SecretBytes assigned{9, 9};
    assigned = std::move(moved);
    EXPECT_TRUE(moved.empty());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(assigned, (Bytes{1, 2, 3, 4}));

    SecretBytes copy = assigned.copy();
    copy[0] = 0xFF;
    EXPECT_EQ(assigned, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(copy, (Bytes{0xFF, 2, 3, 4}));
    EXPECT_EQ(assigned.exposedCopy(), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(toHex(assigned), "01020304");  // reads through a view
}

TEST(SecretBytesTests, TakingOverPlainBuffersWipesThem) {
    Bytes plain{0x11, 0x22, 0x33, 0x44, 0x55};
    const std::uint8_t* plainBuffer = plain.data();
    std::size_t plainCapacity = plain.capacity();
    SecretBytes fromBytes = SecretBytes::consuming(std::move(plain));
    EXPECT_EQ(fromBytes, (Bytes{0x11, 0x22, 0x33, 0x44, 0x55}));
    EXPECT_TRUE(plain.empty());
    // The emptied vector still owns its buffer: what it held is gone.
    ASSERT_EQ(plain.data(), plainBuffer);
    EXPECT_TRUE(allZero(plainBuffer, plainCapacity));

    // Longer than any short-string buffer, so the characters live on the heap.
    std::string text(100, 'k');
    const char* textBuffer = text.data();
    SecretBytes fromText = SecretBytes::consuming(std::move(text));
    EXPECT_EQ(fromText.text(), std::string(100, 'k'));
    EXPECT_TRUE(text.empty());
    ASSERT_EQ(text.data(), textBuffer);
    EXPECT_TRUE(allZero(reinterpret_cast<const std::uint8_t*>(textBuffer), 100));

    fromText.clear();
    EXPECT_TRUE(fromText.empty());
}

TEST(SecretBytesTests, EqualityComparesContentAndLength) {
    struct Case {
        Bytes left;
        Bytes right;
        bool equal;
    };
    const Case cases[] = {
        {{}, {}, true},
        {{1, 2, 3}, {1, 2, 3}, true},
        {{1, 2, 3}, {1, 2, 4}, false},
        {{1, 2, 3}, {1, 2}, false},
        {{}, {0}, false},
    };
    for (const auto& c : cases) {
        SecretBytes left{ByteView(c.left)};
        SecretBytes right{ByteView(c.right)};
        EXPECT_EQ(left == right, c.equal) << toHex(c.left) << " vs " << toHex(c.right);
        EXPECT_EQ(left == ByteView(c.right), c.equal) << toHex(c.left) << " vs " << toHex(c.right);
    }
}

}  // namespace
}  // namespace quillbridge
