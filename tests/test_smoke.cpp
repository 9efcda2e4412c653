#include <gtest/gtest.h>
#include <sys/stat.h>
#include "TestPaths.h"

TEST(Build, ProgramIsBuilt) {
    struct stat st {};
    EXPECT_EQ(0, stat(testsupport::maruboBinary().c_str(), &st));
}
