#include "packed/crc32.h"

namespace {

constexpr uint32_t polynomial = 0xEDB88320u;

// Five independent registers ("lanes") walk the buffer in rounds of five
// 8-byte words, lane k taking word k of every round. Interleaving them
// hides the latency of the table loads, which a single register cannot:
// each of its steps waits for the previous one.
constexpr uint32_t laneCount = 5;
constexpr uint32_t roundBytes = laneCount * 8;

struct CrcTables {
    // bytewise[b]: the register change of byte b (the classic 256-entry table).
    uint32_t bytewise[256];
    // lane[i][b]: the register change of byte b at position i of a lane's
    // word followed by the (roundBytes - 1 - i) bytes that the other lanes
    // and the rest of the word hold; seen from one lane those are zeros.
    uint32_t lane[8][256];
};

constexpr CrcTables makeTables() {
    CrcTables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ ((c & 1) ? polynomial : 0);
        t.bytewise[i] = c;
    }
    // shifted[b] after s passes: byte b followed by s zero bytes.
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t c = t.bytewise[b];
        for (uint32_t zeros = 1; zeros < roundBytes; ++zeros) {
            c = t.bytewise[c & 0xFF] ^ (c >> 8);
            uint32_t position = roundBytes - 1 - zeros;  // byte index inside the word
            if (position < 8)
                t.lane[position][b] = c;
        }
    }
    return t;
}

// Built by the compiler: constant data, nothing is computed when the program runs.
constexpr CrcTables tables = makeTables();

inline uint32_t load32(const uint8_t* p) {
    // Little-endian assembly; compilers turn it into one load on x86.
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// One lane takes its 8-byte word: the register is XORed into the low four
// bytes, then each of the eight bytes is carried across the whole round.
inline uint32_t laneStep(uint32_t reg, const uint8_t* p) {
    uint32_t a = load32(p) ^ reg;
    uint32_t b = load32(p + 4);
    return tables.lane[0][a & 0xFF] ^ tables.lane[1][(a >> 8) & 0xFF] ^
           tables.lane[2][(a >> 16) & 0xFF] ^ tables.lane[3][a >> 24] ^
           tables.lane[4][b & 0xFF] ^ tables.lane[5][(b >> 8) & 0xFF] ^
           tables.lane[6][(b >> 16) & 0xFF] ^ tables.lane[7][b >> 24];
}

inline uint32_t byteStep(uint32_t reg, uint8_t byte) {
    return tables.bytewise[(reg ^ byte) & 0xFF] ^ (reg >> 8);
}

}  // namespace

uint32_t computeCrc32(const void* buffer, uint32_t length) {
    if (buffer == nullptr || length == 0)
        return 0;
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    uint32_t reg = 0xFFFFFFFFu;

    while (length != 0 && (reinterpret_cast<uintptr_t>(p) & 3) != 0) {
        reg = byteStep(reg, *p++);
        --length;
    }

    // In:  reg is the register before p; at least two rounds remain.
    // Out: the lanes stop one round early; that last round is taken bytewise
    //      below, each lane's register folded in where its word begins.
    if (length >= 2 * roundBytes) {
        uint32_t lane0 = reg, lane1 = 0, lane2 = 0, lane3 = 0, lane4 = 0;
        do {
            lane0 = laneStep(lane0, p);
            lane1 = laneStep(lane1, p + 8);
            lane2 = laneStep(lane2, p + 16);
            lane3 = laneStep(lane3, p + 24);
            lane4 = laneStep(lane4, p + 32);
            p += roundBytes;
            length -= roundBytes;
        } while (length >= 2 * roundBytes);

        const uint32_t lanes[laneCount] = {lane0, lane1, lane2, lane3, lane4};
        reg = 0;
        for (uint32_t k = 0; k < laneCount; ++k) {
            reg ^= lanes[k];
            for (int i = 0; i < 8; ++i)
                reg = byteStep(reg, *p++);
        }
        length -= roundBytes;
    }

    while (length != 0) {
        reg = byteStep(reg, *p++);
        --length;
    }
    return reg ^ 0xFFFFFFFFu;
}
