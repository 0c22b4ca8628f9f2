#include "packed/packed_blob.h"

#include <stdlib.h>

#include "packed/crc32.h"

namespace {

// Header fields, as offsets into the blob.
constexpr uint32_t tagField = 0;
constexpr uint32_t headerSizeField = 4;
constexpr uint32_t packedSizeField = 8;
constexpr uint32_t packedCrcField = 12;
constexpr uint32_t unpackedSizeField = 16;
constexpr uint32_t unpackedCrcField = 20;

uint32_t field(const uint8_t* blob, uint32_t offset) {
    const uint8_t* p = blob + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Frees both buffers of unpackBlob and gives its result.
int32_t finishUnpack(uint8_t* copy, uint8_t* unpacked, int32_t result) {
    free(unpacked);
    free(copy);
    return result;
}

}  // namespace

uint32_t readUnpackedSize(const uint8_t* blob) {
    if (field(blob, tagField) != packedBlobTag)
        return unpackError;
    if (field(blob, headerSizeField) < packedBlobHeaderSize)
        return unpackError;
    return field(blob, unpackedSizeField);
}

uint32_t unpackInMemory(const uint8_t* blob, uint32_t blobLength, uint8_t* output, uint32_t capacity) {
    if (blob == nullptr || output == nullptr)
        return unpackError;
    if (blobLength < packedBlobHeaderSize)
        return unpackError;
    if (field(blob, tagField) != packedBlobTag)
        return unpackError;
    uint32_t headerSize = field(blob, headerSizeField);
    if (headerSize < packedBlobHeaderSize)
        return unpackError;
    if (blobLength < headerSize)
        return unpackError;
    uint32_t packedSize = field(blob, packedSizeField);
    if (packedSize > blobLength - headerSize)
        return unpackError;
    const uint8_t* body = blob + headerSize;
    if (computeCrc32(body, packedSize) != field(blob, packedCrcField))
        return unpackError;
    uint32_t unpackedSize = field(blob, unpackedSizeField);
    if (unpackedSize > capacity)
        return unpackError;
    uint32_t produced = decompress(body, packedSize, output, capacity);
    if (produced == unpackError || produced != unpackedSize)
        return unpackError;
    if (computeCrc32(output, produced) != field(blob, unpackedCrcField))
        return unpackError;
    return produced;
}

int32_t unpackBlob(ByteStream& source, ByteStream& destination) {
    static const uint8_t unpackTag[4] = {'A', 'P', '3', '2'};
    source.seekToStart();
    source.write(unpackTag, sizeof unpackTag);
    source.seekToStart();

    uint32_t sourceSize = source.size();
    // malloc(0) may give a block or null; either way such a source fails below.
    uint8_t* copy = static_cast<uint8_t*>(malloc(sourceSize != 0 ? sourceSize : 1));
    if (copy == nullptr)
        return -1;
    // Only bytes the source really delivered are used: a short read fails.
    if (source.read(copy, sourceSize) != sourceSize)
        return finishUnpack(copy, nullptr, -1);
    if (sourceSize < packedBlobHeaderSize)
        return finishUnpack(copy, nullptr, -1);

    uint32_t unpackedSize = readUnpackedSize(copy);
    if (unpackedSize == unpackError || unpackedSize == 0)
        return finishUnpack(copy, nullptr, -1);
    uint8_t* unpacked = static_cast<uint8_t*>(malloc(unpackedSize));
    if (unpacked == nullptr)
        return finishUnpack(copy, nullptr, -1);

    uint32_t produced = unpackInMemory(copy, sourceSize, unpacked, unpackedSize);
    if (produced == unpackError)
        return finishUnpack(copy, unpacked, -1);

    // What the destination accepts is not examined: when the runtime file
    // cannot be written (a folder of that name, an older copy still in use),
    // provisioning decides by what is at that path afterwards.
    destination.write(unpacked, produced);
    destination.seekToStart();
    return finishUnpack(copy, unpacked, 0);
}
