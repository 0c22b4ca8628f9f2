#include "packed/byte_stream.h"

#include <new>
#include <stdlib.h>
#include <string.h>

MemoryStream* MemoryStream::create() {
    void* memory = malloc(sizeof(MemoryStream));
    if (memory == nullptr)
        return nullptr;
    return new (memory) MemoryStream();
}

void MemoryStream::release() {
    free(data_);
    this->~MemoryStream();
    free(this);
}

uint32_t MemoryStream::read(void* buffer, uint32_t count) {
    uint32_t available = size_ - position_;
    if (count > available)
        count = available;
    if (count == 0)
        return 0;
    memcpy(buffer, data_ + position_, count);
    position_ += count;
    return count;
}

uint32_t MemoryStream::write(const void* buffer, uint32_t count) {
    if (count == 0)
        return 0;
    // The stream's size is a 32-bit number; a write that would pass it is refused whole.
    if (count > 0xFFFFFFFFu - position_)
        return 0;
    uint32_t end = position_ + count;
    if (end > capacity_) {
        // Grow by doubling so that many small writes stay linear; when the
        // doubled block cannot be had, try the exact size before giving up.
        uint32_t grown = capacity_ > 0xFFFFFFFFu / 2 ? 0xFFFFFFFFu : capacity_ * 2;
        if (grown < 64)
            grown = 64;
        if (grown < end)
            grown = end;
        void* moved = realloc(data_, grown);
        if (moved == nullptr && grown != end) {
            grown = end;
            moved = realloc(data_, grown);
        }
        if (moved == nullptr)
            return 0;  // realloc left the old block as it was
        data_ = static_cast<uint8_t*>(moved);
        capacity_ = grown;
    }
    memcpy(data_ + position_, buffer, count);
    position_ = end;
    if (end > size_)
        size_ = end;
    return count;
}
