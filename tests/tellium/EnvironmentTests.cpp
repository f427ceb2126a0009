// The environment a test program sets for itself before main (the ENVIRONMENT of dravix_test)
// gives way to a value already set: scripts/test hands each run its own peers folder, and a
// program that replaced it with the build's folder would reach another run's servers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "TelliumTestSupport.h"

namespace {

TEST(TestEnvironment, AValueAlreadySetWins) {
    if (std::getenv("DRAVIX_ENVIRONMENT_PROBE")) {
        // The child run below: report what the program saw.
        const char* dir = std::getenv("DRAVIX_PEERS_DIR");
        std::printf("peers-dir=[%s]\n", dir ? dir : "");
        return;
    }
    std::string output;
    EXPECT_EQ(telltest::runThisProgram("DRAVIX_ENVIRONMENT_PROBE=1 DRAVIX_PEERS_DIR=/nonexistent/outside-peers",
                                       "TestEnvironment.AValueAlreadySetWins", &output),
              0)
        << output;
    EXPECT_NE(output.find("peers-dir=[/nonexistent/outside-peers]"), std::string::npos) << output;
}

TEST(TestEnvironment, WithoutAValueTheProgramSetsItsOwn) {
    const char* dir = std::getenv("DRAVIX_PEERS_DIR");
    ASSERT_NE(dir, nullptr);
    EXPECT_FALSE(std::string(dir).empty());
}

}  // namespace
