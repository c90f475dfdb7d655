// The root screen buffer's layout: rows padded to 4 bytes, 3 bytes a pixel
// at depth 24, and sizes that would wrap 32 bits refused, not allocated
// short.
#include <gtest/gtest.h>

#include "fb/fb.h"
#include "xde/dixscreen.h"

TEST(ScreenLayout, RowsArePaddedAndDepth24TakesThreeBytes) {
    DiXScreenLayout l;
    ASSERT_EQ(diXScreenLayout(161, 10, 24, 0, &l), 0);
    EXPECT_EQ(l.bytesPerPixel, 3u);
    EXPECT_EQ(l.stride, 484u); // 483 rounded up
    EXPECT_EQ(l.bytes, 4840u);
    EXPECT_EQ(l.dibDepth, 24u);
    ASSERT_EQ(diXScreenLayout(3, 7, 16, 0, &l), 0);
    EXPECT_EQ(l.stride, 8u);
    ASSERT_EQ(diXScreenLayout(5, 2, 8, 0, &l), 0);
    EXPECT_EQ(l.stride, 8u);
    // Dithered: the buffer keeps the X pixels, the DIB shows 8 bits.
    ASSERT_EQ(diXScreenLayout(5, 2, 24, 1, &l), 0);
    EXPECT_EQ(l.stride, 16u);
    EXPECT_EQ(l.dibDepth, 8u);
    EXPECT_EQ(l.dibStride, 8u);
}

TEST(ScreenLayout, SizesPastTheCapOrWrappingAreRefused) {
    DiXScreenLayout l{};
    // 98,304 x 32,767 bytes is past the cap though it fits 32 bits, and
    // 65,535-pixel sides (whose product wraps on 32 bits) are out of range.
    EXPECT_EQ(diXScreenLayout(32767, 32767, 24, 0, &l), -1);
    EXPECT_EQ(diXScreenLayout(65535, 65535, 24, 1, &l), -1);
    EXPECT_EQ(diXScreenLayout(65535, 2, 8, 0, &l), -1);
    EXPECT_EQ(diXScreenLayout(0, 10, 24, 0, &l), -1);
    EXPECT_EQ(diXScreenLayout(10, -1, 24, 0, &l), -1);
    EXPECT_EQ(diXScreenLayout(10, 10, 32, 0, &l), -1);
    // The largest accepted buffer stays within the cap.
    ASSERT_EQ(diXScreenLayout(32767, 1365, 24, 0, &l), 0);
    EXPECT_LE(l.bytes, uint64_t(FB_MAX_BUFFER_BYTES));
    EXPECT_EQ(diXScreenLayout(32767, 1366, 24, 0, &l), -1);
}
