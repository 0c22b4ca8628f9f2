#include <gtest/gtest.h>

#include "ui/splash.h"

namespace {

TEST(Splash, CentringTruncatesTowardZero)
{
    struct Case {
        int screen, window, origin;
    } cases[] = {
        {1024, 324, 350}, {1024, 325, 349},  // odd difference: the half rounds down
        {1024, 1027, -1},                     // 3 pixels wider: -3 / 2 is -1, not -2
        {1024, 1028, -2},                     // 4 pixels wider
        {1024, 1024, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window);
        EXPECT_EQ(centredOrigin(c.screen, c.window), c.origin);
    }
}

}  // namespace
