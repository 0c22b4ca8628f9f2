// The window layer's arithmetic that stands apart from windows: where the
// missing-runtime dialog's form is placed, which links are handed to the
// shell, and the rich-text character height.
#include <gtest/gtest.h>
#include <stdint.h>

#include "ui/win32/window_rules.h"

namespace {

TEST(FormOrigin, HalfTheDifferenceRoundedTowardMinusInfinity)
{
    struct Case {
        int32_t screen, outer, expected;
    };
    const Case cases[] = {
        {1024, 487, 268},   // (1024 - 487) = 537, odd: rounds down
        {1024, 488, 268},
        {800, 800, 0},
        {800, 801, -1},     // -1 >> 1 is -1, not 0
        {800, 803, -2},     // -3 >> 1 is -2, where a truncating division gives -1
        {800, 804, -2},
        {640, 1001, -181},  // -361 >> 1
        {0, 0, 0},
        {-5, 0, -3},        // a negative screen extent is shifted the same way
        {INT32_MAX, INT32_MIN, INT32_MAX},  // no overflow in the difference
        {INT32_MIN, INT32_MAX, INT32_MIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "screen " << c.screen << ", outer " << c.outer);
        EXPECT_EQ(formOrigin(c.screen, c.outer), c.expected);
    }
}

TEST(LinkRange, OpenableOnlyWhenItCanBeReadWhole)
{
    struct Case {
        int32_t cpMin, cpMax;
        bool expected;
    };
    const Case cases[] = {
        {0, 1, true},
        {0, 1023, true},      // the longest link: 1023 characters and the zero fit
        {0, 1024, false},     // one more would arrive cut short
        {5000, 6023, true},
        {5000, 6024, false},
        {7, 7, false},        // an empty range
        {9, 3, false},        // reversed
        {-1, 10, false},      // -1 stands for "the end of the text", no link range
        {0, -1, false},
        {0, INT32_MAX, false},
        {INT32_MAX - 1, INT32_MAX, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "[" << c.cpMin << ", " << c.cpMax << ")");
        EXPECT_EQ(linkRangeOpenable(c.cpMin, c.cpMax), c.expected);
    }
    // An ANSI read of the longest link fits even at three bytes per character.
    EXPECT_GE(linkTextBufferSize, 3 * maxLinkTextLength + 1);
}

TEST(CharFormatHeight, FontHeightBecomesTwipsAtTheScreenResolution)
{
    struct Case {
        int32_t height, dpi, expected;
    };
    const Case cases[] = {
        {-13, 96, 195},   // 13 pixels at 96 dpi: 9.75 points
        {-11, 96, 165},
        {-13, 120, 156},  // still 13 pixels on a 120-dpi screen
        {-13, 144, 130},
        {-13, 72, 260},
        {13, 96, 195},    // a positive height counts as the same pixels
        {0, 96, 0},
        {-13, 0, 195},    // no resolution known: 96 dpi
        {-13, -5, 195},
        {-1, 1000, 1},    // 1.44 twips rounds to 1
        {-1, 900, 2},     // 1.6 rounds to 2
        {INT32_MIN, 96, INT32_MAX},  // bounded, not wrapped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "height " << c.height << " at " << c.dpi << " dpi");
        EXPECT_EQ(charFormatHeight(c.height, c.dpi), c.expected);
    }
}

}  // namespace
