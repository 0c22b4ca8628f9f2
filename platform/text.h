// Text: an owned 8-bit string of the system code page, kept on the process
// heap and always NUL-terminated. It replaces std::string in the loader,
// whose static copy would cost more than the whole program. An allocation
// failure leaves the text as it was.
#pragma once
#include <stddef.h>

class Text {
public:
    constexpr Text() = default;  // constant-initialised, so globals need no start-up code
    Text(const char* text);
    Text(const char* text, size_t length);
    Text(const Text& other);
    Text(Text&& other) noexcept;
    Text& operator=(const Text& other);
    Text& operator=(Text&& other) noexcept;
    ~Text() { clear(); }

    const char* c_str() const { return data_ ? data_ : ""; }  // never null
    size_t length() const { return length_; }
    bool empty() const { return length_ == 0; }
    char operator[](size_t index) const { return data_[index]; }

    Text& append(const char* text, size_t length);
    Text& append(const char* text);
    Text& append(const Text& text) { return append(text.c_str(), text.length()); }
    Text& append(char c) { return append(&c, 1); }

    bool contains(char c) const;
    bool operator==(const char* text) const;
    bool operator==(const Text& other) const;
    bool operator!=(const char* text) const { return !(*this == text); }
    bool operator!=(const Text& other) const { return !(*this == other); }

    void clear();  // frees the buffer

private:
    char* data_ = nullptr;
    size_t length_ = 0;
    size_t capacity_ = 0;
};
