// A plain decoder of the blob body, written for clarity and nothing else:
// one bit, one byte and one output byte at a time, every bound checked where
// it arises. The fuzz target and the unit tests hold the fast decoder
// against it: the same result on every input, and the same bytes on success.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "packed/decompress.h"

namespace reference {

// Tokens seen by kind, for tests that check what an encoder emitted.
struct TokenCounts {
    uint64_t literals = 0;         // not counting the first byte
    uint64_t zeroBytes = 0;
    uint64_t nearBytes = 0;
    uint64_t shortMatches = 0;
    uint64_t repeats = 0;
    uint64_t longMatches = 0;
    uint64_t longMatchesAfterMatch = 0;
    uint64_t longMatchesBelow128 = 0;
    uint64_t longMatchesBelow1280 = 0;
    uint64_t longMatchesBelow32000 = 0;
    uint64_t longMatchesFrom32000 = 0;
    uint64_t longMatchesAbove65535 = 0;
};

class BodyReader {
public:
    BodyReader(const uint8_t* input, uint32_t length) : input_(input), length_(length) {}

    bool byte(uint32_t* value) {
        if (position_ == length_)
            return false;
        *value = input_[position_++];
        return true;
    }

    bool bit(uint32_t* value) {
        if (bitsLeft_ == 0) {
            if (!byte(&tag_))
                return false;
            bitsLeft_ = 8;
        }
        --bitsLeft_;
        *value = (tag_ >> bitsLeft_) & 1;
        return true;
    }

    bool gamma(uint32_t* value) {
        uint32_t v = 1, b, more;
        do {
            if (v >= 0x80000000u)
                return false;
            if (!bit(&b))
                return false;
            v = 2 * v + b;
            if (!bit(&more))
                return false;
        } while (more);
        *value = v;
        return true;
    }

private:
    const uint8_t* input_;
    uint32_t length_;
    uint32_t position_ = 0;
    uint32_t tag_ = 0;
    uint32_t bitsLeft_ = 0;
};

inline uint32_t decode(const uint8_t* input, uint32_t inputLength, uint8_t* output, uint32_t capacity,
                       TokenCounts* counts = nullptr) {
    TokenCounts ignored;
    TokenCounts& seen = counts ? *counts : ignored;
    if (input == nullptr || output == nullptr)
        return unpackError;
    BodyReader in(input, inputLength);
    uint32_t produced = 0;
    uint32_t lastOffset = 0;
    bool haveOffset = false;
    bool afterMatch = false;

    auto put = [&](uint32_t value) {
        if (produced == capacity)
            return false;
        output[produced++] = uint8_t(value);
        return true;
    };
    // Offset 0 names no produced byte and fails, like any offset past them.
    auto copy = [&](uint32_t d, uint32_t length) {
        if (d > produced || d == 0)
            return false;
        if (length > capacity - produced)
            return false;
        for (uint32_t i = 0; i < length; ++i, ++produced)
            output[produced] = output[produced - d];
        return true;
    };

    uint32_t b;
    if (!in.byte(&b) || !put(b))
        return unpackError;
    for (;;) {
        uint32_t bit;
        if (!in.bit(&bit))
            return unpackError;
        if (bit == 0) {
            if (!in.byte(&b) || !put(b))
                return unpackError;
            ++seen.literals;
            afterMatch = false;
            continue;
        }
        if (!in.bit(&bit))
            return unpackError;
        if (bit == 0) {
            uint32_t g, length;
            if (!in.gamma(&g))
                return unpackError;
            if (!afterMatch && g == 2) {
                if (!in.gamma(&length) || !haveOffset || !copy(lastOffset, length))
                    return unpackError;
                ++seen.repeats;
            } else {
                uint32_t high = afterMatch ? g - 2 : g - 3;
                if (high >= 0x1000000u || !in.byte(&b))
                    return unpackError;
                uint32_t d = high * 256 + b;
                lastOffset = d;
                haveOffset = true;
                if (!in.gamma(&length))
                    return unpackError;
                if (d >= 32000) length += 1;
                if (d >= 1280) length += 1;
                if (d < 128) length += 2;
                if (!copy(d, length))
                    return unpackError;
                ++seen.longMatches;
                seen.longMatchesAfterMatch += afterMatch;
                ++(d < 128 ? seen.longMatchesBelow128 : d < 1280 ? seen.longMatchesBelow1280
                   : d < 32000 ? seen.longMatchesBelow32000 : seen.longMatchesFrom32000);
                seen.longMatchesAbove65535 += d > 65535;
            }
            afterMatch = true;
            continue;
        }
        if (!in.bit(&bit))
            return unpackError;
        if (bit == 0) {
            if (!in.byte(&b))
                return unpackError;
            if ((b >> 1) == 0)
                return produced;
            lastOffset = b >> 1;
            haveOffset = true;
            if (!copy(b >> 1, 2 + (b & 1)))
                return unpackError;
            ++seen.shortMatches;
            afterMatch = true;
            continue;
        }
        uint32_t d = 0;
        for (int i = 0; i < 4; ++i) {
            if (!in.bit(&bit))
                return unpackError;
            d = 2 * d + bit;
        }
        if (d != 0 && d > produced)
            return unpackError;
        if (!put(d == 0 ? 0 : output[produced - d]))
            return unpackError;
        ++(d == 0 ? seen.zeroBytes : seen.nearBytes);
        afterMatch = false;
    }
}

}  // namespace reference
