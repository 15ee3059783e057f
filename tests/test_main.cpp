// The main of the unit tests that need the library's start-up (the algorithm
// tables, the processor features, the curve constants, the symmetric key
// errors): GoogleTest's, with hibe_c::RunStartup run once before any test, so
// that every test meets the library as the exported functions do, in the
// library's own order of steps.
#include <gtest/gtest.h>

#include "hibe_c/startup.h"

namespace {

class LibraryStartup final : public ::testing::Environment {
public:
    void SetUp() override { hibe_c::RunStartup(); }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new LibraryStartup);
    return RUN_ALL_TESTS();
}
