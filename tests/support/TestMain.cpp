// Test entry point: every test process gets a fresh temporary HOME (and no XDG_DATA_HOME),
// so that its sandbox, keychain and stores are its own.
#include "support/TestEnv.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testenv::useFreshHome();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
