#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace taviro::test {
void setUpTestHome();
void tearDownTestHome();
}

int main(int argc, char** argv) {
    // Before anything reads the environment: no test may touch the real home.
    taviro::test::setUpTestHome();
    ::testing::InitGoogleMock(&argc, argv);
    int rc = RUN_ALL_TESTS();
    taviro::test::tearDownTestHome();
    return rc;
}
