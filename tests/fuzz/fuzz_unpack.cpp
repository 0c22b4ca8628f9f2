// Fuzz target: the input is a blob held by a memory stream and unpacked with
// unpackBlob. Random bytes seldom carry a right packedCrc, so each input is
// also unpacked a second time with packedCrc made to fit its body; that way
// the decoder sees every body the fuzzer makes. The result must agree with
// the plain reference decoder: success exactly when it decodes the body to
// unpackedSize bytes with the right unpackedCrc, and then the same bytes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "packed/byte_stream.h"
#include "packed/crc32.h"
#include "packed/packed_blob.h"
#include "tests/fuzz/reference_decoder.h"

namespace {

// The output buffer is allocated at unpackedSize; beyond this the fuzzer's
// own memory limit would count it as a failure, so such inputs are skipped.
constexpr uint32_t maxUnpackedSize = 1u << 20;

uint32_t field(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void check(bool condition) {
    if (!condition)
        abort();
}

// What unpackBlob must give for these bytes (with "AP32" in the tag).
bool expectedUnpack(const std::vector<uint8_t>& blob, std::vector<uint8_t>* out) {
    if (blob.size() < 24)
        return false;
    const uint8_t* b = blob.data();
    uint32_t headerSize = field(b + 4), packedSize = field(b + 8), unpackedSize = field(b + 16);
    if (headerSize < 24 || blob.size() < headerSize || packedSize > blob.size() - headerSize)
        return false;
    if (computeCrc32(b + headerSize, packedSize) != field(b + 12))
        return false;
    if (unpackedSize == 0 || unpackedSize == 0xFFFFFFFFu)
        return false;
    out->assign(unpackedSize, 0);
    uint32_t r = reference::decode(b + headerSize, packedSize, out->data(), unpackedSize);
    return r == unpackedSize && computeCrc32(out->data(), r) == field(b + 20);
}

void unpackAndCompare(const std::vector<uint8_t>& blob) {
    MemoryStream* source = MemoryStream::create();
    MemoryStream* destination = MemoryStream::create();
    check(source != nullptr && destination != nullptr);
    if (!blob.empty())
        check(source->write(blob.data(), uint32_t(blob.size())) == blob.size());
    int32_t result = unpackBlob(*source, *destination);

    std::vector<uint8_t> tagged(source->data(), source->data() + source->size());
    check(tagged.size() >= 4 && memcmp(tagged.data(), "AP32", 4) == 0);
    std::vector<uint8_t> expected;
    bool good = expectedUnpack(tagged, &expected);
    check(result == (good ? 0 : -1));
    if (good)
        check(destination->size() == expected.size() && memcmp(destination->data(), expected.data(), expected.size()) == 0);
    else
        check(destination->size() == 0);
    source->release();
    destination->release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= 20 && field(data + 16) > maxUnpackedSize && field(data + 16) != 0xFFFFFFFFu)
        return 0;
    std::vector<uint8_t> blob(data, data + size);
    unpackAndCompare(blob);

    if (size >= 24) {
        uint32_t headerSize = field(data + 4), packedSize = field(data + 8);
        if (headerSize >= 24 && headerSize <= size && packedSize <= size - headerSize) {
            uint32_t crc = computeCrc32(data + headerSize, packedSize);
            for (int i = 0; i < 4; ++i)
                blob[12 + i] = uint8_t(crc >> (8 * i));
            unpackAndCompare(blob);
        }
    }
    return 0;
}
