#include <gtest/gtest.h>

#include "hibe_c/startup.h"

namespace {

// The bodies run after the library's start-up, as behind the exported functions.
class Startup : public ::testing::Environment {
public:
    void SetUp() override { hibe_c::RunStartup(); }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new Startup);
    return RUN_ALL_TESTS();
}
