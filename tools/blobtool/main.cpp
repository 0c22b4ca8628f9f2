// blobtool: packs files into the blobs the loader carries as resources, and
// unpacks or describes such blobs.
//
//   blobtool pack IN OUT     IN packed into a stored blob (tag "QKOC")
//   blobtool unpack IN OUT   the blob IN unpacked the way the loader does it
//   blobtool info IN         the header fields of the blob IN and their checks
//
// Exit code 0 on success, 1 on failure with one line on stderr; OUT is
// written under a temporary name and renamed only once it is complete.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "packed/byte_stream.h"
#include "packed/crc32.h"
#include "packed/decompress.h"
#include "packed/packed_blob.h"
#include "tools/blobtool/encoder.h"

namespace {

int fail(const std::string& message) {
    fprintf(stderr, "blobtool: %s\n", message.c_str());
    return 1;
}

bool readFile(const char* path, std::vector<uint8_t>* bytes, std::string* error) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) {
        *error = std::string("cannot open ") + path + ": " + strerror(errno);
        return false;
    }
    bytes->clear();
    uint8_t chunk[1 << 16];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (bytes->size() + n >= unpackError) {
            fclose(f);
            *error = std::string(path) + " is 4 GiB or larger; blobs hold less";
            return false;
        }
        bytes->insert(bytes->end(), chunk, chunk + n);
    }
    bool readError = ferror(f) != 0;
    fclose(f);
    if (readError) {
        *error = std::string("cannot read ") + path;
        return false;
    }
    return true;
}

// Writes the file under a temporary name beside it and renames it into place,
// so that OUT either holds all the bytes or is not touched.
bool writeFile(const char* path, const uint8_t* data, size_t size, std::string* error) {
    std::string temporary = std::string(path) + ".tmp-XXXXXX";
    int fd = mkstemp(&temporary[0]);
    if (fd < 0) {
        *error = std::string("cannot create a file beside ") + path + ": " + strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = std::string("cannot write ") + path + ": " + strerror(errno);
            close(fd);
            unlink(temporary.c_str());
            return false;
        }
        done += size_t(n);
    }
    if (fchmod(fd, 0644) != 0 || close(fd) != 0 || rename(temporary.c_str(), path) != 0) {
        *error = std::string("cannot write ") + path + ": " + strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

uint32_t field(const uint8_t* blob, uint32_t offset) {
    const uint8_t* p = blob + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Why a blob (with "AP32" already in its tag) does not unpack, going through
// the same tests as the unpack, in its order.
std::string failureReason(const std::vector<uint8_t>& blob) {
    if (blob.size() < packedBlobHeaderSize)
        return "shorter than the 24-byte header (" + std::to_string(blob.size()) + " bytes)";
    const uint8_t* b = blob.data();
    uint32_t length = uint32_t(blob.size());
    uint32_t headerSize = field(b, 4), packedSize = field(b, 8), unpackedSize = field(b, 16);
    if (headerSize < packedBlobHeaderSize)
        return "headerSize " + std::to_string(headerSize) + " is below 24";
    if (length < headerSize)
        return "headerSize " + std::to_string(headerSize) + " is past the end of the blob";
    if (packedSize > length - headerSize)
        return "the body (packedSize " + std::to_string(packedSize) + ") runs past the end of the blob";
    if (computeCrc32(b + headerSize, packedSize) != field(b, 12))
        return "the body does not match packedCrc";
    if (unpackedSize == 0 || unpackedSize == unpackError)
        return "unpackedSize " + std::to_string(unpackedSize) + " is not allowed";
    uint8_t* out = static_cast<uint8_t*>(malloc(unpackedSize));
    if (out == nullptr)
        return "not enough memory for " + std::to_string(unpackedSize) + " unpacked bytes";
    uint32_t produced = decompress(b + headerSize, packedSize, out, unpackedSize);
    std::string reason;
    if (produced == unpackError)
        reason = "the body is damaged (the decoder stopped at a bound) or longer than unpackedSize";
    else if (produced != unpackedSize)
        reason = "the body gives " + std::to_string(produced) + " bytes, unpackedSize says " +
                 std::to_string(unpackedSize);
    else if (computeCrc32(out, produced) != field(b, 20))
        reason = "the unpacked bytes do not match unpackedCrc";
    else
        reason = "the unpack failed (not enough memory?)";
    free(out);
    return reason;
}

int pack(const char* inPath, const char* outPath) {
    std::vector<uint8_t> input;
    std::string error;
    if (!readFile(inPath, &input, &error))
        return fail(error);
    if (input.empty())
        return fail(std::string(inPath) + " is empty; a blob holds at least one byte");
    EncoderStats stats;
    std::vector<uint8_t> blob = packBlob(input.data(), input.size(), &stats);
    if (blob.empty())
        return fail(std::string(inPath) + " is too large for a blob");
    if (!writeFile(outPath, blob.data(), blob.size(), &error))
        return fail(error);
    printf("%s: %zu bytes packed into %zu (%.1f%%)\n", outPath, input.size(), blob.size(),
           100.0 * double(blob.size()) / double(input.size()));
    return 0;
}

int unpack(const char* inPath, const char* outPath) {
    std::vector<uint8_t> blob;
    std::string error;
    if (!readFile(inPath, &blob, &error))
        return fail(error);
    MemoryStream* source = MemoryStream::create();
    MemoryStream* destination = MemoryStream::create();
    if (source == nullptr || destination == nullptr ||
        (!blob.empty() && source->write(blob.data(), uint32_t(blob.size())) != blob.size())) {
        if (source) source->release();
        if (destination) destination->release();
        return fail("not enough memory for " + std::string(inPath));
    }
    int32_t result = unpackBlob(*source, *destination);
    int status = 0;
    if (result != 0) {
        // The unpack wrote "AP32" into the source's tag; the reason is read from that copy.
        std::vector<uint8_t> patched(source->data(), source->data() + source->size());
        status = fail(std::string(inPath) + ": " + failureReason(patched));
    } else if (!writeFile(outPath, destination->data(), destination->size(), &error)) {
        status = fail(error);
    }
    source->release();
    destination->release();
    return status;
}

int info(const char* inPath) {
    std::vector<uint8_t> blob;
    std::string error;
    if (!readFile(inPath, &blob, &error))
        return fail(error);
    if (blob.size() < packedBlobHeaderSize)
        return fail(std::string(inPath) + ": shorter than the 24-byte header");
    const uint8_t* b = blob.data();
    char tag[5] = {0};
    for (int i = 0; i < 4; ++i)
        tag[i] = (b[i] >= 0x20 && b[i] < 0x7F) ? char(b[i]) : '.';
    printf("file          %zu bytes\n", blob.size());
    printf("tag           \"%s\" (%02X %02X %02X %02X)\n", tag, b[0], b[1], b[2], b[3]);
    printf("headerSize    %u\n", field(b, 4));
    printf("packedSize    %u\n", field(b, 8));
    printf("packedCrc     %08X\n", field(b, 12));
    printf("unpackedSize  %u\n", field(b, 16));
    printf("unpackedCrc   %08X\n", field(b, 20));
    blob[0] = 'A', blob[1] = 'P', blob[2] = '3', blob[3] = '2';
    uint32_t size = field(b, 16);
    uint8_t* out = size != 0 && size != unpackError ? static_cast<uint8_t*>(malloc(size)) : nullptr;
    bool good = out != nullptr && unpackInMemory(blob.data(), uint32_t(blob.size()), out, size) == size;
    free(out);
    printf("unpacks       %s\n", good ? "yes" : ("no: " + failureReason(blob)).c_str());
    return good ? 0 : 1;
}

int usage() {
    fprintf(stderr,
            "usage: blobtool pack IN OUT     pack the file IN into the blob OUT\n"
            "       blobtool unpack IN OUT   unpack the blob IN into the file OUT\n"
            "       blobtool info IN         show the header of the blob IN\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "pack") == 0)
        return pack(argv[2], argv[3]);
    if (argc == 4 && strcmp(argv[1], "unpack") == 0)
        return unpack(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "info") == 0)
        return info(argv[2]);
    return usage();
}
