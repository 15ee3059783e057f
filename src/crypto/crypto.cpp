#include "crypto/crypto.h"

namespace crypto {

void init() {}

}  // namespace crypto
