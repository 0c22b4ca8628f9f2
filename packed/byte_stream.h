// Byte streams: the one interface through which packed resources, memory
// buffers and files are read and written. Every stream has a size, a current
// position that can be put back to the start, and reads and writes at that
// position. A stream is released with release(), never with delete.
#pragma once
#include <stddef.h>
#include <stdint.h>

class ByteStream {
public:
    // Number of bytes the stream holds.
    virtual uint32_t size() = 0;
    // Puts the current position back to 0.
    virtual void seekToStart() = 0;
    // Reads up to count bytes at the current position; returns how many were read.
    virtual uint32_t read(void* buffer, uint32_t count) = 0;
    // Writes count bytes at the current position, growing the stream as needed;
    // returns how many were written (0 when the stream refuses them).
    virtual uint32_t write(const void* buffer, uint32_t count) = 0;
    // Frees the stream and whatever it holds (a file stream closes its file).
    virtual void release() = 0;

protected:
    ~ByteStream() = default;
};

// A growable stream in process memory. An allocation failure makes the
// write fail (it returns 0) and leaves the stream as it was.
class MemoryStream final : public ByteStream {
public:
    static MemoryStream* create();  // null when memory cannot be had

    uint32_t size() override { return size_; }
    void seekToStart() override { position_ = 0; }
    uint32_t read(void* buffer, uint32_t count) override;
    uint32_t write(const void* buffer, uint32_t count) override;
    void release() override;

    const uint8_t* data() const { return data_; }
    uint32_t position() const { return position_; }

private:
    MemoryStream() = default;
    ~MemoryStream() = default;
    uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;
    uint32_t position_ = 0;
};
