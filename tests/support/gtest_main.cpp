// Entry point of every test program.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // On Windows the test framework starts a helper thread the first time a
    // thread uses its per-thread state (SCOPED_TRACE does). Under Wine a
    // process that exits while that thread is still starting dies with a
    // segmentation fault after its tests passed, so start it here, long
    // before the process can end.
    { SCOPED_TRACE("start"); }
    return RUN_ALL_TESTS();
}
