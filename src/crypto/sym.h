// The symmetric key factory.
#pragma once

namespace sym {

// Creates the two key-length errors of the factory; last step of the start-up.
void init();

}  // namespace sym
