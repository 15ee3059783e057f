// Runs the processor-feature detection and the curve constants' start-up once,
// as the library does at load, before any test of the pairing library.
#include <gtest/gtest.h>

#include "bn256/constants.h"
#include "bn256/cpu.h"

namespace {

class Bn256Environment : public ::testing::Environment {
public:
    void SetUp() override {
        bn256::detectCpuFeatures();
        bn256::init();
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new Bn256Environment);
    return RUN_ALL_TESTS();
}
