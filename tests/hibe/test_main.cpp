// Runs the pairing library's start-up once before any test of the scheme.
#include <gtest/gtest.h>

#include "bn256/constants.h"
#include "bn256/cpu.h"

namespace {

class PairingStartup : public ::testing::Environment {
public:
    void SetUp() override {
        bn256::detectCpuFeatures();
        bn256::init();
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new PairingStartup);
    return RUN_ALL_TESTS();
}
