// The body decoder: hand-made streams with known output, every bound that
// must fail, the length bands of long matches, overlapping copies, and the
// fast decoder held against the plain reference decoder on damaged bodies.
#include <gtest/gtest.h>

#include "packed/decompress.h"
#include "tests/fuzz/reference_decoder.h"
#include "tests/unit/packed_test_support.h"
#include "tools/blobtool/encoder.h"

using namespace packed_test;

namespace {

struct GoodStream {
    const char* name;
    Bytes input;
    Bytes output;
};

std::vector<GoodStream> goodStreams() {
    return {
        {"first byte, end byte 00", hex("61 C0 00"), hex("61")},
        {"end byte 01", hex("61 C0 01"), hex("61")},
        {"short match from one produced byte", hex("61 D8 03 00"), hex("61 61 61 61")},
        {"literal, zero byte, byte 2 back, short match", hex("61 70 62 E5 B0 07 00"),
         hex("61 62 00 62 62 00 62")},
        {"long match after the first byte", hex("78 A3 01 00 00"), hex("78 78 78 78 78")},
        {"repeat after a literal", hex("61 64 62 04 63 58 00"), hex("61 62 61 62 63 62 63 62")},
        {"one-byte token 1 back", hex("61 E3 80 00"), hex("61 61")},
        {"short match of 2 from 1 back", hex("61 D8 02 00"), hex("61 61 61")},
    };
}

}  // namespace

TEST(Decompress, KnownStreamsAtExactAmpleAndShortCapacity) {
    for (const GoodStream& s : goodStreams()) {
        SCOPED_TRACE(s.name);
        uint32_t n = uint32_t(s.output.size());

        Decoded exact = decodeGuarded(s.input, n);
        EXPECT_EQ(exact.result, n);
        EXPECT_EQ(exact.output, s.output);
        EXPECT_TRUE(exact.canaryIntact);

        Decoded ample = decodeGuarded(s.input, n + 100);
        EXPECT_EQ(ample.result, n);
        EXPECT_EQ(ample.output, s.output);

        Decoded shortBy1 = decodeGuarded(s.input, n - 1);
        EXPECT_EQ(shortBy1.result, unpackError);
        EXPECT_TRUE(shortBy1.canaryIntact);

        Bytes out(n);
        EXPECT_EQ(reference::decode(s.input.data(), uint32_t(s.input.size()), out.data(), n), n);
        EXPECT_EQ(out, s.output);
    }
}

TEST(Decompress, HostileStreamsFailWithoutTouchingTheCanary) {
    struct Bad {
        const char* name;
        Bytes input;
        uint32_t capacity;
    };
    const Bad cases[] = {
        {"repeat before any match", hex("61 83 00 00"), 64},
        {"empty input", Bytes(), 64},
        {"capacity 0", hex("61 C0 00"), 0},
        {"input ends where a tag byte is needed", hex("61"), 64},
        {"literal without its byte", hex("61 00"), 64},
        {"input ends after a literal", hex("61 00 62"), 64},
        {"end prefix without end byte", hex("61 C0"), 64},
        {"one-byte token 2 back after one byte", hex("61 E5 80 00"), 64},
        {"short match 2 back after one byte", hex("61 D8 04 00"), 64},
        {"long match 2 back after one byte", hex("78 A3 02 00 00"), 64},
        {"long match of offset 0", BodyWriter(0x61).longMatch(3, 0x00, 2).end().bytes(), 64},
        {"repeat of offset 0",
         BodyWriter(0x61).longMatch(3, 0x00, 2).literal(0x62).repeat(2).end().bytes(), 64},
        {"long match 1 back after a match, gamma 2 means high part 0",
         BodyWriter(0x61).shortMatch(1, 2).longMatch(2, 0x04, 2).end().bytes(), 64},
        {"gamma length with 32 bits after the leading 1",
         BodyWriter(0x61).bit(1).bit(0).gamma(3).byte(1).gammaBits(0, 32).end().bytes(), 64},
        {"gamma high part with 32 bits after the leading 1",
         BodyWriter(0x61).bit(1).bit(0).gammaBits(5, 32).byte(1).gamma(2).end().bytes(), 64},
        {"high part 2^24", BodyWriter(0x61).longMatch(0x1000000 + 3, 1, 2).end().bytes(), 64},
        {"high part 2^24 - 1, offset past the output",
         BodyWriter(0x61).longMatch(0xFFFFFF + 3, 1, 2).end().bytes(), 64},
        {"literal without room", BodyWriter(0x61).literal(0x62).end().bytes(), 1},
        {"one-byte token without room", BodyWriter(0x61).oneByte(1).end().bytes(), 1},
        {"match one longer than the room", BodyWriter(0x61).shortMatch(1, 3).end().bytes(), 3},
        {"long match past the end of a large room",
         BodyWriter(0x61).longMatch(3, 1, 1000).end().bytes(), 1000},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = decodeGuarded(c.input, c.capacity);
        EXPECT_EQ(d.result, unpackError);
        EXPECT_TRUE(d.canaryIntact);
        Bytes out(c.capacity + 1);
        EXPECT_EQ(reference::decode(c.input.data(), uint32_t(c.input.size()), out.data(), c.capacity),
                  unpackError);
    }
    EXPECT_EQ(decompress(nullptr, 3, hex("00").data(), 1), unpackError);
    uint8_t out[4];
    EXPECT_EQ(decompress(hex("61 C0 00").data(), 3, nullptr, 4), unpackError);
    // Sanity of the hand-made forms above: the same shapes with valid numbers decode.
    EXPECT_EQ(decodeGuarded(BodyWriter(0x61).longMatch(3, 0x01, 2).end().bytes(), 5).result, 5u);
    EXPECT_EQ(decodeGuarded(BodyWriter(0x61).shortMatch(1, 2).longMatch(2, 0x01, 2).end().bytes(), 7).result, 7u);
    Bytes oneByte = BodyWriter(0x61).oneByte(1).end().bytes();
    EXPECT_EQ(decompress(oneByte.data(), uint32_t(oneByte.size()), out, 2), 2u);
}

TEST(Decompress, LongMatchLengthDependsOnTheOffsetBand) {
    struct Band {
        uint32_t offset;
        bool afterMatch;
        uint32_t length;  // with gamma length 2
    };
    const Band bands[] = {
        {127, false, 4},   {128, false, 2},   {1279, false, 2}, {1280, false, 3},
        {31999, false, 3}, {32000, false, 4}, {70000, false, 4},
        {127, true, 4},    {128, true, 2},    {1280, true, 3},  {32000, true, 4},
    };
    Bytes data = randomBytes(70010, 7);
    for (const Band& b : bands) {
        SCOPED_TRACE("offset " + std::to_string(b.offset) + (b.afterMatch ? " after a match" : ""));
        uint32_t prefix = b.offset + 5;
        BodyWriter w(data[0]);
        for (uint32_t i = 1; i < prefix; ++i)
            w.literal(data[i]);
        Bytes expected(data.begin(), data.begin() + prefix);
        if (b.afterMatch) {
            w.shortMatch(1, 2);
            expected.push_back(expected.back());
            expected.push_back(expected.back());
        }
        uint32_t high = b.offset >> 8;
        w.longMatch(high + (b.afterMatch ? 2 : 3), uint8_t(b.offset & 0xFF), 2).end();
        for (uint32_t i = 0; i < b.length; ++i)
            expected.push_back(expected[expected.size() - b.offset]);
        Decoded d = decodeGuarded(w.bytes(), uint32_t(expected.size()));
        EXPECT_EQ(d.result, expected.size());
        EXPECT_EQ(d.output, expected);
    }
}

// Every offset and length of overlapping copies gives what a forward byte
// copy gives, at the end of the buffer and with room to spare.
TEST(Decompress, MatchCopiesEqualForwardByteCopies) {
    Bytes start = randomBytes(40, 3);
    for (uint32_t d = 1; d <= 40; ++d) {
        for (uint32_t length = 2; length <= 80; ++length) {
            if (length <= 3 && d > 127)
                continue;
            BodyWriter w(start[0]);
            for (size_t i = 1; i < start.size(); ++i)
                w.literal(start[i]);
            if (length <= 3)
                w.shortMatch(d, length);
            else
                w.longMatch(3, uint8_t(d), length - 2);  // offsets below 128 add 2
            w.literal(0xEE).end();
            Bytes expected = start;
            for (uint32_t i = 0; i < length; ++i)
                expected.push_back(expected[expected.size() - d]);
            expected.push_back(0xEE);
            for (uint32_t extra : {0u, 64u}) {
                SCOPED_TRACE("offset " + std::to_string(d) + " length " + std::to_string(length) +
                             " spare room " + std::to_string(extra));
                Decoded got = decodeGuarded(w.bytes(), uint32_t(expected.size()) + extra);
                ASSERT_EQ(got.result, expected.size());
                ASSERT_EQ(got.output, expected);
                ASSERT_TRUE(got.canaryIntact);
            }
        }
    }
}

// Damaged bodies (bytes changed, cut short, capacity off) give the fast and
// the reference decoder the same result, and the same bytes on success.
TEST(Decompress, AgreesWithReferenceDecoderOnDamagedBodies) {
    Bytes text;
    for (int i = 0; i < 400; ++i)
        text.insert(text.end(), {'r', 'e', 'c', uint8_t('0' + i % 10), ' ', 0, 0, uint8_t(i), '\n'});
    Bytes noise = randomBytes(3000, 11);
    text.insert(text.end(), noise.begin(), noise.end());
    Bytes body = packBody(text.data(), text.size());
    ASSERT_FALSE(body.empty());

    Bytes mutated;
    uint32_t x = 12345;
    auto next = [&] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    int successes = 0;
    for (int round = 0; round < 3000; ++round) {
        mutated = body;
        int changes = 1 + int(next() % 4);
        for (int i = 0; i < changes; ++i)
            mutated[next() % mutated.size()] ^= uint8_t(1u << (next() % 8));
        if (round % 5 == 0)
            mutated.resize(next() % mutated.size());
        uint32_t capacity = uint32_t(text.size()) - 8 + next() % 16;
        Bytes fast(capacity + 1, 0), slow(capacity + 1, 0);
        fast[capacity] = canary;
        uint32_t a = decompress(mutated.data(), uint32_t(mutated.size()), fast.data(), capacity);
        uint32_t b = reference::decode(mutated.data(), uint32_t(mutated.size()), slow.data(), capacity);
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(a, b);
        ASSERT_EQ(fast[capacity], canary);
        if (a != unpackError) {
            ++successes;
            ASSERT_TRUE(std::equal(fast.begin(), fast.begin() + a, slow.begin()));
        }
    }
    // Some damaged bodies still decode (a changed literal, say); both ways must count.
    EXPECT_GT(successes, 0);
}
