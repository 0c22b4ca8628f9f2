// The packer of blobtool against the unpack: varied data comes back byte for
// byte through unpackBlob, matches at the edges of the offset bands decode,
// and every kind of token is really emitted (counted by the reference
// decoder, so not on the packer's word alone).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "packed/byte_stream.h"
#include "packed/packed_blob.h"
#include "tests/fuzz/reference_decoder.h"
#include "tests/unit/packed_test_support.h"
#include "tools/blobtool/encoder.h"

using namespace packed_test;

namespace {

// Words drawn from a small dictionary: text-like data with many matches
// that follow one another.
Bytes wordText(size_t n, uint32_t seed) {
    static const char* const words[] = {"packed", "resource", "loader", "viewer", "runtime", "window",
                                        "setting", "the", "of", "a", "publication", "stream", "offset",
                                        "length", "match", "literal", "table", "header"};
    Bytes noise = randomBytes(n, seed);
    Bytes out;
    for (size_t i = 0; out.size() < n; ++i) {
        const char* w = words[noise[i % n] % (sizeof words / sizeof words[0])];
        out.insert(out.end(), w, w + strlen(w));
        out.push_back(noise[(i + 1) % n] % 7 == 0 ? '\n' : ' ');
    }
    out.resize(n);
    return out;
}

// Fixed-size records that differ in one byte: match, literal, then a
// repeat of the same offset.
Bytes records(size_t count) {
    Bytes noise = randomBytes(count, 23);
    Bytes out;
    for (size_t i = 0; i < count; ++i) {
        const char* tail = " kind=entry flags=rw owner=loader;";
        out.insert(out.end(), {'i', 'd', '='});
        out.push_back(noise[i]);
        out.insert(out.end(), tail, tail + strlen(tail));
    }
    return out;
}

// Random bytes in which 40-byte pieces are copied from exactly the given
// distances back, so the only long matches have those offsets.
Bytes copiesAtOffsets(const std::vector<uint32_t>& offsets) {
    Bytes out = randomBytes(1100000, 31);
    size_t at = 1000000;
    for (uint32_t d : offsets) {
        for (size_t i = 0; i < 40; ++i)
            out[at + i] = out[at - d + i];
        at += 5000;
    }
    return out;
}

// Packs, unpacks through memory streams, and checks the bytes; returns the
// tokens of the body as the reference decoder saw them.
reference::TokenCounts roundTrip(const Bytes& data, EncoderStats* stats = nullptr) {
    reference::TokenCounts counts;
    EncoderStats own;
    Bytes blob = packBlob(data.data(), data.size(), &own);
    EXPECT_FALSE(blob.empty());
    if (blob.empty())
        return counts;
    MemoryStream* source = MemoryStream::create();
    MemoryStream* destination = MemoryStream::create();
    source->write(blob.data(), uint32_t(blob.size()));
    EXPECT_EQ(unpackBlob(*source, *destination), 0);
    EXPECT_EQ(destination->size(), data.size());
    EXPECT_TRUE(destination->size() == data.size() && memcmp(destination->data(), data.data(), data.size()) == 0);
    source->release();
    destination->release();

    Bytes out(data.size());
    EXPECT_EQ(reference::decode(blob.data() + 24, uint32_t(blob.size() - 24), out.data(), uint32_t(out.size()), &counts),
              data.size());
    // The packer's own statistics describe the body it wrote.
    EXPECT_EQ(own.literals, counts.literals);
    EXPECT_EQ(own.zeroBytes, counts.zeroBytes);
    EXPECT_EQ(own.nearBytes, counts.nearBytes);
    EXPECT_EQ(own.shortMatches, counts.shortMatches);
    EXPECT_EQ(own.repeats, counts.repeats);
    EXPECT_EQ(own.longMatches, counts.longMatches);
    EXPECT_EQ(own.longMatchesAfterMatch, counts.longMatchesAfterMatch);
    EXPECT_EQ(own.longMatchesAbove65535, counts.longMatchesAbove65535);
    if (stats)
        *stats = own;
    return counts;
}

void add(reference::TokenCounts& total, const reference::TokenCounts& c) {
    total.literals += c.literals;
    total.zeroBytes += c.zeroBytes;
    total.nearBytes += c.nearBytes;
    total.shortMatches += c.shortMatches;
    total.repeats += c.repeats;
    total.longMatches += c.longMatches;
    total.longMatchesAfterMatch += c.longMatchesAfterMatch;
    total.longMatchesBelow128 += c.longMatchesBelow128;
    total.longMatchesBelow1280 += c.longMatchesBelow1280;
    total.longMatchesBelow32000 += c.longMatchesBelow32000;
    total.longMatchesFrom32000 += c.longMatchesFrom32000;
    total.longMatchesAbove65535 += c.longMatchesAbove65535;
}

}  // namespace

TEST(PackRoundTrip, VariedDataAndEveryTokenKind) {
    struct Input {
        const char* name;
        Bytes data;
    };
    Bytes license;
    readWholeFile("/usr/share/common-licenses/GPL-3", &license);
    std::vector<Input> inputs = {
        {"one byte", hex("7F")},
        {"one zero byte", hex("00")},
        {"two bytes", hex("01 02")},
        {"run of one letter", Bytes(1000, 'a')},
        {"run of zeros", Bytes(100000, 0)},
        {"alternating pair", [] { Bytes b; for (int i = 0; i < 5000; ++i) b.push_back(i % 2 ? 0x90 : 0xCC); return b; }()},
        {"random bytes", randomBytes(200000, 3)},
        {"dictionary words", wordText(150000, 9)},
        {"records", records(3000)},
        {"copies at band edges", copiesAtOffsets({127, 128, 1279, 1280, 31999, 32000, 65535, 65536, 100000, 700000})},
    };
    if (!license.empty())
        inputs.push_back({"license text", license});

    reference::TokenCounts total;
    for (const Input& in : inputs) {
        SCOPED_TRACE(in.name);
        reference::TokenCounts c = roundTrip(in.data);
        add(total, c);
        if (std::string(in.name) == "copies at band edges") {
            EXPECT_GE(c.longMatchesBelow128, 1u);
            EXPECT_GE(c.longMatchesBelow1280, 2u);
            EXPECT_GE(c.longMatchesBelow32000, 2u);
            EXPECT_GE(c.longMatchesFrom32000, 5u);
            EXPECT_GE(c.longMatchesAbove65535, 3u);
        }
        if (std::string(in.name) == "records") {
            EXPECT_GT(c.repeats, 1000u);
        }
    }
    EXPECT_GT(total.literals, 0u);
    EXPECT_GT(total.zeroBytes, 0u);
    EXPECT_GT(total.nearBytes, 0u);
    EXPECT_GT(total.shortMatches, 0u);
    EXPECT_GT(total.repeats, 0u);
    EXPECT_GT(total.longMatches, 0u);
    EXPECT_GT(total.longMatchesAfterMatch, 0u);
    EXPECT_GT(total.longMatchesBelow128, 0u);
    EXPECT_GT(total.longMatchesBelow1280, 0u);
    EXPECT_GT(total.longMatchesBelow32000, 0u);
    EXPECT_GT(total.longMatchesFrom32000, 0u);
    EXPECT_GT(total.longMatchesAbove65535, 0u);
}

TEST(PackRoundTrip, WindowsPeFiles) {
    std::vector<std::string> files;
    for (const std::string& f : peFiles(KORVEL_WIN32_DIR)) {
        struct stat st;
        if (f.find("12-posix") == std::string::npos && stat(f.c_str(), &st) == 0 && st.st_size <= (2 << 20))
            files.push_back(f);
    }
    if (files.empty())
        GTEST_SKIP() << "no PE files on this machine";
    size_t packed = 0, unpacked = 0;
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        Bytes data;
        ASSERT_TRUE(readWholeFile(f, &data));
        if (data.empty())
            continue;
        EncoderStats stats;
        roundTrip(data, &stats);
        packed += packBlob(data.data(), data.size()).size();
        unpacked += data.size();
    }
    // PE files pack well below their size; a packer that fell back to
    // literals everywhere would pass the round trip and fail this.
    EXPECT_LT(double(packed), 0.6 * double(unpacked));
}

TEST(PackRoundTrip, EmptyInputIsRefused) {
    EXPECT_TRUE(packBlob(nullptr, 0).empty());
    uint8_t b = 1;
    EXPECT_TRUE(packBlob(&b, 0).empty());
    EXPECT_TRUE(packBody(&b, 0).empty());
}
