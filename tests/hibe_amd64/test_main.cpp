#include <gtest/gtest.h>

#include "bn256/constants.h"
#include "bn256/cpu.h"
#include "crypto/crypto.h"
#include "crypto/sym.h"

namespace {

// The library's start-up steps, in the library's order.
class StartupEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        crypto::init();
        bn256::detectCpuFeatures();
        bn256::init();
        sym::init();
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new StartupEnvironment);
    return RUN_ALL_TESTS();
}
