// The environment a test program sets for itself before main (the ENVIRONMENT of dravix_test)
// gives way to a value already set: scripts/test hands each run its own peers folder, and a
// program that replaced it with the build's folder would reach another run's servers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

TEST(TestEnvironment, AValueAlreadySetWins) {
    if (std::getenv("DRAVIX_ENVIRONMENT_PROBE")) {
        // The child run below: report what the program saw.
        const char* dir = std::getenv("DRAVIX_PEERS_DIR");
        std::printf("peers-dir=[%s]\n", dir ? dir : "");
        return;
    }
    std::array<char, 4096> self{};
    const ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
    ASSERT_GT(n, 0);
    const std::string command = "DRAVIX_ENVIRONMENT_PROBE=1 DRAVIX_PEERS_DIR=/nonexistent/outside-peers '" +
                                std::string(self.data(), static_cast<std::size_t>(n)) +
                                "' --gtest_filter=TestEnvironment.AValueAlreadySetWins 2>&1";
    FILE* child = popen(command.c_str(), "r");
    ASSERT_NE(child, nullptr);
    std::string output;
    std::array<char, 512> chunk{};
    while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), child)) output += chunk.data();
    EXPECT_EQ(pclose(child), 0) << output;
    EXPECT_NE(output.find("peers-dir=[/nonexistent/outside-peers]"), std::string::npos) << output;
}

TEST(TestEnvironment, WithoutAValueTheProgramSetsItsOwn) {
    const char* dir = std::getenv("DRAVIX_PEERS_DIR");
    ASSERT_NE(dir, nullptr);
    EXPECT_FALSE(std::string(dir).empty());
}

}  // namespace
