// CRC-32 of the blob header checks: the standard check value, the empty
// cases, and the word-at-a-time path against a plain bit-by-bit CRC at every
// start alignment and many lengths.
#include <gtest/gtest.h>

#include "packed/crc32.h"
#include "tests/unit/packed_test_support.h"

namespace {

uint32_t bitwiseCrc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ ((c & 1) ? 0xEDB88320u : 0);
    }
    return c ^ 0xFFFFFFFFu;
}

}  // namespace

TEST(Crc32, CheckValueAndEmptyInput) {
    EXPECT_EQ(computeCrc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(computeCrc32(nullptr, 0), 0u);
    EXPECT_EQ(computeCrc32(nullptr, 16), 0u);
    EXPECT_EQ(computeCrc32("abc", 0), 0u);
    // One byte: the table entry itself, inverted in and out.
    EXPECT_EQ(computeCrc32("a", 1), 0xE8B7BE43u);
}

TEST(Crc32, EqualsBitwiseAtEveryAlignmentAndLength) {
    packed_test::Bytes data = packed_test::randomBytes(4096 + 8, 99);
    for (size_t start = 0; start < 8; ++start) {
        for (size_t length = 0; length <= 300; ++length) {
            SCOPED_TRACE("start " + std::to_string(start) + " length " + std::to_string(length));
            uint32_t expected = length ? bitwiseCrc32(data.data() + start, length) : 0;
            ASSERT_EQ(computeCrc32(data.data() + start, uint32_t(length)), expected);
        }
        for (size_t length : {1000u, 4095u, 4096u}) {
            SCOPED_TRACE("start " + std::to_string(start) + " length " + std::to_string(length));
            ASSERT_EQ(computeCrc32(data.data() + start, uint32_t(length)), bitwiseCrc32(data.data() + start, length));
        }
    }
}
