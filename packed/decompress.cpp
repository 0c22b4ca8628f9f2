#include "packed/decompress.h"

#include <stddef.h>
#include <string.h>

namespace {

// The most input one token can take, and look at: a long match has a two-bit
// prefix, two gamma numbers of at most 62 bits each (31 doublings, each a
// value bit and a continuation bit) and its low byte, that is 16 tag bytes and
// one data byte; a bit window reads 8 bytes ahead. Tokens that start with at
// least this much input left need no input checks.
constexpr ptrdiff_t inputMargin = 32;

// Room past a match that lets its copy run in whole 16-byte steps; the steps
// may write up to 15 bytes beyond the match, bytes that later output replaces.
constexpr size_t copyMargin = 16;

// For an offset d below 8, the least multiple of d that is at least 8: once
// that many bytes of a match are written, the rest repeats from m bytes back.
constexpr uint8_t periodMultiple[8] = {0, 8, 8, 9, 8, 10, 12, 14};

// In:  1 <= d <= bytes produced before op; length <= bytes left before outEnd.
// Out: the same bytes as copying length bytes one at a time, forward, each
//      from d bytes back.
inline uint8_t* copyMatch(uint8_t* op, uint8_t* outEnd, uint32_t d, uint32_t length) {
    uint8_t* const end = op + length;
    if (size_t(outEnd - end) < copyMargin) {
        // Near the end of the buffer: exactly length bytes, never beyond.
        const uint8_t* src = op - d;
        while (op != end)
            *op++ = *src++;
        return end;
    }
    if (d >= 16) {
        // Each step reads 16 bytes that are all behind the bytes it writes.
        const uint8_t* src = op - d;
        do {
            memcpy(op, src, 16);
            op += 16;
            src += 16;
        } while (op < end);
    } else if (d == 1) {
        memset(op, op[-1], length);
    } else if (d >= 8) {
        const uint8_t* src = op - d;
        do {
            memcpy(op, src, 8);
            op += 8;
            src += 8;
        } while (op < end);
    } else {
        // Short period: lay down the first 8 bytes one at a time, then copy
        // from a whole number of periods back, at least 8 bytes away.
        const uint8_t* src = op - d;
        for (int i = 0; i < 8; ++i)
            op[i] = src[i];
        op += 8;
        src = op - periodMultiple[d];
        while (op < end) {
            memcpy(op, src, 8);
            op += 8;
            src += 8;
        }
    }
    return end;
}

// The next 64 bits of the bit-stream as one number, most significant first:
// the bits left of the tag byte (tagHigh holds them at its top, tagBits of
// them), then the bytes at in, which are the following tag bytes as long as
// no whole byte is taken in between. The caller has made sure that 8 bytes
// at in can be read.
inline uint64_t bitWindow(uint32_t tagHigh, uint32_t tagBits, const uint8_t* in) {
    uint64_t next;
    memcpy(&next, in, 8);
    next = __builtin_bswap64(next);  // in[0] on top (the bytes are read as little-endian)
    return uint64_t(tagHigh) << 56 | next >> tagBits;
}

// The top `bits` bits of a byte.
inline uint32_t topBits(uint32_t byte, uint32_t bits) {
    return byte & (0xFF00u >> bits);
}

// Gamma numbers of up to four pairs, looked up by the 8 bits they start
// with: (pairs << 5) | value, or 0 when the number runs on past these bits.
struct ShortGammaTable {
    uint8_t entry[256];
};

constexpr ShortGammaTable makeShortGammaTable() {
    ShortGammaTable t{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t value = 1;
        for (uint32_t pair = 1; pair <= 4; ++pair) {
            uint32_t bits = byte >> (8 - 2 * pair);
            value = (value << 1) | ((bits >> 1) & 1);
            if ((bits & 1) == 0) {
                t.entry[byte] = uint8_t(pair << 5 | value);
                break;
            }
        }
    }
    return t;
}

constexpr ShortGammaTable shortGamma = makeShortGammaTable();

// The value bits of a byte of a gamma number (its bits 7, 5, 3 and 1).
struct ValueBitsTable {
    uint8_t entry[256];
};

constexpr ValueBitsTable makeValueBitsTable() {
    ValueBitsTable t{};
    for (uint32_t byte = 0; byte < 256; ++byte)
        t.entry[byte] = uint8_t((byte >> 4 & 8) | (byte >> 3 & 4) | (byte >> 2 & 2) | (byte >> 1 & 1));
    return t;
}

constexpr ValueBitsTable valueBits = makeValueBitsTable();

// Bits 63, 61, ..., 1 of w gathered into 32 bits, bit 63 on top.
inline uint32_t oddBits(uint64_t w) {
    uint64_t x = (w >> 1) & 0x5555555555555555ull;
    x = (x | (x >> 1)) & 0x3333333333333333ull;
    x = (x | (x >> 2)) & 0x0F0F0F0F0F0F0F0Full;
    x = (x | (x >> 4)) & 0x00FF00FF00FF00FFull;
    x = (x | (x >> 8)) & 0x0000FFFF0000FFFFull;
    x = (x | (x >> 16)) & 0x00000000FFFFFFFFull;
    return uint32_t(x);
}

}  // namespace

// Takes the next tag bit into `bit`, loading a new tag byte when the current
// one is used up. The caller has made sure the byte can be read.
#define TAKE_BIT(bit)                       \
    do {                                    \
        if (tagBits == 0) {                 \
            tagHigh = *in++;                \
            tagBits = 8;                    \
        }                                   \
        --tagBits;                          \
        bit = tagHigh >> 7;                 \
        tagHigh = (tagHigh << 1) & 0xFFu;   \
    } while (0)

// Reads a gamma number into `value`; fails when it would not fit 32 bits.
#define TAKE_GAMMA(value)                 \
    do {                                  \
        uint32_t more_;                   \
        value = 1;                        \
        do {                              \
            uint32_t next_;               \
            if (value & 0x80000000u)      \
                goto fail;                \
            TAKE_BIT(next_);              \
            value = (value << 1) | next_; \
            TAKE_BIT(more_);              \
        } while (more_);                  \
    } while (0)

// Takes n bits of the window w: the tag bits left first, then whole tag
// bytes from the input; the last of those becomes the tag byte, and its
// bits left are the top of w shifted by n.
#define CONSUME_BITS(w, n)                                                  \
    do {                                                                    \
        in += uint32_t(int32_t(n) - int32_t(tagBits) + 7) >> 3; /* n >= 1 */ \
        tagBits = (tagBits - (n)) & 7;                                      \
        tagHigh = topBits(uint32_t((w) << (n) >> 56), tagBits);             \
    } while (0)

// A gamma number that starts `skip` bits into the window w, then taken
// together with those bits. Its pairs of bits are value bit, continuation
// bit; the first continuation bit of 0 ends it. Numbers of more than 24
// pairs go the bit-by-bit way.
#define WINDOW_GAMMA(value, w, skip)                                       \
    do {                                                                   \
        uint64_t at_ = (w) << (skip);                                      \
        uint32_t short_ = shortGamma.entry[at_ >> 56];                     \
        if (short_ != 0) {                                                 \
            value = short_ & 31;                                           \
            CONSUME_BITS(w, (skip) + 2 * (short_ >> 5));                   \
        } else {                                                           \
            LONG_GAMMA(value, w, skip, at_);                               \
        }                                                                  \
    } while (0)

// The same without the four-pair table, for numbers that are often longer
// (the high part of an offset): pairs up to 8 through two value-bit lookups.
#define LONG_GAMMA(value, w, skip, at)                                                 \
    do {                                                                               \
        uint64_t ends_ = ~(at) & 0x5555555555555555ull;                                \
        uint32_t pairs_ = uint32_t(__builtin_clzll(ends_ | 1) + 1) >> 1;                \
        if (pairs_ <= 8) {                                                             \
            uint32_t bits_ = uint32_t(valueBits.entry[(at) >> 56]) << 4 |              \
                             valueBits.entry[((at) >> 48) & 0xFF];                     \
            value = (1u << pairs_) | (bits_ >> (8 - pairs_));                          \
            CONSUME_BITS(w, (skip) + 2 * pairs_);                                      \
        } else if (pairs_ <= 24) {                                                     \
            value = (1u << pairs_) | (oddBits(at) >> (32 - pairs_));                   \
            CONSUME_BITS(w, (skip) + 2 * pairs_);                                      \
        } else {                                                                       \
            if (skip)                                                                  \
                CONSUME_BITS(w, skip);                                                 \
            TAKE_GAMMA(value);                                                         \
        }                                                                              \
    } while (0)

uint32_t decompress(const uint8_t* input, uint32_t inputLength, uint8_t* output, uint32_t capacity) {
    if (input == nullptr || output == nullptr || inputLength == 0 || capacity == 0)
        return unpackError;

    const uint8_t* in = input;
    const uint8_t* inEnd = input + inputLength;
    uint8_t* const outStart = output;
    uint8_t* const outEnd = output + capacity;
    uint8_t* op = output;

    uint32_t tagHigh = 0;  // the bits left of the tag byte, at the top of 8 bits
    uint32_t tagBits = 0;
    uint32_t lastOffset = 0;  // 0 until a match sets it; a repeat of 0 fails the offset test
    uint32_t afterMatch = 0;

    // The last inputMargin bytes of the input (all of it when shorter) are
    // copied into tail up front, padded with zeros. When the fast loop comes
    // near the end of the input, decoding moves over to that copy and runs
    // while the position is still within the real bytes, so a token that
    // took padding is caught right after it and fails.
    uint8_t tail[2 * inputMargin];
    const uint32_t tailLength = inputLength < inputMargin ? inputLength : uint32_t(inputMargin);
    memcpy(tail, inEnd - tailLength, tailLength);
    memset(tail + tailLength, 0, sizeof tail - tailLength);
    bool inTail = false;
    const uint8_t* limit = inEnd - tailLength;  // tokens start at or before it

    *op++ = *in++;

    for (;;) {
        // In:  in, tagHigh/tagBits, op, lastOffset, afterMatch: the decoder state.
        //      In the fast loop a token starts with at least inputMargin bytes
        //      ahead of it; in the tail, with none or more.
        // Out: returns at the end byte, fails at a bound, or leaves the loop
        //      when the position passes the limit.
        while (in <= limit) {
            uint64_t w = bitWindow(tagHigh, tagBits, in);
            switch (w >> 61) {
            case 0: case 1: case 2: case 3: {
                // 0: literal. The zero bits that follow in the same tag
                // byte are literals too, and their bytes come next in the
                // input: the whole run is copied at once.
                uint32_t fresh = tagBits == 0;  // the top of w is a new tag byte
                uint32_t bitsHere = fresh ? 8 : tagBits;
                uint32_t run = uint32_t(__builtin_clzll(w | 1));
                if (run > bitsHere)
                    run = bitsHere;
                if (size_t(outEnd - op) >= 8) {
                    in += fresh;
                    memcpy(op, in, 8);
                    op += run;
                    in += run;
                    tagBits = bitsHere - run;
                    tagHigh = topBits(uint32_t(w << run >> 56), tagBits);
                } else {
                    CONSUME_BITS(w, 1);
                    if (op == outEnd)
                        goto fail;
                    *op++ = *in++;
                }
                afterMatch = 0;
                break;
            }
            case 4: case 5: {
                // 1 0: long match, or a repeat of the last offset
                uint32_t d, length;
                if (!afterMatch && ((w >> 60) & 3) == 0) {
                    // g = 2 (its bits are 0 0) right after a literal or a
                    // one-byte token: a repeat, whose length follows at once.
                    WINDOW_GAMMA(length, w, 4);
                    d = lastOffset;
                } else {
                    uint32_t g;
                    const uint8_t* const before = in;
                    const uint32_t bitsBefore = tagBits;
                    {
                        uint64_t at = w << 2;
                        LONG_GAMMA(g, w, 2, at);
                    }
                    uint32_t high = g - (afterMatch ? 2 : 3);
                    if (high >= 0x1000000u)
                        goto fail;
                    d = (high << 8) | *in;
                    lastOffset = d;
                    // The window after the low byte, most often still inside
                    // w: the tag bits left, then the bits past the low byte.
                    uint32_t past = bitsBefore + 8 * uint32_t(in - before) + 8;
                    ++in;
                    uint64_t w2;
                    if (past <= 56)
                        w2 = uint64_t(tagHigh) << 56 | (w << past) >> tagBits;
                    else
                        w2 = bitWindow(tagHigh, tagBits, in);
                    uint32_t quick = shortGamma.entry[w2 >> 56];
                    if (quick != 0) {
                        length = quick & 31;
                        CONSUME_BITS(w2, 2 * (quick >> 5));
                    } else {
                        w = bitWindow(tagHigh, tagBits, in);
                        LONG_GAMMA(length, w, 0, w);
                    }
                    length += d >= 32000;
                    length += d >= 1280;
                    length += d < 128 ? 2 : 0;
                }
                // The offset first (0 names no produced byte), then the room.
                if (size_t(d) - 1 >= size_t(op - outStart))
                    goto fail;
                if (length > size_t(outEnd - op))
                    goto fail;
                if (d >= 16 && size_t(outEnd - op) - length >= copyMargin) {
                    // The common case: 16 bytes at a time, far enough back.
                    uint8_t* end = op + length;
                    const uint8_t* src = op - d;
                    memcpy(op, src, 16);
                    while (op + 16 < end) {
                        op += 16;
                        src += 16;
                        memcpy(op, src, 16);
                    }
                    op = end;
                } else {
                    op = copyMatch(op, outEnd, d, length);
                }
                afterMatch = 1;
                break;
            }
            case 6: {
                // 1 1 0: short match, or the end
                CONSUME_BITS(w, 3);
                uint32_t b = *in++;
                uint32_t d = b >> 1;
                if (d == 0) {
                    if (in > inEnd)  // the end byte was padding
                        goto fail;
                    return uint32_t(op - outStart);
                }
                uint32_t length = 2 + (b & 1);
                lastOffset = d;
                if (d > size_t(op - outStart))
                    goto fail;
                if (length > size_t(outEnd - op))
                    goto fail;
                if (size_t(outEnd - op) >= 3) {
                    // Three bytes one after another serve both lengths.
                    op[0] = op[0 - ptrdiff_t(d)];
                    op[1] = op[1 - ptrdiff_t(d)];
                    op[2] = op[2 - ptrdiff_t(d)];
                    op += length;
                } else {
                    op = copyMatch(op, outEnd, d, length);
                }
                afterMatch = 1;
                break;
            }
            default: {
                // 1 1 1: one-byte token, a zero byte or a byte from 1 to 15 back
                uint32_t d = uint32_t(w >> 57) & 15;
                CONSUME_BITS(w, 7);
                uint8_t value = 0;
                if (d != 0) {
                    if (d > size_t(op - outStart))
                        goto fail;
                    value = op[-ptrdiff_t(d)];
                }
                if (op == outEnd)
                    goto fail;
                *op++ = value;
                afterMatch = 0;
                break;
            }
            }
        }
        if (inTail)
            goto fail;  // the last token needed bytes beyond the input
        in = tail + (in - (inEnd - tailLength));
        inEnd = tail + tailLength;
        limit = inEnd;
        inTail = true;
    }

fail:
    return unpackError;
}
