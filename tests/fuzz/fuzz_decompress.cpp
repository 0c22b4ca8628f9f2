// Fuzz target: the input is a capacity (its first two bytes, little-endian)
// followed by a body for decompress. The output buffer has exactly that
// capacity, so the sanitizer catches any write past it, and the input buffer
// is the fuzzer's own, so it catches any read past the body. The fast decoder
// must give the result of the plain reference decoder, and on success the
// same bytes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "packed/decompress.h"
#include "tests/fuzz/reference_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    uint32_t capacity = uint32_t(data[0]) | uint32_t(data[1]) << 8;
    const uint8_t* body = data + 2;
    uint32_t length = uint32_t(size - 2);

    uint8_t* fast = static_cast<uint8_t*>(malloc(capacity ? capacity : 1));
    uint8_t* slow = static_cast<uint8_t*>(malloc(capacity ? capacity : 1));
    if (fast == nullptr || slow == nullptr)
        abort();
    uint32_t a = decompress(body, length, fast, capacity);
    uint32_t b = reference::decode(body, length, slow, capacity);
    if (a != b)
        abort();
    if (a != unpackError && (a > capacity || memcmp(fast, slow, a) != 0))
        abort();
    free(fast);
    free(slow);
    return 0;
}
