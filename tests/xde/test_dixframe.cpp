// Frame borders and the stacking check's restack events.
#include <gtest/gtest.h>

#include "xde/dixframe.h"

namespace {

TEST(XFrameBorders, MeasuredFromWindowAndClient) {
    // A captioned frame at (100, 50), 208 x 231, client 200 x 200 at (104, 77).
    DiXBorders b = diXFrameBorders(100, 50, 308, 281, 104, 77, 200, 200);
    EXPECT_EQ(4, b.left);
    EXPECT_EQ(27, b.top);
    EXPECT_EQ(4, b.right);
    EXPECT_EQ(4, b.bottom);
    b = diXFrameBorders(INT32_MIN, 0, INT32_MAX, 10, 0, 0, -10, 10);
    EXPECT_EQ(INT32_MAX, b.left);
    EXPECT_EQ(INT32_MAX, b.right);
}

std::vector<std::pair<uint32_t, uint32_t>> raises(std::vector<uint32_t> recorded,
                                                  std::vector<uint32_t> walked, int topOnly) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (DiXRaise r :
         diXStackRaises(recorded.data(), recorded.size(), walked.data(), walked.size(), topOnly))
        out.push_back({r.window, r.value});
    return out;
}

using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;

TEST(XStacking, RestackEventsFromTheFirstDifference) {
    // Orders are bottom first.
    EXPECT_TRUE(raises({3, 5, 7}, {3, 5, 7}, 0).empty());
    EXPECT_TRUE(raises({3, 5, 7}, {3, 5, 7}, 1).empty());
    // 3 raised to the top: without flag 0x40 every frame from the first
    // difference names the one below it, the lowest 255.
    EXPECT_EQ(Pairs({{5, 255}, {7, 5}, {3, 7}}), raises({3, 5, 7}, {5, 7, 3}, 0));
    EXPECT_EQ(Pairs({{7, 3}, {5, 7}}), raises({3, 5, 7}, {3, 7, 5}, 0));
    // With it: only the top moved, so only it is told.
    EXPECT_EQ(Pairs({{3, 255}}), raises({3, 5, 7}, {5, 7, 3}, 1));
    EXPECT_EQ(Pairs({{9, 255}}), raises({3, 5}, {3, 5, 9}, 1)) << "a new frame on top";
    // Anything else: 0 for the lowest position, 255 for the top.
    EXPECT_EQ(Pairs({{7, 0}, {3, 7}, {5, 255}}), raises({3, 5, 7}, {7, 3, 5}, 1));
    EXPECT_EQ(Pairs({{5, 255}}), raises({3, 5, 7}, {3, 7, 5}, 1));
    EXPECT_EQ(Pairs({{5, 0}, {3, 5}, {7, 3}, {9, 255}}), raises({3, 5, 7, 9}, {5, 3, 7, 9}, 1));
    // A frame gone from the middle: the ones above it move down.
    EXPECT_EQ(Pairs({{7, 3}}), raises({3, 5, 7}, {3, 7}, 0));
    EXPECT_TRUE(raises({3, 5, 7}, {3, 5}, 0).empty()) << "the top frame went: nothing to raise";
}

TEST(XStacking, OrdersLongerThanTheRecordAreCut) {
    std::vector<uint32_t> walked(300);
    for (uint32_t i = 0; i < 300; i++)
        walked[i] = i + 1;
    std::vector<uint32_t> recorded(walked.begin(), walked.begin() + 256);
    EXPECT_EQ(-1, diXStackFirstDifference(recorded.data(), recorded.size(), walked.data(),
                                          walked.size()));
    EXPECT_TRUE(raises(recorded, walked, 0).empty());
}

TEST(XStacking, RemovingShiftsTheRestDown) {
    uint32_t record[DI_XSTACK_MAX] = {3, 5, 7, 5};
    record[DI_XSTACK_MAX - 1] = 9;
    diXStackRemove(record, 5);
    EXPECT_EQ(3u, record[0]);
    EXPECT_EQ(7u, record[1]);
    EXPECT_EQ(0u, record[2]);
    EXPECT_EQ(9u, record[DI_XSTACK_MAX - 3]);
    EXPECT_EQ(0u, record[DI_XSTACK_MAX - 1]);
}

} // namespace
