// The packer of blobtool: turns bytes into the body of a packed blob (the
// bit-stream that decompress reads back) and wraps a body in the 24-byte
// blob header. Host-side code: it uses the standard library freely.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

// What the packer emitted, by kind of token; tests use it to see that every
// kind of the format is really chosen where it pays.
struct EncoderStats {
    uint64_t literals = 0;         // prefix 0 and a byte (the first byte not counted)
    uint64_t zeroBytes = 0;        // one-byte token with offset 0
    uint64_t nearBytes = 0;        // one-byte token with offset 1 to 15
    uint64_t shortMatches = 0;     // 2 or 3 bytes from 1 to 127 back
    uint64_t repeats = 0;          // the last offset again, right after a literal or one-byte token
    uint64_t longMatches = 0;      // all long matches, counted again below by kind
    uint64_t longMatchesAfterMatch = 0;  // whose gamma carries high part + 2
    uint64_t longMatchesBelow128 = 0;    // length adjusted by 2
    uint64_t longMatchesBelow1280 = 0;   // 128 to 1279: no adjustment
    uint64_t longMatchesBelow32000 = 0;  // 1280 to 31999: adjusted by 1
    uint64_t longMatchesFrom32000 = 0;   // 32000 and above: adjusted by 2
    uint64_t longMatchesAbove65535 = 0;  // of those, offsets past 16 bits
    uint64_t matchedBytes = 0;           // bytes covered by matches and repeats
};

struct EncoderOptions {
    // Farthest offset searched. Long matches reach past 65535 with the default.
    uint32_t window = 1u << 20;
    // Candidates tried per position on the hash chain; the main cost knob.
    uint32_t chainDepth = 24;
    // A match this long ends the search at once and is taken as it is.
    uint32_t goodLength = 128;
};

// The body for size bytes at data (size at least 1, below 4 GiB).
std::vector<uint8_t> packBody(const uint8_t* data, size_t size, EncoderStats* stats = nullptr,
                              const EncoderOptions& options = EncoderOptions());

// A whole blob as it is stored: tag "QKOC", headerSize 24, the sizes and
// CRCs, then the body. Returns an empty vector when size is 0 or the blob
// would not fit the 32-bit fields (the unpacked size must also differ from
// 0xFFFFFFFF, the failure value).
std::vector<uint8_t> packBlob(const uint8_t* data, size_t size, EncoderStats* stats = nullptr,
                              const EncoderOptions& options = EncoderOptions());
