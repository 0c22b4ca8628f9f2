// The memory stream: writes at the position overwrite and extend, reads stop
// at the end, growth keeps the bytes, and a write that cannot get memory
// leaves the stream as it was.
#include <gtest/gtest.h>

#include <string>

#include "packed/byte_stream.h"
#include "tests/unit/packed_test_support.h"

using namespace packed_test;

namespace {

std::string text(MemoryStream* s) { return std::string(reinterpret_cast<const char*>(s->data()), s->size()); }

}  // namespace

TEST(MemoryStream, WritesAtThePositionOverwriteAndExtend) {
    MemoryStream* s = MemoryStream::create();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->size(), 0u);
    EXPECT_EQ(s->write("abcdef", 6), 6u);
    s->seekToStart();
    EXPECT_EQ(s->write("XY", 2), 2u);
    EXPECT_EQ(text(s), "XYcdef");
    EXPECT_EQ(s->position(), 2u);
    EXPECT_EQ(s->write("1234567", 7), 7u);
    EXPECT_EQ(text(s), "XY1234567");
    EXPECT_EQ(s->write("", 0), 0u);
    EXPECT_EQ(s->size(), 9u);

    s->seekToStart();
    char buffer[16] = {0};
    EXPECT_EQ(s->read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "XY12");
    EXPECT_EQ(s->read(buffer, 16), 5u);
    EXPECT_EQ(std::string(buffer, 5), "34567");
    EXPECT_EQ(s->read(buffer, 16), 0u);
    s->release();
}

TEST(MemoryStream, GrowsThroughManySmallWrites) {
    MemoryStream* s = MemoryStream::create();
    Bytes expected = randomBytes(300000, 17);
    size_t at = 0, step = 1;
    while (at < expected.size()) {
        size_t n = std::min(step, expected.size() - at);
        ASSERT_EQ(s->write(expected.data() + at, uint32_t(n)), n);
        at += n;
        step = step % 997 + 1;
    }
    EXPECT_EQ(Bytes(s->data(), s->data() + s->size()), expected);
    s->release();
}

TEST(MemoryStream, WriteWithoutMemoryLeavesTheStreamAsItWas) {
    MemoryStream* s = MemoryStream::create();
    ASSERT_EQ(s->write("hello", 5), 5u);
    const uint32_t big = 64u << 20;
    Bytes payload(big, 0x42);
    uint32_t written;
    bool limited;
    {
        AddressSpaceLimit limit(1u << 20);
        limited = limit.active();
        written = s->write(payload.data(), big);
    }
    ASSERT_TRUE(limited);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(text(s), "hello");
    EXPECT_EQ(s->position(), 5u);
    // With the memory back, the same write goes through.
    EXPECT_EQ(s->write(payload.data(), big), big);
    EXPECT_EQ(s->size(), 5u + big);
    s->release();
}
