// Writes the seed corpora of the fuzz targets into DIR/unpack (whole blobs)
// and DIR/decompress (a two-byte capacity and a body): small inputs packed
// by the packer of blobtool, between them using every kind of token.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/unit/packed_test_support.h"
#include "tools/blobtool/encoder.h"

namespace {

using packed_test::Bytes;
using packed_test::randomBytes;

bool writeFile(const std::string& path, const Bytes& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

Bytes text(const char* s) { return Bytes(s, s + strlen(s)); }


}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_fuzz_corpus DIR\n");
        return 1;
    }
    std::string dir = argv[1];
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "/unpack").c_str(), 0755);
    mkdir((dir + "/decompress").c_str(), 0755);

    std::vector<Bytes> inputs = {
        text("a"),
        text("hello hello hello, said the loader to the viewer"),
        Bytes(300, 'x'),
        Bytes(64, 0),
        randomBytes(200, 7),
    };
    // Records that differ in one byte: repeats of the last offset.
    Bytes records;
    for (int i = 0; i < 40; ++i) {
        const char* r = "id=? kind=entry;";
        records.insert(records.end(), r, r + strlen(r));
        records[records.size() - 13] = uint8_t('a' + i % 26);
    }
    inputs.push_back(records);
    // Zeros with the same pattern 40000 and 70000 bytes apart: offsets past
    // 32000 and past 65535 in a small blob.
    Bytes far(70100, 0);
    Bytes pattern = randomBytes(24, 3);
    for (size_t at : {size_t(10), size_t(40010), size_t(70010)})
        memcpy(far.data() + at, pattern.data(), pattern.size());
    inputs.push_back(far);

    int count = 0;
    for (const Bytes& in : inputs) {
        Bytes blob = packBlob(in.data(), in.size());
        Bytes body = packBody(in.data(), in.size());
        Bytes seed = {uint8_t(in.size()), uint8_t(in.size() >> 8)};
        if (in.size() > 0xFFFF)
            seed[0] = seed[1] = 0xFF;  // the decompress target takes at most 65535 bytes of room
        seed.insert(seed.end(), body.begin(), body.end());
        std::string name = "seed" + std::to_string(count++);
        if (blob.empty() || !writeFile(dir + "/unpack/" + name, blob) || !writeFile(dir + "/decompress/" + name, seed)) {
            fprintf(stderr, "make_fuzz_corpus: cannot write %s\n", name.c_str());
            return 1;
        }
    }
    return 0;
}
