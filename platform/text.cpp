#include "platform/text.h"

#include <stdlib.h>
#include <string.h>

Text::Text(const char* text) { append(text); }

Text::Text(const char* text, size_t length) { append(text, length); }

Text::Text(const Text& other) { append(other); }

Text::Text(Text&& other) noexcept : data_(other.data_), length_(other.length_), capacity_(other.capacity_)
{
    other.data_ = nullptr;
    other.length_ = other.capacity_ = 0;
}

Text& Text::operator=(const Text& other)
{
    if (this != &other) {
        length_ = 0;
        if (data_) data_[0] = 0;
        append(other);
    }
    return *this;
}

Text& Text::operator=(Text&& other) noexcept
{
    if (this != &other) {
        clear();
        data_ = other.data_;
        length_ = other.length_;
        capacity_ = other.capacity_;
        other.data_ = nullptr;
        other.length_ = other.capacity_ = 0;
    }
    return *this;
}

Text& Text::append(const char* text, size_t length)
{
    if (length == 0) return *this;
    if (length > (size_t)-1 / 2 - length_) return *this;
    size_t needed = length_ + length + 1;
    if (needed > capacity_) {
        size_t grown = capacity_ * 2;
        if (grown < needed) grown = needed;
        if (grown < 16) grown = 16;
        // The source may lie inside this text's own buffer, which realloc can move.
        bool inside = data_ && text >= data_ && text < data_ + length_;
        size_t offset = inside ? size_t(text - data_) : 0;
        char* bigger = static_cast<char*>(realloc(data_, grown));
        if (!bigger) return *this;
        data_ = bigger;
        if (inside) text = data_ + offset;
        capacity_ = grown;
    }
    memmove(data_ + length_, text, length);
    length_ += length;
    data_[length_] = 0;
    return *this;
}

Text& Text::append(const char* text) { return text ? append(text, strlen(text)) : *this; }

bool Text::contains(char c) const { return length_ != 0 && memchr(data_, c, length_) != nullptr; }

bool Text::operator==(const char* text) const
{
    size_t n = text ? strlen(text) : 0;
    return n == length_ && (n == 0 || memcmp(data_, text, n) == 0);
}

bool Text::operator==(const Text& other) const
{
    return other.length_ == length_ && (length_ == 0 || memcmp(data_, other.data_, length_) == 0);
}

void Text::clear()
{
    free(data_);
    data_ = nullptr;
    length_ = capacity_ = 0;
}
