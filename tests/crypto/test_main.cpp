// Runs the crypto tests after the two start-up steps of this subsystem.
#include <gtest/gtest.h>

#include "crypto/crypto.h"
#include "crypto/sym.h"

namespace {

class CryptoStartup : public ::testing::Environment {
public:
    void SetUp() override {
        crypto::init();
        sym::init();
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new CryptoStartup);
    return RUN_ALL_TESTS();
}
