// The packed-resource container: a 24-byte header of little-endian 32-bit
// fields (tag, headerSize, packedSize, packedCrc, unpackedSize, unpackedCrc)
// followed by the body. Stored blobs carry the tag "QKOC"; the unpack writes
// "AP32" over it and then requires "AP32".
#pragma once
#include <stdint.h>
#include "packed/byte_stream.h"
#include "packed/decompress.h"

constexpr uint32_t packedBlobHeaderSize = 24;
constexpr uint32_t packedBlobTag = 0x32335041u;      // "AP32" read as a little-endian number
constexpr uint32_t storedPackedBlobTag = 0x434F4B51u; // "QKOC"

// The unpackedSize field, or unpackError when the tag is not "AP32" or
// headerSize is below 24. The caller guarantees 24 readable bytes.
uint32_t readUnpackedSize(const uint8_t* blob);

// Checks and unpacks a blob held in memory into output (room for capacity
// bytes). Returns unpackedSize, or unpackError at the first failed test.
uint32_t unpackInMemory(const uint8_t* blob, uint32_t blobLength, uint8_t* output, uint32_t capacity);

// Unpacks the blob that source holds from its first byte into destination.
// Stream use, in order: source seek to 0, write "AP32", seek to 0, size, read;
// then on success only destination write (one call, at its current position)
// and destination seek to 0. Returns 0 on success and -1 on any failure.
// On failure destination is untouched. What destination accepts of the
// write is not examined: the caller judges the destination itself (a file
// that could not be written is found out by what is at its path). A source
// that delivers fewer bytes than its size, or memory that cannot be had,
// fails. Neither stream is released; both buffers are freed on every path.
int32_t unpackBlob(ByteStream& source, ByteStream& destination);
