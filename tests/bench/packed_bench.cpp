// Speed of the packed-resource code, in bytes of output per second:
//   decompress and unpackBlob on a corpus of Windows PE files (the i686
//   mingw runtime DLLs and, when built, the programs of the win32 build) and
//   on text (licence and copyright files of the system), packed once by
//   blobtool's packer when the benchmark starts;
//   computeCrc32 beside zlib's crc32 on the same bytes.
// Run: build/host/tests/bench/packed_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <stdio.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "packed/byte_stream.h"
#include "packed/crc32.h"
#include "packed/decompress.h"
#include "packed/packed_blob.h"
#include "tests/unit/packed_test_support.h"
#include "tools/blobtool/encoder.h"

namespace {

using packed_test::Bytes;
using packed_test::filesIn;

void append(Bytes& out, const std::string& path, size_t limit) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return;
    uint8_t chunk[65536];
    size_t n;
    while (out.size() < limit && (n = fread(chunk, 1, sizeof chunk, f)) > 0)
        out.insert(out.end(), chunk, chunk + std::min(n, limit - out.size()));
    fclose(f);
}

struct Corpus {
    std::string name;
    Bytes data;
    Bytes blob;  // as stored
    size_t files = 0;
};

Corpus makePeCorpus() {
    Corpus c{"pe", {}, {}, 0};
    std::vector<std::string> files;
    for (const char* folder : {"/usr/lib/gcc/i686-w64-mingw32/12-win32", "/usr/i686-w64-mingw32/lib"})
        for (const std::string& f : filesIn(folder, {".dll"}))
            files.push_back(f);
    std::string win32 = KORVEL_WIN32_DIR;
    for (const std::string& sub : {std::string(), std::string("/tests/e2e/probes"), std::string("/tools/stamp"),
                                   std::string("/tools/sample_viewer")})
        for (const std::string& f : filesIn(win32 + sub, {".exe", ".dll"}))
            files.push_back(f);
    for (const std::string& f : files) {
        append(c.data, f, size_t(1) << 30);
        ++c.files;
    }
    if (c.data.size() < (16u << 20)) {
        for (const std::string& f : filesIn("/usr/lib/gcc/i686-w64-mingw32/12-posix", {".dll"})) {
            append(c.data, f, size_t(1) << 30);
            ++c.files;
        }
    }
    return c;
}

Corpus makeTextCorpus() {
    Corpus c{"text", {}, {}, 0};
    const size_t limit = 8u << 20;
    for (const std::string& f : filesIn("/usr/share/common-licenses", {""})) {
        append(c.data, f, limit);
        ++c.files;
    }
    DIR* doc = opendir("/usr/share/doc");
    std::vector<std::string> packages;
    while (doc != nullptr) {
        dirent* e = readdir(doc);
        if (e == nullptr)
            break;
        if (e->d_name[0] != '.')
            packages.push_back(e->d_name);
    }
    if (doc)
        closedir(doc);
    std::sort(packages.begin(), packages.end());
    for (const std::string& p : packages) {
        if (c.data.size() >= limit)
            break;
        size_t before = c.data.size();
        append(c.data, "/usr/share/doc/" + p + "/copyright", limit);
        c.files += c.data.size() > before;
    }
    return c;
}

Corpus& corpus(int which) {
    static Corpus corpora[2] = {makePeCorpus(), makeTextCorpus()};
    Corpus& c = corpora[which];
    if (c.blob.empty() && !c.data.empty()) {
        c.blob = packBlob(c.data.data(), c.data.size());
        fprintf(stderr, "corpus %s: %zu files, %zu bytes, packed into %zu (%.1f%%)\n", c.name.c_str(), c.files,
                c.data.size(), c.blob.size(), 100.0 * double(c.blob.size()) / double(c.data.size()));
    }
    return c;
}

bool usable(benchmark::State& state, const Corpus& c) {
    if (c.data.empty()) {
        state.SkipWithError("no files for this corpus on this machine");
        return false;
    }
    return true;
}

void BM_Decompress(benchmark::State& state) {
    Corpus& c = corpus(int(state.range(0)));
    if (!usable(state, c))
        return;
    state.SetLabel(c.name);
    const uint8_t* body = c.blob.data() + packedBlobHeaderSize;
    uint32_t bodySize = uint32_t(c.blob.size() - packedBlobHeaderSize);
    Bytes out(c.data.size());
    for (auto _ : state) {
        uint32_t n = decompress(body, bodySize, out.data(), uint32_t(out.size()));
        if (n != out.size()) {
            state.SkipWithError("the body did not decode");
            return;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    if (out != c.data)
        state.SkipWithError("decoded bytes differ");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c.data.size()));
    state.counters["packed%"] = 100.0 * double(c.blob.size()) / double(c.data.size());
}

void BM_UnpackBlob(benchmark::State& state) {
    Corpus& c = corpus(int(state.range(0)));
    if (!usable(state, c))
        return;
    state.SetLabel(c.name);
    MemoryStream* source = MemoryStream::create();
    MemoryStream* destination = MemoryStream::create();
    source->write(c.blob.data(), uint32_t(c.blob.size()));
    for (auto _ : state) {
        // The destination is written from its start again each time.
        if (unpackBlob(*source, *destination) != 0) {
            state.SkipWithError("the blob did not unpack");
            break;
        }
        benchmark::DoNotOptimize(destination->data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c.data.size()));
    source->release();
    destination->release();
}

// range(1): bytes to checksum, 0 for the whole corpus.
template <bool zlib>
void BM_Crc32(benchmark::State& state) {
    Corpus& c = corpus(int(state.range(0)));
    if (!usable(state, c))
        return;
    size_t n = state.range(1) ? std::min<size_t>(size_t(state.range(1)), c.data.size()) : c.data.size();
    state.SetLabel(c.name + (zlib ? " zlib crc32" : " computeCrc32"));
    uint32_t crc = 0;
    for (auto _ : state) {
        if (zlib)
            crc = uint32_t(crc32(0, c.data.data(), uInt(n)));
        else
            crc = computeCrc32(c.data.data(), uint32_t(n));
        benchmark::DoNotOptimize(crc);
    }
    if (crc != uint32_t(crc32(0, c.data.data(), uInt(n))))
        state.SkipWithError("CRC differs from zlib's");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

void BM_Pack(benchmark::State& state) {
    Corpus& c = corpus(int(state.range(0)));
    if (!usable(state, c))
        return;
    state.SetLabel(c.name + " (first 4 MiB)");
    size_t n = std::min<size_t>(c.data.size(), 4u << 20);
    for (auto _ : state) {
        Bytes blob = packBlob(c.data.data(), n);
        benchmark::DoNotOptimize(blob.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

}  // namespace

BENCHMARK(BM_Decompress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpackBlob)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Crc32, false)->Args({0, 0})->Args({0, 65536})->Args({1, 0})->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Crc32, true)->Args({0, 0})->Args({0, 65536})->Args({1, 0})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pack)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

BENCHMARK_MAIN();
