#include "loader/settings.h"

#include <new>
#include <stdlib.h>

namespace {
const Text emptyLine;

constexpr uint8_t cr = 13;
constexpr uint8_t lf = 10;
}  // namespace

void PublicationSettings::build(const uint8_t* text, size_t length)
{
    release();
    if (!text || length == 0) return;

    // At most one line per CR, plus the tail after the last one.
    size_t breaks = 0;
    for (size_t i = 0; i < length; ++i) breaks += text[i] == cr;
    if (breaks + 1 > size_t(INT32_MAX) / sizeof(Text)) return;
    lines_ = static_cast<Text*>(calloc(breaks + 1, sizeof(Text)));
    if (!lines_) return;

    size_t pos = 0;
    while (pos < length) {
        if (text[pos] == 0) break;  // a line that begins with NUL ends the list
        size_t end = pos;
        while (end < length && text[end] != cr) ++end;
        size_t cut = pos;
        while (cut < end && text[cut] != 0) ++cut;
        new (&lines_[count_]) Text(reinterpret_cast<const char*>(text + pos), cut - pos);
        ++count_;
        pos = end;
        if (pos < length) {  // skip the CR and an LF that belongs to it
            ++pos;
            if (pos < length && text[pos] == lf) ++pos;
        }
    }
}

const Text& PublicationSettings::line(int index) const
{
    return index >= 0 && index < count_ ? lines_[index] : emptyLine;
}

void PublicationSettings::release()
{
    for (int i = 0; i < count_; ++i) lines_[i].~Text();
    free(lines_);
    lines_ = nullptr;
    count_ = 0;
}
