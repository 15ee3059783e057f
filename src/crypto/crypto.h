// Algorithm numbers and their name tables.
#pragma once

namespace crypto {

// Fills the algorithm-name tables; first step of the library's start-up.
void init();

}  // namespace crypto
