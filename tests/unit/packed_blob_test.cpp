// The blob container and unpackBlob: the header tests case by case, the
// order of the stream operations, what the destination holds afterwards, and
// the failures of short reads and missing memory, and refused writes that do not fail.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <string>

#include "packed/byte_stream.h"
#include "packed/crc32.h"
#include "packed/packed_blob.h"
#include "tests/unit/packed_test_support.h"
#include "tools/blobtool/encoder.h"

using namespace packed_test;

namespace {

uint32_t getField(const Bytes& blob, size_t at) {
    return uint32_t(blob[at]) | uint32_t(blob[at + 1]) << 8 | uint32_t(blob[at + 2]) << 16 |
           uint32_t(blob[at + 3]) << 24;
}

void setField(Bytes& blob, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        blob[at + i] = uint8_t(value >> (8 * i));
}

// packedCrc made to fit whatever headerSize and packedSize now say.
void refreshPackedCrc(Bytes& blob) {
    setField(blob, 12, computeCrc32(blob.data() + getField(blob, 4), getField(blob, 8)));
}

MemoryStream* streamWith(const Bytes& bytes) {
    MemoryStream* s = MemoryStream::create();
    if (!bytes.empty())
        s->write(bytes.data(), uint32_t(bytes.size()));
    return s;
}

Bytes contents(MemoryStream* s) { return Bytes(s->data(), s->data() + s->size()); }

// A stream that writes down each operation, and can read short or refuse writes.
class RecordingStream final : public ByteStream {
public:
    RecordingStream(const std::string& name, std::vector<std::string>& log, const Bytes& bytes)
        : name_(name), log_(log), inner_(streamWith(bytes)) {}
    ~RecordingStream() { inner_->release(); }

    uint32_t size() override {
        log_.push_back(name_ + " size");
        return claimedSize_ ? claimedSize_ : inner_->size();
    }
    void seekToStart() override {
        log_.push_back(name_ + " seek");
        inner_->seekToStart();
    }
    uint32_t read(void* buffer, uint32_t count) override {
        log_.push_back(name_ + " read " + std::to_string(count));
        uint32_t n = inner_->read(buffer, count);
        return n > readShortBy_ ? n - readShortBy_ : 0;
    }
    uint32_t write(const void* buffer, uint32_t count) override {
        log_.push_back(name_ + " write " + std::to_string(count));
        if (writeAccepts_ < count)
            count = writeAccepts_;
        return count ? inner_->write(buffer, count) : 0;
    }
    void release() override {}

    uint32_t readShortBy_ = 0;
    uint32_t writeAccepts_ = 0xFFFFFFFFu;
    uint32_t claimedSize_ = 0;
    MemoryStream* inner() { return inner_; }

private:
    std::string name_;
    std::vector<std::string>& log_;
    MemoryStream* inner_;
};

class PackedBlobTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 60; ++i)
            data_.insert(data_.end(), {'l', 'i', 'n', 'e', ' ', uint8_t('0' + i % 10), '\r', '\n'});
        Bytes noise = randomBytes(300, 5);
        data_.insert(data_.end(), noise.begin(), noise.end());
        blob_ = packBlob(data_.data(), data_.size());
        ASSERT_EQ(getField(blob_, 0), storedPackedBlobTag);
    }

    Bytes data_;
    Bytes blob_;
};

}  // namespace

// Each case changes the stored blob and unpacks it into a destination that
// already holds "0123456789" and stands at position 5.
TEST_F(PackedBlobTest, HeaderCases) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> change;
        bool unpacks;
    };
    const uint32_t n = uint32_t(data_.size());
    const Case cases[] = {
        {"stored tag QKOC", [](Bytes&) {}, true},
        {"tag of four zero bytes", [](Bytes& b) { setField(b, 0, 0); }, true},
        {"tag of other bytes", [](Bytes& b) { setField(b, 0, 0x12345678); }, true},
        {"tag already AP32", [](Bytes& b) { setField(b, 0, packedBlobTag); }, true},
        {"headerSize 23", [](Bytes& b) { setField(b, 4, 23); }, false},
        {"headerSize 28 with four extra bytes",
         [](Bytes& b) { setField(b, 4, 28); b.insert(b.begin() + 24, {9, 9, 9, 9}); }, true},
        {"headerSize 28 without the extra bytes", [](Bytes& b) { setField(b, 4, 28); refreshPackedCrc(b); }, false},
        {"headerSize past the end of the blob", [](Bytes& b) { setField(b, 4, uint32_t(b.size()) + 1); }, false},
        {"cut short by one byte", [](Bytes& b) { b.pop_back(); }, false},
        {"body one byte shorter, packedSize and packedCrc to match",
         [](Bytes& b) { b.pop_back(); setField(b, 8, getField(b, 8) - 1); refreshPackedCrc(b); }, false},
        {"packedCrc with one bit flipped", [](Bytes& b) { b[12] ^= 0x10; }, false},
        {"unpackedCrc with one bit flipped", [](Bytes& b) { b[23] ^= 0x01; }, false},
        {"unpackedSize one below", [n](Bytes& b) { setField(b, 16, n - 1); }, false},
        {"unpackedSize one above", [n](Bytes& b) { setField(b, 16, n + 1); }, false},
        {"unpackedSize 0", [](Bytes& b) { setField(b, 16, 0); }, false},
        {"unpackedSize 0xFFFFFFFF", [](Bytes& b) { setField(b, 16, 0xFFFFFFFFu); }, false},
        {"packedSize 0 with packedCrc 0", [](Bytes& b) { setField(b, 8, 0); setField(b, 12, 0); }, false},
        {"packedSize one past the blob", [](Bytes& b) { setField(b, 8, getField(b, 8) + 1); }, false},
        {"exactly 24 bytes", [](Bytes& b) { b.resize(24); }, false},
        {"exactly 24 bytes, packedSize 0", [](Bytes& b) { b.resize(24); setField(b, 8, 0); setField(b, 12, 0); }, false},
        {"bytes appended after the body", [](Bytes& b) { b.insert(b.end(), {1, 2, 3, 4, 5}); }, true},
    };
    const Bytes before = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes blob = blob_;
        c.change(blob);
        MemoryStream* source = streamWith(blob);
        MemoryStream* destination = streamWith(before);
        destination->seekToStart();
        uint8_t skipped[5];
        destination->read(skipped, 5);

        int32_t result = unpackBlob(*source, *destination);

        Bytes expectedSource = blob;
        setField(expectedSource, 0, packedBlobTag);
        EXPECT_EQ(contents(source), expectedSource);
        if (c.unpacks) {
            EXPECT_EQ(result, 0);
            Bytes expected(before.begin(), before.begin() + 5);
            expected.insert(expected.end(), data_.begin(), data_.end());
            EXPECT_EQ(contents(destination), expected);
            EXPECT_EQ(destination->position(), 0u);
        } else {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(contents(destination), before);
            EXPECT_EQ(destination->position(), 5u);
        }
        // The in-memory unpack agrees once the tag is in place.
        Bytes out(n + 1);
        uint32_t inMemory = unpackInMemory(expectedSource.data(), uint32_t(expectedSource.size()), out.data(), n + 1);
        EXPECT_EQ(inMemory, c.unpacks ? n : unpackError);
        source->release();
        destination->release();
    }
}

TEST_F(PackedBlobTest, InMemoryChecksAndUnpackedSizeField) {
    Bytes blob = blob_;
    setField(blob, 0, packedBlobTag);
    const uint32_t n = uint32_t(data_.size());
    EXPECT_EQ(readUnpackedSize(blob.data()), n);
    Bytes out(n);
    EXPECT_EQ(unpackInMemory(blob.data(), uint32_t(blob.size()), out.data(), n), n);
    EXPECT_EQ(out, data_);
    EXPECT_EQ(unpackInMemory(blob.data(), uint32_t(blob.size()), out.data(), n - 1), unpackError);
    EXPECT_EQ(unpackInMemory(nullptr, uint32_t(blob.size()), out.data(), n), unpackError);
    EXPECT_EQ(unpackInMemory(blob.data(), uint32_t(blob.size()), nullptr, n), unpackError);
    EXPECT_EQ(unpackInMemory(blob.data(), 23, out.data(), n), unpackError);

    EXPECT_EQ(readUnpackedSize(blob_.data()), unpackError);  // still "QKOC"
    setField(blob, 4, 23);
    EXPECT_EQ(readUnpackedSize(blob.data()), unpackError);
}

TEST(UnpackBlob, ShortSourcesFailAndGainTheTag) {
    for (const Bytes& start : {Bytes(), hex("51 4B"), hex("51 4B 4F 43 00 01 02 03 04 05")}) {
        SCOPED_TRACE(std::to_string(start.size()) + " bytes");
        MemoryStream* source = streamWith(start);
        MemoryStream* destination = MemoryStream::create();
        EXPECT_EQ(unpackBlob(*source, *destination), -1);
        Bytes expected = hex("41 50 33 32");
        if (start.size() > 4)
            expected.insert(expected.end(), start.begin() + 4, start.end());
        EXPECT_EQ(contents(source), expected);
        EXPECT_EQ(destination->size(), 0u);
        source->release();
        destination->release();
    }
}

TEST_F(PackedBlobTest, StreamOperationsComeInOrder) {
    const std::string n = std::to_string(blob_.size());
    const std::string m = std::to_string(data_.size());
    {
        std::vector<std::string> log;
        RecordingStream source("source", log, blob_), destination("destination", log, Bytes());
        EXPECT_EQ(unpackBlob(source, destination), 0);
        EXPECT_EQ(log, (std::vector<std::string>{"source seek", "source write 4", "source seek", "source size",
                                                 "source read " + n, "destination write " + m,
                                                 "destination seek"}));
        EXPECT_EQ(contents(destination.inner()), data_);
    }
    {
        Bytes damaged = blob_;
        damaged[12] ^= 1;
        std::vector<std::string> log;
        RecordingStream source("source", log, damaged), destination("destination", log, Bytes());
        EXPECT_EQ(unpackBlob(source, destination), -1);
        EXPECT_EQ(log, (std::vector<std::string>{"source seek", "source write 4", "source seek", "source size",
                                                 "source read " + n}));
    }
}

// A source that delivers fewer bytes than it says it holds fails, whether
// the bytes missing would have mattered or not; a destination that takes
// fewer bytes than it is given does not make the unpack fail.
TEST_F(PackedBlobTest, ShortReadsFailAndRefusedWritesDoNot) {
    for (uint32_t shortBy : {1u, 100u}) {
        SCOPED_TRACE("read short by " + std::to_string(shortBy));
        Bytes padded = blob_;
        padded.resize(padded.size() + 100, 0);  // the missing bytes lie after the body
        std::vector<std::string> log;
        RecordingStream source("source", log, padded), destination("destination", log, Bytes());
        source.readShortBy_ = shortBy;
        EXPECT_EQ(unpackBlob(source, destination), -1);
        EXPECT_EQ(log.back(), "source read " + std::to_string(padded.size()));
    }
    for (uint32_t accepted : {0u, uint32_t(data_.size() - 1)}) {
        SCOPED_TRACE("destination takes " + std::to_string(accepted));
        std::vector<std::string> log;
        RecordingStream source("source", log, blob_), destination("destination", log, Bytes());
        destination.writeAccepts_ = accepted;
        // The unpack is judged by the blob alone; provisioning decides by the
        // file it finds afterwards.
        EXPECT_EQ(unpackBlob(source, destination), 0);
        EXPECT_EQ(log.back(), "destination seek");
    }
}

// Memory that cannot be had fails the unpack: the same blob unpacks with
// room in the address space and fails without it.
TEST(UnpackBlob, MissingMemoryFails) {
    const uint32_t size = 64u << 20;  // zeros: the body is a few bytes
    BodyWriter body(0);
    body.longMatch(3, 1, size - 1 - 2).end();
    uint8_t* zeros = static_cast<uint8_t*>(calloc(size, 1));
    ASSERT_NE(zeros, nullptr);
    const uint32_t zerosCrc = computeCrc32(zeros, size);
    free(zeros);
    Bytes blob(24);
    setField(blob, 0, storedPackedBlobTag);
    setField(blob, 4, 24);
    setField(blob, 8, uint32_t(body.bytes().size()));
    setField(blob, 12, computeCrc32(body.bytes().data(), uint32_t(body.bytes().size())));
    setField(blob, 16, size);
    setField(blob, 20, zerosCrc);
    blob.insert(blob.end(), body.bytes().begin(), body.bytes().end());

    {
        MemoryStream* source = streamWith(blob);
        MemoryStream* destination = MemoryStream::create();
        EXPECT_EQ(unpackBlob(*source, *destination), 0);
        EXPECT_EQ(destination->size(), size);
        source->release();
        destination->release();
    }

    MemoryStream* source = streamWith(blob);
    MemoryStream* destination = MemoryStream::create();
    std::vector<std::string> log;
    log.reserve(16);
    RecordingStream hugeSource("source", log, blob);
    hugeSource.claimedSize_ = 0xC0000000u;  // 3 GiB claimed
    bool limited, probeFailed;
    int32_t tooBigOutput, tooBigSource;
    {
        AddressSpaceLimit limit(16u << 20);
        limited = limit.active();
        void* probe = malloc(size);
        probeFailed = probe == nullptr;
        free(probe);
        tooBigOutput = unpackBlob(*source, *destination);
        tooBigSource = unpackBlob(hugeSource, *destination);
    }
    ASSERT_TRUE(limited);
    ASSERT_TRUE(probeFailed);
    EXPECT_EQ(tooBigOutput, -1);
    EXPECT_EQ(tooBigSource, -1);
    EXPECT_EQ(log.back(), "source size");  // no read into a buffer that was never had
    EXPECT_EQ(destination->size(), 0u);
    source->release();
    destination->release();
}
