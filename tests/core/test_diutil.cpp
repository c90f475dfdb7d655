#include <gtest/gtest.h>

#include "core/diutil.h"

TEST(Placeholder, Builds) {
    SUCCEED();
}
