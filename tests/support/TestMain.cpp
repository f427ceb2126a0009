#include <gtest/gtest.h>

#include "platform/dispatch/Dispatch.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    dispatch::setMainThreadToCurrent();
    return RUN_ALL_TESTS();
}
