#include "site.h"

#include <cstdlib>
#include <gtest/gtest.h>

TEST(Site, RootIsPutInFrontOnlyWhenSet) {
    unsetenv("QOR_ROOT");
    EXPECT_EQ(qor::site_path("/u/tarnu/mokel/keyset"), "/u/tarnu/mokel/keyset");
    setenv("QOR_ROOT", "", 1);
    EXPECT_EQ(qor::site_path("/dev/ttyS0"), "/dev/ttyS0");
    setenv("QOR_ROOT", "/tmp/site/", 1);
    EXPECT_EQ(qor::site_path("/dev/ttyS0"), "/tmp/site/dev/ttyS0");
    EXPECT_EQ(qor::tool_path("isend"), "/tmp/site/u/tarnu/mokel/isend");
    unsetenv("QOR_ROOT");
}
