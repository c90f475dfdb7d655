// The profile store: file format, lookups, logins and imports.
#include <gtest/gtest.h>

#include "session/diprofile.h"
#include "support/mem_profile_store.h"

namespace {

TEST(ProfileStore, NoStoreMeansAbsentAndUnsaved) {
    DiChar buf[8];
    EXPECT_FALSE(diSOGetLocalSetting(u"a", buf, 8));
    EXPECT_FALSE(diSOSetLocalSetting(u"a", u"1"));
}

} // namespace
