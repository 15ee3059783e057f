// Curve constants built at start-up.
#pragma once

namespace bn256 {

// Builds the module-level constants; third step of the start-up.
void init();

}  // namespace bn256
