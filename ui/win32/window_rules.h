// The arithmetic of the window layer that needs no window: kept apart from
// <windows.h> so that the Linux unit tests check it as it stands.
#pragma once
#include <stdint.h>

// Where a form starts when centred: half of (screen extent - outer extent),
// rounded toward minus infinity, as an arithmetic shift right by one of the
// signed difference would give it (-3 gives -2, -4 gives -2). The difference
// is taken in 64 bits, so no pair of 32-bit extents overflows.
constexpr int32_t formOrigin(int32_t screen, int32_t outer)
{
    int64_t difference = static_cast<int64_t>(screen) - outer;
    return static_cast<int32_t>(difference >= 0 ? difference / 2 : (difference - 1) / 2);
}

// The longest link the rich-text area hands on: its text is read whole or
// not at all, so no cut-off address ever reaches the shell.
constexpr uint32_t maxLinkTextLength = 1023;

// Whether the link of character range [cpMin, cpMax) is read and handed on.
constexpr bool linkRangeOpenable(int32_t cpMin, int32_t cpMax)
{
    return cpMin >= 0 && cpMax > cpMin && static_cast<uint32_t>(cpMax - cpMin) <= maxLinkTextLength;
}

// Bytes of the buffer that receives a link's text: the rich-edit control
// counts UTF-16 units, and in the ANSI form one unit can become up to three
// bytes (a double-byte code page gives two, UTF-8 as the system code page
// three), plus the terminating zero.
constexpr uint32_t linkTextBufferSize = 3 * maxLinkTextLength + 1;

// The rich-text character height in twips for a LOGFONT-style height at
// `dpi` pixels per inch: a negative height is a character height in pixels
// (-13 at 96 dpi gives 195 twips, 9.75 points), a positive one is taken as
// the same number of pixels; rounded to the nearest twip. A resolution of 0
// or less counts as 96; the result is bounded by INT32_MAX.
constexpr int32_t charFormatHeight(int32_t height, int32_t dpi)
{
    int64_t pixels = height < 0 ? -static_cast<int64_t>(height) : height;
    int64_t perInch = dpi > 0 ? dpi : 96;
    int64_t twips = (pixels * 1440 + perInch / 2) / perInch;
    return twips > INT32_MAX ? INT32_MAX : static_cast<int32_t>(twips);
}
